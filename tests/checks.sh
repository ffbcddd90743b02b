# shellcheck shell=bash
# Sourced by the shell tests: the tally of a test's checks, each printed as "ok" or
# "FAIL" with what it checked, and "N passed, N failed" at the end.

passes=0
failures=0

pass() { passes=$((passes + 1)); echo "ok   $1"; }
fail() { failures=$((failures + 1)); echo "FAIL $1"; }

# same WHAT GOT WANT
same() {
    if [[ $2 == "$3" ]]; then
        pass "$1"
    else
        fail "$1"
        printf '       got:  %q\n       want: %q\n' "$2" "$3"
    fi
}

# same_file WHAT FILE WANT_FILE: byte-for-byte comparison.
same_file() {
    if cmp -s "$2" "$3"; then
        pass "$1"
    else
        fail "$1"
        diff -u "$3" "$2" | sed 's/^/       /' | head -n 40 || true
    fi
}

# Prints the closing tally; fails when any check failed.
finish() {
    echo "$passes passed, $failures failed"
    ((failures == 0))
}

# cannot_boot WHAT LOG: WHAT (a throwaway host, a fleet) could not be booted, the last
# line of LOG says why: the test is skipped with status 77, or fails under CI=true.
cannot_boot() {
    local why
    why=$(tail -n1 "$2")
    if [[ ${CI:-} == true ]]; then
        cat "$2"
        echo "FAIL: cannot boot $1: $why"
        exit 1
    fi
    echo "SKIP: cannot boot $1: $why"
    exit 77
}
