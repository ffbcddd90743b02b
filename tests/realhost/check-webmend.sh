#!/usr/bin/env bash
# webmend --restart-web-hosting against the real php8.2-fpm, apache2 and nginx
# of the host, with the registry stand-in listing what is installed, listing
# one unit more that does not exist, or failing.  Running services must really
# be restarted and still serve; a stopped one must stay stopped.
#   check-webmend.sh PATH_OF_THE_DEB (the hostmend package, installed in the host)
set -euo pipefail
# shellcheck source=testlib.sh
source "$(dirname "$0")/testlib.sh"

boot_host "webmend-$$" "$1"
services=(php8.2-fpm apache2 nginx)

# set_registry installed|KNOB=VALUE: how the interpbook stand-in behaves: list
# what is installed, or with one of the knobs of its header set.
set_registry() {
    in_host rm -rf /run/interpbook
    in_host mkdir -p /run/interpbook
    if [[ $1 == *=* ]]; then
        printf '%s\n' "${1#*=}" | in_host tee "/run/interpbook/${1%%=*}" >/dev/null
    fi
}

# The JSON-escaped message of "systemctl try-restart UNIT" that exited with EXIT.
try_restart_message() {
    case $2 in
        0) ;;
        5) printf '\\nFailed to try-restart %s.service: Unit %s.service not found.\\n' "$1" "$1" ;;
        *) echo "no known message for exit $2" >&2; return 1 ;;
    esac
}

# expected_array UNIT:EXIT...: the indented array of reports, as webmend prints it.
expected_array() {
    local item unit exit status suffix sep=""
    printf '['
    for item; do
        unit=${item%:*} exit=${item##*:} status=running suffix=""
        if [[ $exit != 0 ]]; then
            status=stopped
            suffix="\\nFinished with exit code $exit"
        fi
        printf '%s\n  {\n    "message": "%s%s",\n    "name": "%s",\n    "status": "%s"\n  }' \
            "$sep" "$(try_restart_message "$unit" "$exit")" "$suffix" "$unit" "$status"
        sep=,
    done
    printf '\n]\n'
}

main_pid() { in_host systemctl show -P MainPID "$1"; }

# HTTP status of a page served inside the host ("000": nothing answered).
http_code() { in_host curl -s -m 5 -o /dev/null -w '%{http_code}' "http://127.0.0.1:$1/" || true; }

# try-restart leaves a stopped unit stopped and exits with 0, so the report of
# a stopped nginx says "running"; an unknown unit makes it exit with 5.  The
# stderr column is a printf format.
# registry             nginx    reports (unit:systemctl exit)        stderr
rows=(
    "installed|running|php8.2-fpm:0 apache2:0 nginx:0|"
    "installed|stopped|php8.2-fpm:0 apache2:0 nginx:0|"
    "extra-fpm=php5.6-fpm|running|php8.2-fpm:0 php5.6-fpm:5 apache2:0 nginx:0|"
    "fail=1|running|apache2:0 nginx:0|interpbook: registry unavailable\nUnable to get php-fpm services list: interpbook failed with exit code 1\n"
)

declare -A before
for row in "${rows[@]}"; do
    IFS='|' read -r registry nginx reports stderr <<<"$row"
    what="registry $registry, nginx $nginx"
    set_registry "$registry"
    for unit in "${services[@]}"; do
        set_state "$unit" running
    done
    set_state nginx "$nginx"
    same "$what: nginx is $nginx before the run" "$(unit_state nginx)" "$nginx"
    for unit in "${services[@]}"; do
        before[$unit]=$(main_pid "$unit")
    done

    run_tool webmend --restart-web-hosting
    same "$what: exit status" "$rc" 0
    # shellcheck disable=SC2059  # the stderr column is a format
    printf "$stderr" >"$work/want-err"
    same_file "$what: stderr" "$work/err" "$work/want-err"
    read -ra items <<<"$reports"
    expected_array "${items[@]}" >"$work/want"
    same_file "$what: reports" "$work/out" "$work/want"

    # One entry per unit acted on, after the registry's failure; a failed
    # try-restart is a warning with systemctl's last line.
    entries=""
    if [[ $registry == fail=* ]]; then
        entries=$(printf 'registry-failed 4\nMESSAGE=%s%s\nHOSTMEND_ERROR=%s' \
            "Unable to get php-fpm services list: " "interpbook failed with exit code 1" \
            "interpbook failed with exit code 1")$'\n'
    fi
    for item in "${items[@]}"; do
        unit=${item%:*} exit=${item##*:}
        if [[ $exit == 0 ]]; then
            entries+=$(service_entry try-restart "$unit" "$unit.service" 0 running 6)$'\n'
        else
            entries+=$(service_entry try-restart "$unit" "$unit.service" "$exit" stopped 4 \
                "Failed to try-restart $unit.service: Unit $unit.service not found.")$'\n'
        fi
    done
    same_entries "$what: journal entries" webmend "${entries%$'\n'}"
    # journalctl -u shows the try-restart among nginx's own lines.
    id=$(last_run_id webmend)
    same "$what: journalctl -u nginx.service shows the try-restart" \
        "$(in_host journalctl -u nginx.service -o json | python3 -c '
import json, sys
for line in sys.stdin:
    entry = json.loads(line)
    if entry.get("HOSTMEND_RUN_ID") == sys.argv[1]:
        print(entry["MESSAGE"])' "$id")" "try-restart nginx: exit code 0, running"

    for unit in "${services[@]}"; do
        want=$nginx
        [[ $unit == nginx ]] || want=running
        same "$what: $unit afterwards" "$(unit_state "$unit")" "$want"
        pid=$(main_pid "$unit")
        if [[ $want != running ]]; then
            continue
        elif [[ " $reports " != *" $unit:"* ]]; then
            same "$what: $unit was left alone" "$pid" "${before[$unit]}"
        elif [[ $pid != 0 && $pid != "${before[$unit]}" ]]; then
            pass "$what: $unit was restarted"
        else
            fail "$what: $unit was restarted (main PID ${before[$unit]} before, $pid after)"
        fi
    done
    same "$what: apache2 serves on :8080" "$(http_code 8080)" 200
    if [[ $nginx == running ]]; then
        same "$what: nginx serves on :80" "$(http_code 80)" 200
    else
        same "$what: nothing serves on :80" "$(http_code 80)" 000
    fi
done

finish
