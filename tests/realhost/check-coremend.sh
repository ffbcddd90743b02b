#!/usr/bin/env bash
# coremend against the real tarnwick.service stand-in in each state that the
# engine unit can be in: the reports of --check and --repair, and whether the
# repair really brought the unit up.
#   check-coremend.sh PATH_OF_THE_DEB (the hostmend package, installed in the host)
set -euo pipefail
# shellcheck source=testlib.sh
source "$(dirname "$0")/testlib.sh"

boot_host "coremend-$$" "$1"
unit=tarnwick.service

# As an admin has it after installing the package: on the PATH, with its manual.
same "coremend is found on the PATH in /usr/sbin" "$(in_host sh -c 'command -v coremend')" /usr/sbin/coremend
same "man 8 coremend shows its NAME line" \
    "$(in_host sh -c 'man 8 coremend 2>&1' | grep -A1 '^NAME$' | tail -n 1)" \
    "       coremend - check or restart the engine service of the web-hosting panel"

# systemctl exits with 0 for status of a running unit, 3 for a stopped or
# failed one and 4 for an unknown one; restart of an unknown unit exits with 5.
# Messages are JSON-escaped; "=" marks an exact message (see check_report).
#        --check                              --repair     after the repair
# state  exit message                         exit message  state
rows=(
    "running|0|Active: active (running)|0|=|running"
    "stopped|3|Active: inactive (dead)|0|=|running"
    "failed|3|Active: failed (Result: signal)|0|=|running"
    "missing|4|=\nUnit $unit could not be found.\n|5|=\nFailed to restart $unit: Unit $unit not found.\n|missing"
)

# The journal as journalctl gives it back: the entry exact, and the catalog's
# explanation beside it with journalctl -x.
set_state "$unit" running
run_tool coremend --check
same_entries "running: --check's journal entry" coremend \
    "$(service_entry status "$unit" "$unit" 0 running 7)"
if in_host journalctl -x HOSTMEND_RUN_ID="$(last_run_id coremend)" |
    grep -F "ran \"systemctl status $unit\", which exited with" >/dev/null; then
    pass "journalctl -x shows the catalog's text of the entry"
else
    fail "journalctl -x shows the catalog's text of the entry"
fi

for row in "${rows[@]}"; do
    IFS='|' read -r state check_exit check_msg repair_exit repair_msg after <<<"$row"
    set_state "$unit" "$state"
    same "$state: unit is $state before the run" "$(unit_state "$unit")" "$state"

    run_tool coremend --check
    same "$state: --check exit status" "$rc" 0
    check_report "$state: --check" "$work/out" "$unit" "$check_exit" "$check_msg"
    same "$state: --check leaves the unit alone" "$(unit_state "$unit")" "$state"

    run_tool coremend --repair
    same "$state: --repair exit status" "$rc" 0
    check_report "$state: --repair" "$work/out" "$unit" "$repair_exit" "$repair_msg"
    same "$state: unit after --repair" "$(unit_state "$unit")" "$after"
done
# The last run was the repair of the missing unit.
same_entries "missing: --repair's journal entry" coremend \
    "$(service_entry restart "$unit" "$unit" 5 stopped 4 "Failed to restart $unit: Unit $unit not found.")"

finish
