# shellcheck shell=bash disable=SC2034  # rc is read by the test scripts
# Sourced by the check-*.sh scripts: boots the throwaway host for one test,
# runs commands and tools in it, and keeps the tally of the test's checks.

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=../checks.sh
source "$here/../checks.sh"
host=$here/host.sh
host_name=""
work=$(mktemp -d)
rc=0  # exit status of the last run_tool
version=""  # of the package installed

# boot_host NAME DEB: boots the host and installs the package DEB in it with
# dpkg, so that the tools run from /usr/sbin as an admin has them; the host
# goes down again when the test ends, however it ends.  A host that cannot be
# booted (not root, no network for the first build of its root filesystem,
# ...) skips the test with status 77, or fails it when CI=true.
boot_host() {
    host_name=$1
    local deb=$2
    shift 2
    trap '"$host" down "$host_name"; rm -rf "$work"' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM HUP
    "$host" up "$host_name" "$@" 2>"$work/up.log" || cannot_boot "the test host" "$work/up.log"
    cat "$work/up.log"
    in_host sh -c 'cat >/var/tmp/hostmend.deb && dpkg -i /var/tmp/hostmend.deb >/dev/null' <"$deb"
    version=$(dpkg-deb -f "$deb" Version)
}

in_host() { "$host" exec "$host_name" "$@"; }

# run_tool CMD [ARG]...: runs CMD in the host from a shell, as a panel or cron
# would (its journal entries name the shell as the caller); its output lands in
# $work/out and $work/err, its exit status in $rc.
run_tool() {
    local verdict
    rc=0
    in_host sh -c '"$@"; exit $?' sh "$@" >"$work/out" 2>"$work/err" || rc=$?
    # A JSON result must match its schema (validate.py knows which applies).
    if [[ -s $work/out ]]; then
        if verdict=$("$here/../schemas/validate.py" output "$1" "${*:2}" "$work/out"); then
            [[ -z $verdict ]] || pass "$*: output matches its JSON Schema"
        else
            fail "$*: output matches its JSON Schema"
            echo "$verdict" | sed 's/^/       /'
        fi
    fi
}

# The state of UNIT in the host: running, stopped, failed or missing.
unit_state() {
    local load active
    load=$(in_host systemctl show -P LoadState "$1")
    active=$(in_host systemctl show -P ActiveState "$1")
    case $load/$active in
        not-found/*) echo missing ;;
        */active) echo running ;;
        */failed) echo failed ;;
        */inactive) echo stopped ;;
        *) echo "$load/$active" ;;
    esac
}

# set_state UNIT STATE: puts UNIT into running, stopped, failed or missing.
# Clears the start rate limit first, since the tests restart units often.
set_state() {
    local unit=$1 i
    in_host systemctl reset-failed "$unit" 2>/dev/null || true
    case $2 in
        running) in_host systemctl start "$unit" ;;
        stopped) in_host systemctl stop "$unit" ;;
        failed)
            in_host systemctl start "$unit"
            in_host systemctl kill --signal=SIGKILL "$unit"
            for ((i = 0; i < 50; i++)); do
                in_host systemctl is-failed --quiet "$unit" && break
                sleep 0.1
            done
            ;;
        missing)
            in_host systemctl stop "$unit"
            in_host rm -f "/etc/systemd/system/$unit" "/etc/systemd/system/multi-user.target.wants/$unit"
            in_host systemctl daemon-reload
            ;;
        *) echo "set_state: unknown state $2" >&2; return 1 ;;
    esac
}

# check_report WHAT FILE UNIT EXIT MESSAGE: FILE must hold one compact service
# report for UNIT whose systemctl run exited with EXIT: status "running" for
# 0, "stopped" otherwise, and the message ending in the exit code suffix
# unless EXIT is 0.  MESSAGE is JSON-escaped; "=TEXT" means the message is
# exactly TEXT (plus that suffix), otherwise the message must contain it.
check_report() {
    local what=$1 file=$2 unit=$3 exit=$4 msg=$5 line status=running suffix="" end
    if [[ $exit != 0 ]]; then
        status=stopped
        suffix="\\nFinished with exit code $exit"
    fi
    end="$suffix\",\"name\":\"$unit\",\"status\":\"$status\"}"
    line=$(<"$file")
    same "$what: one line of output" "$(wc -l <"$file")" 1
    if [[ $msg == =* ]]; then
        same "$what: report" "$line" "{\"message\":\"${msg#=}$end"
    elif [[ $line == '{"message":"'*"$msg"*"$end" && ($exit != 0 || $line != *'Finished with exit code'*) ]]; then
        pass "$what: report"
    else
        fail "$what: report"
        printf '       got:  %q\n       want: {"message":"...%s...%s\n' "$line" "$msg" "$end"
    fi
}

# last_run_id TOOL: the HOSTMEND_RUN_ID of TOOL's last run, once the journal has
# written everything down.
last_run_id() {
    in_host journalctl --sync
    in_host journalctl SYSLOG_IDENTIFIER="$1" -n 1 -o json |
        python3 -c 'import json, sys; print(json.load(sys.stdin)["HOSTMEND_RUN_ID"])'
}

# same_entries WHAT TOOL WANT: the journal entries of TOOL's last run, as
# journal_entries.py writes them, must be WANT exactly (faults included).
same_entries() {
    local id
    id=$(last_run_id "$2")
    same "$1" "$(in_host journalctl HOSTMEND_RUN_ID="$id" -o json |
        "$here/journal_entries.py" "$2" "$version")" "$3"
}

# service_entry ACTION UNIT SYSTEMD_UNIT EXIT STATUS PRIORITY [ERROR]: the entry
# of one systemctl run, as journal_entries.py writes it.
service_entry() {
    printf 'service-action %s\nMESSAGE=%s %s: exit code %s, %s\n' "$6" "$1" "$2" "$4" "$5"
    printf 'HOSTMEND_ACTION=%s\nHOSTMEND_UNIT=%s\nOBJECT_SYSTEMD_UNIT=%s\n' "$1" "$2" "$3"
    printf 'HOSTMEND_EXIT_CODE=%s\nHOSTMEND_STATUS=%s\n' "$4" "$5"
    [[ -z ${7-} ]] || printf 'HOSTMEND_ERROR=%s\n' "$7"
}
