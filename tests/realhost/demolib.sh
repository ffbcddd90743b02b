# shellcheck shell=bash
# Sourced by the demonstrations (tests/realhost/demo.sh, tests/fleet/demo.sh).

# show HEADER CMD [ARG]...: runs CMD under a header line, then its exit status.
show() {
    local rc=0
    printf '\n=== %s\n' "$1"
    shift
    "$@" || rc=$?
    echo "(exit status $rc)"
}
