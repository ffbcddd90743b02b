#!/usr/bin/env bash
# sweepmend in the host: --check passes the hoststat stand-in's real disk
# report through byte for byte, with its stderr and exit status; --repair
# removes the host's real cache directories (apt's among them) and the panel's
# leftovers, and nothing else.
#   check-sweepmend.sh PATH_OF_THE_DEB (the hostmend package, installed in the host)
set -euo pipefail
# shellcheck source=testlib.sh
source "$(dirname "$0")/testlib.sh"

boot_host "sweepmend-$$" "$1"

# --check, with hoststat exiting with the given status ("-": no knob set).
# hoststat status  its stderr (printf format)
check_rows=(
    "-|"
    "3|hoststat: exiting with status 3 as asked\n"
    "0|hoststat: exiting with status 0 as asked\n"
)
for row in "${check_rows[@]}"; do
    IFS='|' read -r status stderr <<<"$row"
    what="--check, hoststat exit status $status"
    in_host rm -rf /run/hoststat
    if [[ $status != - ]]; then
        in_host mkdir -p /run/hoststat
        echo "$status" | in_host tee /run/hoststat/exit-status >/dev/null
    fi
    run_tool sweepmend --check
    in_host cat /run/hoststat/last-report >"$work/want" 2>/dev/null || true
    same "$what: exit status" "$rc" "${status/-/0}"
    same_file "$what: stdout is hoststat's report" "$work/out" "$work/want"
    # shellcheck disable=SC2059  # the stderr column is a format
    printf "$stderr" >"$work/want-err"
    same_file "$what: stderr" "$work/err" "$work/want-err"
    if grep -q '"mount":"/"' "$work/out"; then
        pass "$what: the report covers /"
    else
        fail "$what: the report covers /"
    fi
    same_entries "$what: journal entry" sweepmend "disk-report 7
MESSAGE=disk report: hoststat exit code ${status/-/0}
HOSTMEND_EXIT_CODE=${status/-/0}"
done

# The entry of one location cleaned: the count of its entries and du's bytes
# (allocated blocks, each inode once) taken before the run, of the matches given.
cleaned_entry() {
    local location=$1 entries=0 bytes=0
    shift
    if in_host ls -d "$@" >/dev/null 2>&1; then
        entries=$(in_host find "$@" | wc -l)
        bytes=$(in_host du -scB1 "$@" | tail -n 1 | cut -f1)
    fi
    total_entries=$((total_entries + entries)) total_bytes=$((total_bytes + bytes))
    printf 'location-cleaned 6\nMESSAGE=cleaned %s: %s entries removed, %s bytes freed\n' \
        "$location" "$entries" "$bytes"
    printf 'HOSTMEND_ACTION=remove\nHOSTMEND_PATH=%s\n' "$location"
    printf 'HOSTMEND_ENTRIES_REMOVED=%s\nHOSTMEND_BYTES_FREED=%s\n' "$entries" "$bytes"
}

# The five locations' entries and the totals, from what is there now.
cleanup_entries() {
    total_entries=0 total_bytes=0
    cleaned_entry /root/veltrosin /root/veltrosin
    cleaned_entry /var/cache/veltrosin_installer /var/cache/veltrosin_installer
    cleaned_entry /usr/local/ovk/tmp /usr/local/ovk/tmp/a.log /usr/local/ovk/tmp/sess
    cleaned_entry /var/cache/apt /var/cache/apt
    cleaned_entry /var/cache/yum /var/cache/yum
    printf 'cleanup-finished 6\nMESSAGE=cleanup finished: %s entries removed, %s bytes freed, 0 matches left\n' \
        "$total_entries" "$total_bytes"
    printf 'HOSTMEND_ACTION=remove\nHOSTMEND_ENTRIES_REMOVED=%s\nHOSTMEND_BYTES_FREED=%s\n' \
        "$total_entries" "$total_bytes"
}

# --repair.  The apt cache is the host's own; the panel's locations are made
# here.  Dot names in the panel's tmp directory stay, and so does the directory.
leftovers() {
    in_host apt-cache gencaches >/dev/null
    in_host sh -e -c '
        mkdir -p /root/veltrosin/sub /var/cache/veltrosin_installer \
                 /usr/local/ovk/tmp/sess /var/cache/yum/base
        touch /root/veltrosin/sub/x /var/cache/veltrosin_installer/panel.tar \
              /usr/local/ovk/tmp/a.log /usr/local/ovk/tmp/sess/s1 \
              /usr/local/ovk/tmp/.keep /var/cache/yum/base/repomd.xml'
}
cleaned='"/root/veltrosin/","/var/cache/veltrosin_installer/","/usr/local/ovk/tmp/a.log","/usr/local/ovk/tmp/sess/","/var/cache/apt/","/var/cache/yum/"'
kept="/usr/local/ovk/tmp/.keep /var/cache/debconf /var/lib/apt/lists"
#  before the run  report
repair_rows=(
    "leftovers|{\"clean_paths\":[$cleaned]}"
    "nothing|null"
)
for row in "${repair_rows[@]}"; do
    IFS='|' read -r before report <<<"$row"
    what="--repair, $before there"
    if [[ $before == leftovers ]]; then
        leftovers
        same "$what: apt has a cache" "$(in_host sh -c 'ls /var/cache/apt/*.bin | wc -l')" 2
    fi
    cleanup_entries >"$work/want-entries"
    run_tool sweepmend --repair
    same_entries "$what: journal entries" sweepmend "$(<"$work/want-entries")"
    same "$what: exit status" "$rc" 0
    same "$what: nothing on stderr" "$(<"$work/err")" ""
    same "$what: report" "$(<"$work/out")" "$report"
    same "$what: one line of output" "$(wc -l <"$work/out")" 1
    gone="/root/veltrosin /var/cache/veltrosin_installer /usr/local/ovk/tmp/a.log
          /usr/local/ovk/tmp/sess /var/cache/apt /var/cache/yum"
    # shellcheck disable=SC2086  # word lists
    same "$what: removed" "$(in_host ls -d $gone 2>/dev/null || true)" ""
    # shellcheck disable=SC2086
    same "$what: kept" "$(in_host ls -d $kept | paste -sd' ')" "$kept"
done

finish
