#!/usr/bin/env bash
# hostmend against the real stack of the host: tarnwick.service, mariadb,
# php8.2-fpm, apache2 and nginx.  nginx killed with SIGKILL must show as failed
# (exit status 3), hostmend start nginx must bring it back with its journal
# entry, and an apache2 stopped and disabled on purpose is not down.
#   check-hostmend.sh PATH_OF_THE_DEB (the hostmend package, installed in the host)
set -euo pipefail
# shellcheck source=testlib.sh
source "$(dirname "$0")/testlib.sh"

boot_host "hostmend-$$" "$1"
stack=(tarnwick.service mariadb.service php8.2-fpm apache2 nginx)
in_host rm -rf /run/interpbook

same "hostmend is found on the PATH in /usr/sbin" "$(in_host sh -c 'command -v hostmend')" \
    /usr/sbin/hostmend

# units_as FIELD...: one line per unit of the last output of status --json:
# its name, then each FIELD ("-" when it has none).
units_as() {
    python3 -c '
import json, sys
for unit in json.load(open(sys.argv[1]))["units"]:
    print(unit["name"], *[unit.get(field, "-") for field in sys.argv[2:]])' "$work/out" "$@"
}

# expected_units STATE...: what units_as LoadState ActiveState prints when the
# units of the stack are in these states, in order.
expected_units() {
    local states=("$@") i
    for i in "${!stack[@]}"; do
        echo "${stack[$i]} loaded ${states[$i]}"
    done
}

for unit in "${stack[@]}"; do
    set_state "$unit" running
done
in_host systemctl enable --quiet apache2

# Everything up: status 0, every unit active, with its main process.
run_tool hostmend status --json
same "all running: exit status" "$rc" 0
same "all running: the units, in order" "$(units_as LoadState ActiveState)" \
    "$(expected_units active active active active active)"
same "all running: no problems" "$(python3 -c '
import json, sys; print(json.load(open(sys.argv[1]))["problems"])' "$work/out")" "[]"
pid=$(in_host systemctl show -P MainPID nginx)
same "all running: nginx's MainPID is systemd's" "$(units_as MainPID | tail -n 1)" "nginx $pid"
in_host journalctl --sync
same "status writes nothing to the journal" \
    "$(in_host journalctl SYSLOG_IDENTIFIER=hostmend -o cat | wc -l)" 0

# nginx killed: failed, status 3, in the table too.
set_state nginx failed
same "nginx killed with SIGKILL is failed" "$(unit_state nginx)" failed
run_tool hostmend status --json
same "nginx failed: exit status" "$rc" 3
same "nginx failed: the units" "$(units_as LoadState ActiveState)" \
    "$(expected_units active active active active failed)"
invocation=$(units_as InvocationID | tail -n 1)
run_tool hostmend status
same "nginx failed: the table's exit status" "$rc" 3
same "nginx failed: its row in the table" "$(awk '$3 == "nginx" { print $1, $2, $4, $5, $6 }' "$work/out")" \
    "web server failed failed enabled"

# A name other than the stack's is refused, without a call.
run_tool hostmend start nginx.service
same "start nginx.service: exit status" "$rc" 0
same "start nginx.service: nginx stays failed" "$(unit_state nginx)" failed
same_entries "start nginx.service: a name refused" hostmend "$(printf '%s\n' \
    "name-refused 4" "MESSAGE=refused nginx.service: not a unit of this server's hosting stack" \
    "HOSTMEND_ACTION=start" "HOSTMEND_UNIT=nginx.service" "OBJECT_SYSTEMD_UNIT=nginx.service" \
    "HOSTMEND_ERROR=Not started: not a unit of this server's hosting stack")"

# hostmend start nginx brings it back, and says so in the journal.
run_tool hostmend start nginx
same "start nginx: exit status" "$rc" 0
printf '[\n  {\n    "message": "",\n    "name": "nginx",\n    "status": "running"\n  }\n]\n' \
    >"$work/want"
same_file "start nginx: the report" "$work/out" "$work/want"
same "start nginx: nginx is running" "$(unit_state nginx)" running
same "start nginx: nginx serves on :80" \
    "$(in_host curl -s -m 5 -o /dev/null -w '%{http_code}' http://127.0.0.1:80/ || true)" 200
same_entries "start nginx: its journal entry" hostmend \
    "$(service_entry start nginx nginx.service 0 running 6)"
same "start nginx: journalctl -u nginx.service shows it" \
    "$(in_host journalctl -u nginx.service -o json | python3 -c '
import json, sys
for line in sys.stdin:
    entry = json.loads(line)
    if entry.get("HOSTMEND_RUN_ID") == sys.argv[1]:
        print(entry["MESSAGE"])' "$(last_run_id hostmend)")" "start nginx: exit code 0, running"
run_tool hostmend status --json
same "after the start: exit status" "$rc" 0
if [[ $(units_as InvocationID | tail -n 1) != "$invocation" ]]; then
    pass "after the start: nginx runs with a new InvocationID"
else
    fail "after the start: nginx runs with a new InvocationID"
fi

# apache2 stopped and disabled on purpose is not down; left enabled, it is.
in_host systemctl disable --quiet --now apache2
run_tool hostmend status --json
same "apache2 stopped and disabled: exit status" "$rc" 0
same "apache2 stopped and disabled: its unit" \
    "$(units_as ActiveState UnitFileState | grep '^apache2 ')" "apache2 inactive disabled"
in_host systemctl enable --quiet apache2
run_tool hostmend status --json
same "apache2 stopped but enabled: exit status" "$rc" 3
set_state apache2 running

finish
