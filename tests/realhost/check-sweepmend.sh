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
done

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
    run_tool sweepmend --repair
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
