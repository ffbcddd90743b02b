#!/usr/bin/env bash
# dbmend against the real MariaDB server of the host: it must pick
# mariadb.service, report the running and the stopped server, and a repair
# must bring the server back so that it answers queries again.
#   check-dbmend.sh PATH_OF_THE_DEB (the hostmend package, installed in the host)
set -euo pipefail
# shellcheck source=testlib.sh
source "$(dirname "$0")/testlib.sh"

boot_host "dbmend-$$" "$1"
unit=mariadb.service

# Debian starts the server on demand through mariadb.socket; a stopped server
# has its socket stopped too, or the next query would bring it back.
set_server() {
    if [[ $1 == stopped ]]; then
        in_host systemctl stop mariadb.socket
    fi
    set_state "$unit" "$1"
}

# What the server answers to "select 1" ("none" when it cannot be reached).
query() { in_host mariadb --connect-timeout=5 -N -e 'select 1' 2>/dev/null || echo none; }

# Messages are JSON-escaped; "=" marks an exact message (see check_report).
# state    word      exit  message                    after the run: state, query
rows=(
    "running|--check|0|Active: active (running)|running|1"
    "stopped|--check|3|Active: inactive (dead)|stopped|none"
    "stopped|--repair|0|=|running|1"
    "running|--repair|0|=|running|1"
)

for row in "${rows[@]}"; do
    IFS='|' read -r state word exit msg after answer <<<"$row"
    what="$state, $word"
    set_server "$state"
    same "$what: server is $state before the run" "$(unit_state "$unit")" "$state"

    run_tool dbmend "$word"
    same "$what: exit status" "$rc" 0
    same "$what: nothing on stderr" "$(<"$work/err")" ""
    check_report "$what" "$work/out" "$unit" "$exit" "$msg"
    same "$what: server afterwards" "$(unit_state "$unit")" "$after"
    same "$what: select 1 afterwards" "$(query)" "$answer"
    action=status priority=7 status=running
    [[ $word == --check ]] || action=restart priority=6
    [[ $exit == 0 ]] || status=stopped
    same_entries "$what: journal entry" dbmend \
        "$(service_entry "$action" "$unit" "$unit" "$exit" "$status" "$priority")"
done

finish
