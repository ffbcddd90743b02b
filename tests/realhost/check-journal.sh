#!/usr/bin/env bash
# The tools and a journald that is frozen (SIGSTOP) with its socket's queue
# filled first: every tool still finishes, well inside a hang guard of 30 s,
# with the output it gives while journald works, and its entries are dropped.
#   check-journal.sh PATH_OF_THE_DEB (the hostmend package, installed in the host)
set -euo pipefail
# shellcheck source=testlib.sh
source "$(dirname "$0")/testlib.sh"

boot_host "journal-$$" "$1"

# The same things for each cleanup to remove, so that a repair sends its entries.
leftovers() {
    in_host sh -e -c 'mkdir -p /root/veltrosin/sub /var/cache/apt &&
        touch /root/veltrosin/sub/x /var/cache/apt/pkgcache.bin'
}

# run_guarded NAME CMD [ARG]...: runs CMD as run_tool does, under the hang guard;
# its stdout, stderr and exit status land in $work/NAME.{out,err,rc}.
run_guarded() {
    local name=$1 status=0
    shift
    in_host timeout 30 sh -c '"$@"; exit $?' sh "$@" >"$work/$name.out" 2>"$work/$name.err" ||
        status=$?
    echo "$status" >"$work/$name.rc"
}

# The hostmend entries in the journal so far.
entry_count() {
    in_host journalctl --sync
    in_host journalctl HOSTMEND_VERSION="$version" -o json | wc -l
}

# Outputs that do not change from one run to the next: restarts of running
# units print nothing, and each cleanup finds the same leftovers.
# name      command
rows=(
    "coremend|coremend --repair"
    "dbmend|dbmend --repair"
    "webmend|webmend --restart-web-hosting"
    "sweepmend|sweepmend --repair"
)

for row in "${rows[@]}"; do
    IFS='|' read -r name command <<<"$row"
    leftovers
    # shellcheck disable=SC2086  # the command's words
    run_guarded "$name.working" $command
done
before=$(entry_count)

in_host systemctl kill --signal=SIGSTOP systemd-journald.service
# Each logger sends one entry, until the queue is full and the next one blocks.
# shellcheck disable=SC2016  # expanded by the host's shell
filled=$(in_host sh -c 'n=0
    while echo MESSAGE=filling | timeout 2 logger --journald; do
        n=$((n + 1)); [ "$n" -lt 20000 ] || break
    done; echo "$n"')
if ((filled > 0 && filled < 20000)); then
    pass "the journal socket's queue is full after $filled entries"
else
    fail "the journal socket's queue is full ($filled entries sent)"
fi

for row in "${rows[@]}"; do
    IFS='|' read -r name command <<<"$row"
    leftovers
    start=$SECONDS
    # shellcheck disable=SC2086
    run_guarded "$name.frozen" $command
    # The guard's status (124) would differ from the working run's.
    same "$command: finishes inside the hang guard (in $((SECONDS - start)) s)" \
        "$(<"$work/$name.frozen.rc")" "$(<"$work/$name.working.rc")"
    same_file "$command: stdout as with a working journal" "$work/$name.frozen.out" \
        "$work/$name.working.out"
    same_file "$command: stderr as with a working journal" "$work/$name.frozen.err" \
        "$work/$name.working.err"
done

in_host systemctl kill --signal=SIGCONT systemd-journald.service
same "the entries sent while journald was frozen were dropped" "$(entry_count)" "$before"

finish
