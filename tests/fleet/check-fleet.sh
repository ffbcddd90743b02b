#!/usr/bin/env bash
# The Ansible collection against a fleet of three throwaway hosts with a real systemd,
# reached over SSH, and a fourth that cannot be reached (fleet.sh):
#   healthy        everything running
#   db-stopped     the database stopped
#   engine-failed  the engine failed, and a cache to clean
#   unreachable    a loopback port where nothing listens; first in the inventory
# It deploys the package, checks the fleet, repairs it (in check mode first), starts the
# web units that crashed and the web server that hangs, and counts what each playbook run
# changed on each host from its recap. Then it breaks the hosts as
# servers break (a database whose restart fails, masked, still starting, stopped and
# disabled; a web server that cannot restart on the canary; a user without root) and
# checks what fleet_repair leaves alone, what it reports failed, and where it stops.
#   check-fleet.sh [PATH_OF_DEB]     (default: what scripts/package.sh builds)
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
fleet=$repo/tests/fleet/fleet.sh
# shellcheck source=../realhost/testlib.sh
source "$(dirname "$0")/../realhost/testlib.sh"

deb=$(realpath "${1:-$("$repo/scripts/package.sh" | tail -n1)}")
version=$(dpkg-deb --field "$deb" Version)
trap '"$fleet" down "$work"; rm -rf "$work"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

# A fleet too large for fs.inotify.max_user_instances, where the limit cannot be raised,
# fails before it boots anything, naming the limit. Each host needs 12 instances: the row
# asks for more hosts than the limit in force allows, however far this machine raised it.
mkdir "$work/large"
too_many=$(($(cat /proc/sys/fs/inotify/max_user_instances) / 12 + 1))
# shellcheck disable=SC2016  # expanded by the inner shell
same "fleet.sh up: a limit that cannot be raised" "$(unshare -m sh -c \
    'mount --bind -o ro /proc/sys /proc/sys && exec "$0" up "$1" $(seq -f "l%.0f" 1 "$2")' \
    "$fleet" "$work/large" "$too_many" 2>&1 | sed 's/[0-9][0-9]*/N/g')" \
    "fleet.sh: fs.inotify.max_user_instances is N and cannot be raised; N hosts need N (sysctl -w fs.inotify.max_user_instances=N)"

HOSTMEND_OWNER_PID=$$ "$fleet" up "$work" --unreachable unreachable \
    healthy db-stopped engine-failed 2>"$work/up.log" || cannot_boot "the fleet" "$work/up.log"
export ANSIBLE_CONFIG=$work/ansible.cfg
cd "$work"

# on ALIAS CMD [ARG]...: runs CMD in that host.
on() { "$host" exec "fleet$$-$1" "${@:2}"; }
reachable=(db-stopped engine-failed healthy)

# play PLAYBOOK [ARG]...: runs hostmend.panel.PLAYBOOK; its output lands in $work/play.log
# and its exit status in $rc.
play() {
    rc=0
    ansible-playbook "hostmend.panel.$1" "${@:2}" >"$work/play.log" 2>&1 || rc=$?
}

# What the last run changed on each host, from its recap: "host=N ...", or
# "host=unreachable" or "host=failed" for one that the run left for that reason.
changes() {
    awk '/^PLAY RECAP/ { recap = 1; next }
         recap && NF && $1 != "localhost" {
             split($0, f, /[ =]+/)
             for (i = 1; i < length(f); i++) n[f[i]] = f[i + 1]
             v = n["unreachable"] > 0 ? "unreachable" : n["failed"] > 0 ? "failed" : n["changed"]
             printf "%s%s=%s", sep, $1, v; sep = " "
         }' "$work/play.log"
}

# summary [FILE] [FIELD]: each host's engine and database cells, or FIELD (an expression
# over the row r), from the summary file.
summary() {
    /usr/bin/python3 - "${1:-hostmend-fleet-summary.json}" "${2:-r['engine'] + '/' + r['database']}" <<'EOF'
import json, sys
rows = json.load(open(sys.argv[1]))["hosts"]
print(" ".join("%s=%s" % (h, eval(sys.argv[2], {}, {"r": r})) for h, r in sorted(rows.items())))
EOF
}

# run_field EXPR: EXPR over the summary's run (run) and its counts (c).
run_field() {
    /usr/bin/python3 - "$1" <<'EOF'
import json, sys
run = json.load(open("hostmend-fleet-summary.json"))["run"]
print(eval(sys.argv[1], {}, {"run": run, "c": run["counts"]}))
EOF
}

# How many times the last run tried to reach the unreachable host.
tries() { grep -c '^fatal: \[unreachable\]: UNREACHABLE' "$work/play.log" || true; }

# The unit's systemd invocation in HOST, which a restart changes: "ALIAS UNIT".
invocation() { on "$1" systemctl show -P InvocationID "$2"; }

# The engine's and the database's states in each reachable host.
states() {
    local alias out=()
    for alias in "${reachable[@]}"; do
        host_name=fleet$$-$alias
        out+=("$alias=$(unit_state tarnwick.service)/$(unit_state mariadb.service)")
    done
    echo "${out[*]}"
}

# The database's state in the host ALIAS.
unit_state_of() { host_name=fleet$$-$1 unit_state mariadb.service; }

# The hosts start in their states.
on db-stopped systemctl stop mariadb.socket mariadb.service
host_name=fleet$$-engine-failed
set_state tarnwick.service failed
on engine-failed sh -c 'mkdir -p /root/veltrosin/old && touch /root/veltrosin/old/build.log'
same "states at the start" "$(states)" \
    "db-stopped=running/stopped engine-failed=failed/running healthy=running/running"

# Before the deploy, the check fails on every reachable host, and says why.
play fleet_check
same "check without the package: summary" "$(summary)" \
    "$(printf '%s=error: coremend is not installed (no /usr/sbin/coremend)/error: dbmend is not installed (no /usr/sbin/dbmend) ' \
        db-stopped engine-failed healthy)unreachable=unreachable/unreachable"

# Deploy: directory, copy, and the install with the installed file's checksum; then nothing
# more to do. A package manager holds dpkg's locks on one host for a while (as unattended-upgrades
# would): the install there waits for it. Another host has no python3-apt, and gets none.
on db-stopped dpkg --purge python3-apt >/dev/null
# hold_dpkg ALIAS SECONDS: holds dpkg's locks in the host until SECONDS after it has seen
# apt-get start, which must be waiting then; prints "locked" once it holds them, then
# whether an apt-get waited.
hold_dpkg() {
    on "$1" /usr/bin/python3 -c '
import fcntl, subprocess, sys, time
locks = [open("/var/lib/dpkg/" + name, "a") for name in ("lock-frontend", "lock")]
for lock in locks:
    fcntl.lockf(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
print("locked", flush=True)
runs = lambda: subprocess.run(["pgrep", "-x", "apt-get"], stdout=subprocess.DEVNULL).returncode == 0
deadline = time.monotonic() + 120
while not runs() and time.monotonic() < deadline:
    time.sleep(0.2)
time.sleep(int(sys.argv[1]))
print("apt-get waited" if runs() else "no apt-get waited")' "$2"
}
hold_dpkg healthy 2 >"$work/holder.log" &
holder=$!
until [[ -s $work/holder.log ]] || ! kill -0 "$holder" 2>/dev/null; do sleep 0.1; done
play deploy -e hostmend_deb="$deb"
same "deploy: exit status (one host unreachable)" "$rc" 4
same "deploy: changes" "$(changes)" \
    "db-stopped=3 engine-failed=3 healthy=3 unreachable=unreachable"
wait "$holder" || true
same "deploy: the lock was held and waited for" "$(tr '\n' ' ' <"$work/holder.log")" "locked apt-get waited "
same "deploy: no python3-apt installed" "$(on db-stopped dpkg-query -W -f "\${db:Status-Status}" python3-apt)" \
    not-installed
for alias in "${reachable[@]}"; do
    same "deploy: $alias has the package" \
        "$(on "$alias" dpkg-query -W -f "\${Status} " hostmend)$(on "$alias" sh -c 'ls /usr/sbin/*mend')" \
        "install ok installed /usr/sbin/coremend
/usr/sbin/dbmend
/usr/sbin/hostmend
/usr/sbin/sweepmend
/usr/sbin/webmend"
done
play deploy -e hostmend_deb="$deb"
same "deploy again: changes" "$(changes)" \
    "db-stopped=0 engine-failed=0 healthy=0 unreachable=unreachable"

# A package rebuilt at the same version (its coremend one byte longer) is installed; an
# older one only with hostmend_allow_downgrade; then the package again.
dpkg-deb -R "$deb" "$work/rebuilt"
echo >>"$work/rebuilt/usr/sbin/coremend"
dpkg-deb -b "$work/rebuilt" "$work/rebuilt.deb" >/dev/null
sed -i 's/^Version: .*/Version: 0.0.1/' "$work/rebuilt/DEBIAN/control"
dpkg-deb -b "$work/rebuilt" "$work/older.deb" >/dev/null
coremends() { for alias in "${reachable[@]}"; do on "$alias" sha256sum /usr/sbin/coremend; done | cut -c1-64 | uniq; }
play deploy -e hostmend_deb="$work/rebuilt.deb"
same "rebuilt: changes" "$(changes)" "db-stopped=2 engine-failed=2 healthy=2 unreachable=unreachable"
same "rebuilt: its coremend installed" "$(coremends)" "$(sha256sum "$work/rebuilt/usr/sbin/coremend" | cut -c1-64)"
play deploy -e hostmend_deb="$work/older.deb"
same "older: refused" "$(changes)" "db-stopped=failed engine-failed=failed healthy=failed unreachable=unreachable"
play deploy -e hostmend_deb="$work/older.deb" -e hostmend_allow_downgrade=true
same "older, downgrade allowed: the versions" "$(for alias in "${reachable[@]}"; do on "$alias" dpkg-query -W -f "\${Version} " hostmend; done)" \
    "0.0.1 0.0.1 0.0.1 "
play deploy -e hostmend_deb="$deb"
same "the package again: its coremend" "$(coremends)" "$(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/sbin/coremend | sha256sum | cut -c1-64)"

# Check: the summary names each host's states and changes nothing; the unreachable host
# is tried once, and it makes the run fail unless hostmend_fail_on leaves it out.
play fleet_check
same "check: exit status" "$rc" 2
same "check: the unreachable host fails" "$(changes)" \
    "db-stopped=0 engine-failed=0 healthy=0 unreachable=failed"
same "check: unreachable tried once" "$(tries)" 1
same "check: summary" "$(summary)" \
    "db-stopped=running/stopped engine-failed=failed/running healthy=running/running unreachable=unreachable/unreachable"
same "check: versions" "$(summary "" "r['version']")" \
    "$(printf '%s=%s ' db-stopped "$version" engine-failed "$version" healthy "$version")unreachable=unknown"
same "check: the run" "$(run_field "run['playbook'], run['check_mode'], run['start'] <= run['end'], c")" \
    "('hostmend.panel.fleet_check', False, True, {'error': 0, 'hosts': 4, 'not_reached': 0, 'repair': 0, 'repaired': 0, 'unreachable': 1})"
same "check: disk reports" "$(summary "" "type(r['disk']).__name__ + ':' + str(r['disk'] if isinstance(r['disk'], str) else r['disk'][0]['mount'])")" \
    "db-stopped=list:/ engine-failed=list:/ healthy=list:/ unreachable=str:unreachable"
table=$(grep -E '^ +"(host|db-stopped|engine-failed|healthy|unreachable) ' "$work/play.log" | tr -s ' ' | tr -d '",')
same "check: the table" "$table" " host engine database web
 db-stopped running stopped running
 engine-failed failed running running
 healthy running running running
 unreachable unreachable unreachable unreachable"
play fleet_check -e '{"hostmend_fail_on": ["error", "repair"]}'
same "check, unreachable let through: exit status" "$rc" 0

# Repair in check mode predicts the two restarts and makes none; the summary goes where
# the variable says, and says it was a check.
play fleet_repair --check -e hostmend_summary="$work/predicted.json"
same "repair --check: changes" "$(changes)" "db-stopped=1 engine-failed=1 healthy=0 unreachable=failed"
same "repair --check: summary" "$(summary predicted.json "r['repaired']")" \
    "db-stopped=['database'] engine-failed=['engine'] healthy=[] unreachable=[]"
same "repair --check: the run says so" "$(grep -c '"check_mode": true' predicted.json)" 1
same "repair --check: states unchanged" "$(states)" \
    "db-stopped=running/stopped engine-failed=failed/running healthy=running/running"

# Repair restarts exactly what was down, on the hosts where something was: a canary batch
# of the first of them, then batches of one host each; the unreachable host is tried once,
# by the check.
play fleet_repair -e hostmend_batch=1
same "repair: exit status" "$rc" 2
same "repair: batches" "$(grep -c '^PLAY \[Repair what is down' "$work/play.log")" 2
same "repair: canary" "$(grep -m1 -A3 '^PLAY \[Repair what is down' "$work/play.log" | grep -m1 -o '\[db-stopped\]')" "[db-stopped]"
same "repair: unreachable tried once" "$(tries)" 1
same "repair: changes" "$(changes)" "db-stopped=1 engine-failed=1 healthy=0 unreachable=failed"
same "repair: states" "$(states)" \
    "db-stopped=running/running engine-failed=running/running healthy=running/running"
same "repair: summary" "$(summary "" "r['engine'] + '/' + r['database'] + str(r['repaired'])")" \
    "db-stopped=running/running['database'] engine-failed=running/running['engine'] healthy=running/running[] unreachable=unreachable/unreachable[]"

play fleet_repair
same "repair again: changes" "$(changes)" "db-stopped=0 engine-failed=0 healthy=0 unreachable=failed"

# The web hosting stack: php8.2-fpm and nginx killed on one host, apache2 stopped and
# disabled on purpose on another. The check shows them, and its exit status does not
# change for them; the repair starts the two that failed (with hostmend start, in the
# journal), leaves apache2 alone and touches no unit of the healthy host.
host_name=fleet$$-engine-failed
set_state php8.2-fpm.service failed
set_state nginx.service failed
on db-stopped systemctl disable --quiet --now apache2.service
web_units=(php8.2-fpm.service apache2.service nginx.service)
invocations() { for unit in "${web_units[@]}"; do invocation "$1" "$unit"; done | tr '\n' ' '; }
healthy_web=$(invocations healthy)
web_cells="sorted(r['web'].items()) if isinstance(r['web'], dict) else r['web']"
play fleet_check -e '{"hostmend_fail_on": ["error", "repair"]}'
same "web down: check exit status" "$rc" 0
same "web down: check cells" "$(summary "" "$web_cells")" \
    "db-stopped=[('apache2', 'disabled'), ('nginx', 'running'), ('php8.2-fpm', 'running')] engine-failed=[('apache2', 'running'), ('nginx', 'failed'), ('php8.2-fpm', 'failed')] healthy=[('apache2', 'running'), ('nginx', 'running'), ('php8.2-fpm', 'running')] unreachable=unreachable"
table=$(grep -E '^ +"(host|db-stopped|engine-failed|healthy|unreachable) ' "$work/play.log" | tr -s ' ' | tr -d '",')
same "web down: the table" "$table" " host engine database web
 db-stopped running running running
 engine-failed running running php8.2-fpm failed
 healthy running running running
 unreachable unreachable unreachable unreachable"
sleep 1
web_since=@$(date +%s)
play fleet_repair
same "web down: repair exit status (one host unreachable)" "$rc" 2
same "web down: repair changes" "$(changes)" "db-stopped=0 engine-failed=1 healthy=0 unreachable=failed"
same "web down: repaired" "$(summary "" "r['repaired']")" \
    "db-stopped=[] engine-failed=['web: php8.2-fpm', 'web: nginx'] healthy=[] unreachable=[]"
same "web down: cells after the repair" "$(summary "" "$web_cells")" \
    "db-stopped=[('apache2', 'disabled'), ('nginx', 'running'), ('php8.2-fpm', 'running')] engine-failed=[('apache2', 'running'), ('nginx', 'running'), ('php8.2-fpm', 'running')] healthy=[('apache2', 'running'), ('nginx', 'running'), ('php8.2-fpm', 'running')] unreachable=unreachable"
same "web down: started" "$(unit_state php8.2-fpm.service)/$(unit_state nginx.service)" running/running
same "web down: the starts in the journal" \
    "$(on engine-failed journalctl --quiet HOSTMEND_TOOL=hostmend HOSTMEND_ACTION=start --since="$web_since" --output=cat \
        --output-fields=OBJECT_SYSTEMD_UNIT | sort | tr '\n' ' ')" "nginx.service php8.2-fpm.service "
same "web down: the healthy host's units kept their invocations" "$(invocations healthy)" "$healthy_web"
same "web down: apache2 stopped and disabled stays so" \
    "$(on db-stopped systemctl show -P ActiveState apache2.service) $(on db-stopped systemctl is-enabled apache2.service || true)" \
    "inactive disabled"
on db-stopped systemctl enable --quiet --now apache2.service

# nginx runs but does not answer (its processes stopped): the check shows it, with its
# probe among the warnings; the repair looks again, restarts it with hostmend restart and
# it answers; the healthy host is untouched. Stopped again and repaired again at once, it
# is flapping: not restarted, and the run fails for it.
on engine-failed systemctl kill -s STOP nginx.service
hung=$(invocation engine-failed nginx.service)
healthy_web=$(invocations healthy)
nginx_cell="r['web']['nginx'] if isinstance(r['web'], dict) else r['web']"
play fleet_check -e '{"hostmend_fail_on": ["error", "repair"]}'
same "hung nginx: check exit status" "$rc" 0
same "hung nginx: check cells" "$(summary "" "$nginx_cell")" \
    "db-stopped=running engine-failed=not answering healthy=running unreachable=unreachable"
same "hung nginx: its probe among the warnings" \
    "$(summary "" "any(w.startswith('hostmend status --json: nginx ') and w.endswith(': no answer') for w in r['warnings'])")" \
    "db-stopped=False engine-failed=True healthy=False unreachable=False"
play fleet_repair
same "hung nginx: repair exit status (one host unreachable)" "$rc" 2
same "hung nginx: repaired" "$(summary "" "r['repaired'], $nginx_cell")" \
    "db-stopped=([], 'running') engine-failed=(['web: nginx'], 'running') healthy=([], 'running') unreachable=([], 'unreachable')"
same "hung nginx: restarted" "$([[ $(invocation engine-failed nginx.service) != "$hung" ]] && echo yes)" yes
same "hung nginx: answers afterwards" "$(on engine-failed /usr/sbin/hostmend status >/dev/null && echo yes)" yes
same "hung nginx: the healthy host's units kept their invocations" "$(invocations healthy)" "$healthy_web"
on engine-failed systemctl kill -s STOP nginx.service
hung=$(invocation engine-failed nginx.service)
play fleet_repair
same "flapping nginx: exit status" "$rc/$(changes)" "2/db-stopped=0 engine-failed=failed healthy=0 unreachable=failed"
same "flapping nginx: cell" "$(summary "" "r['repaired'], $nginx_cell")" \
    "db-stopped=([], 'running') engine-failed=([], 'flapping') healthy=([], 'running') unreachable=([], 'unreachable')"
same "flapping nginx: why" "$(summary "" "r['failures'].get('unanswering')" | grep -c 'restarted it within the last 3600 s')" 1
same "flapping nginx: not restarted" "$(invocation engine-failed nginx.service)" "$hung"
on engine-failed systemctl kill -s CONT nginx.service

# The web hosting stack and the caches, when asked. The history below starts here.
sleep 1
history_since=@$(date +%s)
play fleet_repair -e hostmend_restart_web=true -e hostmend_clean_caches=true
same "web and cleanup: changes" "$(changes)" "db-stopped=2 engine-failed=2 healthy=2 unreachable=failed"
same "web and cleanup: unreachable tried once" "$(tries)" 1
same "web and cleanup: removed" "$(summary "" "r['clean_paths']")" \
    "db-stopped=['/var/cache/apt/'] engine-failed=['/root/veltrosin/', '/var/cache/apt/'] healthy=['/var/cache/apt/'] unreachable=unreachable"
same "web and cleanup: web cells" "$(summary "" "r['web']")" \
    "$(printf "%s={'apache2': 'running', 'nginx': 'running', 'php8.2-fpm': 'running'} " db-stopped engine-failed healthy)unreachable=unreachable"

# What that run left in each server's journal, gathered: its restarts with their caller
# (Ansible's Python), its cleanup with the bytes freed; the status checks are left out. The
# unreachable host fails the run.
play fleet_history -e hostmend_since="$history_since"
same "history: exit status" "$rc" 2
same "history: the unreachable host fails" "$(changes)" "db-stopped=0 engine-failed=0 healthy=0 unreachable=failed"
same "history: restarts" \
    "$(summary hostmend-fleet-history.json "r['restarts'] if isinstance(r['restarts'], str) else ' '.join(x['unit'] + ':' + x['outcome'] + ':' + x['caller'].split('[')[0] for x in r['restarts'])")" \
    "$(printf '%s=php8.2-fpm:running:python3 apache2:running:python3 nginx:running:python3 ' db-stopped engine-failed healthy)unreachable=unreachable"
same "history: cleanups" \
    "$(summary hostmend-fleet-history.json "r['cleanups'] if isinstance(r['cleanups'], str) else [c['bytes_freed'] > 0 for c in r['cleanups']]")" \
    "db-stopped=[True] engine-failed=[True] healthy=[True] unreachable=unreachable"
same "history: the run" \
    "$(/usr/bin/python3 -c 'import json; r = json.load(open("hostmend-fleet-history.json"))["run"]; c = r["counts"]; print(r["playbook"], r["since"], c["hosts"], c["unreachable"], c["restarts"], c["cleanups"])')" \
    "hostmend.panel.fleet_history $history_since 4 1 9 3"

# Two deploys of different files that cross, while a package manager holds dpkg's locks on
# every host: the first one's copies land, and its controller stalls (SIGSTOP) as soon as its
# next task has begun, so that the second deploy, of the file installed already, runs whole
# in between; then the first goes on. On every host the file recorded is the one installed,
# and a later deploy of either file does what its checksum says: nothing where it is the
# one recorded, an install elsewhere. The install after the others removes every copy but
# its own (with a short lock timeout, so that theirs are old enough to go).
sum_of() { sha256sum <"$1" | cut -c1-64; }
declare -A deb_name=(["x$(sum_of "$deb")"]=deb ["x$(sum_of "$work/rebuilt.deb")"]=rebuilt
    ["x$(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/sbin/coremend | sha256sum | cut -c1-64)"]=deb
    ["x$(sum_of "$work/rebuilt/usr/sbin/coremend")"]=rebuilt)
# Per reachable host, the file that its recorded checksum names / whose coremend is installed.
deployed() {
    local alias recorded installed out=()
    for alias in "${reachable[@]}"; do
        recorded=$(on "$alias" cat /var/lib/hostmend-deploy/installed.sha256 || true)
        installed=$(on "$alias" sha256sum /usr/sbin/coremend | cut -c1-64)
        out+=("$alias=${deb_name[x$recorded]:-other}/${deb_name[x$installed]:-other}")
    done
    echo "${out[*]}"
}
holders=()
for alias in "${reachable[@]}"; do
    hold_dpkg "$alias" 10 >"$work/holder-$alias.log" &
    holders+=($!)
done
for ((i = 0; i < 100; i++)); do
    (($(cat "$work"/holder-*.log 2>/dev/null | grep -c locked) < ${#reachable[@]})) || break
    sleep 0.1
done
ansible-playbook hostmend.panel.deploy -e hostmend_deb="$work/rebuilt.deb" >"$work/deploy-a.log" 2>&1 &
crossing=$!
past_copy='/^TASK \[/ && copied { past = 1; exit } /^TASK \[.*: Copy the package file/ { copied = 1 } END { exit !past }'
while kill -0 "$crossing" 2>/dev/null && ! awk "$past_copy" "$work/deploy-a.log"; do sleep 0.05; done
kill -STOP "$crossing" 2>/dev/null || true
play deploy -e hostmend_deb="$deb"
kill -CONT "$crossing" 2>/dev/null || true
crossing_rc=0
wait "$crossing" || crossing_rc=$?
wait "${holders[@]}" || true
same "crossing deploys: exit statuses (one host unreachable)" "$crossing_rc $rc" "4 4"
crossed=$(deployed)
same "crossing deploys: recorded/installed" "$crossed" "$(sed -E 's#=([a-z]+)/[a-z]+#=\1/\1#g' <<<"$crossed")"
play deploy -e hostmend_deb="$work/rebuilt.deb"
same "crossing deploys, then the rebuilt file: changes" "$(changes)" \
    "$(sed -E 's#=deb/[a-z]+#=1#g; s#=rebuilt/[a-z]+#=0#g' <<<"$crossed") unreachable=unreachable"
same "crossing deploys, then the rebuilt file: recorded/installed" "$(deployed)" \
    "db-stopped=rebuilt/rebuilt engine-failed=rebuilt/rebuilt healthy=rebuilt/rebuilt"
play deploy -e hostmend_deb="$deb" -e hostmend_lock_timeout=2
same "crossing deploys, then the package: recorded/installed" "$(deployed)" \
    "db-stopped=deb/deb engine-failed=deb/deb healthy=deb/deb"
same "crossing deploys, then the package: the copies left" "$(on healthy ls /var/lib/hostmend-deploy | sort | tr '\n' ' ')" \
    "$(printf '%s\n' "$(sum_of "$deb").deb" deploy.lock installed.sha256 | sort | tr '\n' ' ')"

# An entry sent while journald was stopped for half a minute is listed at the time it was
# sent, not when journald took it.
journald=$(on healthy systemctl show -P MainPID systemd-journald.service)
on healthy kill -STOP "$journald"
# coremend sends its entry as it ends.
on healthy coremend --repair >/dev/null || true
sent=$(date +%s)
sleep 30
on healthy kill -CONT "$journald"
on healthy journalctl --sync
play fleet_history --limit healthy -e hostmend_since="@$((sent - 5))"
same "frozen journald: the restart listed at its sending time" "$(summary hostmend-fleet-history.json \
    "[abs(__import__('calendar').timegm(__import__('time').strptime(x['time'], '%Y-%m-%dT%H:%M:%SZ')) - $sent) <= 2 for x in r['restarts'] if x['unit'] == 'tarnwick.service']")" \
    "healthy=[True]"

# The README's history command, run as it is written there, against the README's
# inventory file: every reachable host's history since its time, and the unreachable host
# fails the run; then with hostmend_fail_on naming only error, and with a time that
# journalctl cannot read.
readme_history=$(grep -m1 -E '^ +ansible-playbook -i inventory hostmend\.panel\.fleet_history ' "$repo/README.md")
ln -sf inventory.ini "$work/inventory"
rc=0
eval "$readme_history" >"$work/play.log" 2>&1 || rc=$?
same "README's history command: exit status" "$rc" 2
same "README's history command: the unreachable host fails" "$(changes)" \
    "db-stopped=0 engine-failed=0 healthy=0 unreachable=failed"
same "README's history command: read since" "$(summary hostmend-fleet-history.json \
    "type(r['restarts']).__name__")$(grep -o '"since": "[^"]*"' hostmend-fleet-history.json)" \
    "db-stopped=list engine-failed=list healthy=list unreachable=str\"since\": \"7 days ago\""
play fleet_history -e '{"hostmend_fail_on": ["error"]}'
same "history, unreachable let through: exit status" "$rc" 0
play fleet_history -e hostmend_since=7 -e '{"hostmend_fail_on": ["error"]}'
same "history, a time journalctl cannot read: the hosts fail" "$rc/$(changes)" \
    "2/db-stopped=failed engine-failed=failed healthy=failed unreachable=1"
same "history, a time journalctl cannot read: cells" "$(summary hostmend-fleet-history.json "r['restarts']")" \
    "$(printf '%s=error: Failed to parse timestamp: 7 ' db-stopped engine-failed healthy)unreachable=unreachable"

# A database whose restart fails, a masked one and one still starting: the first fails its
# repair and the run, the others are left alone, the one starting not even restarted.
on db-stopped sh -c 'mkdir -p /etc/systemd/system/mariadb.service.d &&
    printf "[Service]\nExecStartPre=/bin/false\n" >/etc/systemd/system/mariadb.service.d/broken.conf &&
    systemctl daemon-reload && systemctl stop mariadb.socket mariadb.service'
on engine-failed sh -c 'systemctl stop mariadb.socket mariadb.service && systemctl mask --quiet mariadb.service'
on healthy sh -c 'mkdir -p /etc/systemd/system/mariadb.service.d &&
    printf "[Service]\nExecStartPre=/bin/sleep 900\n" >/etc/systemd/system/mariadb.service.d/slow.conf &&
    systemctl daemon-reload && systemctl stop mariadb.socket mariadb.service &&
    systemctl start --no-block mariadb.service'
starting=$(invocation healthy mariadb.service)
play fleet_repair -e hostmend_repair_disabled=true
same "broken databases: exit status" "$rc" 2
same "broken databases: changes" "$(changes)" "db-stopped=failed engine-failed=0 healthy=0 unreachable=failed"
same "broken databases: cells" "$(summary "" "r['database'] + str(r['repaired'])")" \
    "db-stopped=failed[] engine-failed=masked[] healthy=activating[] unreachable=unreachable[]"
same "broken databases: why" "$(summary "" "r['failures']")" \
    "db-stopped={'database': 'mariadb.service did not start: See \"systemctl status mariadb.service\" and \"journalctl -xeu mariadb.service\" for details. (Finished with exit code 1)'} engine-failed={} healthy={} unreachable={}"
same "broken databases: counts" "$(run_field "c['repair'], c['error'], c['unreachable']")" "(1, 0, 1)"
same "broken databases: the one starting was not restarted" "$(invocation healthy mariadb.service)" "$starting"
same "broken databases: the masked one still down" "$(on engine-failed systemctl show -P ActiveState mariadb.service)" inactive
on db-stopped sh -c 'rm -r /etc/systemd/system/mariadb.service.d && systemctl daemon-reload &&
    systemctl reset-failed mariadb.service && systemctl start mariadb.service'
on engine-failed sh -c 'systemctl unmask --quiet mariadb.service && systemctl start mariadb.service'
on healthy sh -c 'rm -r /etc/systemd/system/mariadb.service.d && systemctl daemon-reload &&
    systemctl stop mariadb.service && systemctl start mariadb.service'

# A database stopped and disabled is left alone, and started when asked.
on db-stopped sh -c 'systemctl disable --quiet mariadb.service && systemctl stop mariadb.socket mariadb.service'
play fleet_repair
same "disabled database: left alone" "$(summary "" "r['database'] + str(r['repaired'])")" \
    "db-stopped=disabled[] engine-failed=running[] healthy=running[] unreachable=unreachable[]"
same "disabled database: still down" "$(unit_state_of db-stopped)" stopped
play fleet_repair -e hostmend_repair_disabled=true
same "disabled database, repair asked: started" "$(summary "" "r['database'] + str(r['repaired'])")" \
    "db-stopped=running['database'] engine-failed=running[] healthy=running[] unreachable=unreachable[]"
on db-stopped systemctl enable --quiet mariadb.service

# A web server that cannot restart on the canary stops the rollout: no later host is
# touched, not even its stopped database, and the summary says they were not reached.
on healthy sh -c 'echo "server { listen 8081; no_such_directive; }" >/etc/nginx/conf.d/broken.conf'
on db-stopped systemctl stop mariadb.socket mariadb.service
before=$(invocation db-stopped nginx.service)/$(invocation engine-failed nginx.service)
play fleet_repair -e hostmend_restart_web=true -e hostmend_batch=1
same "broken canary: exit status" "$rc" 2
same "broken canary: changes" "$(changes)" "db-stopped=0 engine-failed=0 healthy=failed unreachable=failed"
same "broken canary: later hosts untouched" \
    "$(invocation db-stopped nginx.service)/$(invocation engine-failed nginx.service) $(unit_state_of db-stopped)" \
    "$before stopped"
same "broken canary: summary" "$(summary "" "r['engine'] + '/' + r['database'] + '/' + str(r['web'])")" \
    "db-stopped=not reached/not reached/not reached engine-failed=not reached/not reached/not reached healthy=running/running/{'apache2': 'running', 'nginx': 'failed', 'php8.2-fpm': 'running'} unreachable=unreachable/unreachable/unreachable"
same "broken canary: counts" "$(run_field "c['not_reached'], c['repair']")" "(2, 1)"
on healthy sh -c 'rm /etc/nginx/conf.d/broken.conf && systemctl start nginx.service'
on db-stopped systemctl start mariadb.service

# Without root and without become, the checks run and the repairs are refused.
on db-stopped sh -c 'useradd --create-home tester && mkdir ~tester/.ssh &&
    cp /root/.ssh/authorized_keys ~tester/.ssh/ && chown -R tester: ~tester/.ssh &&
    systemctl stop mariadb.socket mariadb.service'
play fleet_repair --limit db-stopped -e ansible_user=tester
same "not root: exit status" "$rc" 2
same "not root: refused" "$(summary "" "r['engine'] + ' ' + r['failures']['database']")" \
    "db-stopped=running hostmend start changes the server and needs root: run the task as root, with become: true"
same "not root: still down" "$(unit_state_of db-stopped)" stopped
on db-stopped systemctl start mariadb.service

# Two repairs started together against a stopped database: both start it, and systemd
# runs one start, which the other joins; neither kills it, both list the database and
# neither reports a failure.
on db-stopped systemctl stop mariadb.socket mariadb.service
# From the next second on: the journal's --since counts whole seconds.
sleep 1
since=@$(date +%s)
first_rc=0 second_rc=0
ansible-playbook hostmend.panel.fleet_repair --limit db-stopped -e hostmend_summary="$work/first.json" \
    >"$work/first.log" 2>&1 &
first=$!
ansible-playbook hostmend.panel.fleet_repair --limit db-stopped -e hostmend_summary="$work/second.json" \
    >"$work/second.log" 2>&1 || second_rc=$?
wait "$first" || first_rc=$?
same "two repairs together: exit statuses" "$first_rc $second_rc" "0 0"
same "two repairs together: both list the database, neither failed" \
    "$(summary first.json "r['repaired'], r['failures']") $(summary second.json "r['repaired'], r['failures']")" \
    "db-stopped=(['database'], {}) db-stopped=(['database'], {})"
# systemd's own messages about the unit, without its description: one start, and nothing
# stopped, killed or failed. A restart taken into a start in progress stops the unit first:
# its SIGTERM kills a start part-way, or waits out the stop timeout (15 min) where the
# starting mariadbd does not act on it, and the start that follows is the only "Started".
same "two repairs together: one start, none stopped or killed" \
    "$(on db-stopped journalctl --quiet _PID=1 UNIT=mariadb.service --since="$since" --output=cat |
        sed 's/ - .*//' | tr '\n' ' ')" "Starting mariadb.service Started mariadb.service "

# A database started by hand after the check, before the repair that the check decided:
# the repair's start leaves it running as it is.
on db-stopped systemctl stop mariadb.socket mariadb.service
rc=0
ansible-playbook "$repo/tests/fleet/start-after-check.yml" -e hostmend_hosts=db-stopped >"$work/play.log" 2>&1 || rc=$?
same "started by hand after the check: exit status" "$rc" 0
same "started by hand after the check: the repair ran" \
    "$(grep -A1 'TASK \[hostmend.panel.fleet : Start the database\]' "$work/play.log" | tail -n1)" "changed: [db-stopped]"
same "started by hand after the check: its invocation kept" \
    "$(on db-stopped cat /run/hostmend-by-hand.invocation)" "$(invocation db-stopped mariadb.service)"

# The first server of the inventory that answers has no python3, and the whole web hosting
# stack is to be restarted: its check never ran, so it is not in the repair play and does
# not stop the rollout; the other servers' web units are restarted; its row says why.
on healthy mv /usr/bin/python3 /usr/bin/python3.hidden
before=$(invocation db-stopped nginx.service)/$(invocation engine-failed nginx.service)
play fleet_repair -e hostmend_restart_web=true -e hostmend_batch=1
same "no python3: exit status" "$rc" 2
same "no python3: changes" "$(changes)" "db-stopped=1 engine-failed=1 healthy=failed unreachable=failed"
after=$(invocation db-stopped nginx.service)/$(invocation engine-failed nginx.service)
same "no python3: the other servers' web units restarted" \
    "$([[ ${before%/*} != "${after%/*}" && ${before#*/} != "${after#*/}" ]] && echo restarted)" restarted
same "no python3: its row" "$(summary "" "'/usr/bin/python3' in r['engine'] and 'not found' in r['engine'], r['version'], r['repaired']")" \
    "db-stopped=(False, '$version', []) engine-failed=(False, '$version', []) healthy=(True, 'unknown', []) unreachable=(False, 'unknown', [])"
same "no python3: counts" "$(run_field "c['error'], c['not_reached'], c['repair']")" "(1, 0, 0)"
on healthy mv /usr/bin/python3.hidden /usr/bin/python3

# A host whose tool fails is reported with the tool's line, which is also its warning;
# the others are still checked.
on healthy rm -f /lib/systemd/system/mariadb.service /lib/systemd/system/mysql.service \
    /lib/systemd/system/mysqld.service /etc/init.d/mariadb
play fleet_check
same "failing host: exit status" "$rc" 2
same "failing host: summary" "$(summary)" \
    "db-stopped=running/running engine-failed=running/running healthy=running/error: Failed to detect mysql unit name unreachable=unreachable/unreachable"
same "failing host: warnings" "$(summary "" "r['warnings']")" \
    "db-stopped=[] engine-failed=[] healthy=['dbmend --check: Failed to detect mysql unit name'] unreachable=[]"

# A host does not outlive the process that owns it: its watchdog, which looks once a second,
# takes it down.
sleep 600 &
owner=$!
HOSTMEND_OWNER_PID=$owner "$host" up "orphan$$" >/dev/null 2>"$work/orphan.log" ||
    cannot_boot "the orphan host" "$work/orphan.log"
kill "$owner"
for ((i = 0; i < 600; i++)); do
    [[ -d /run/hostmend-realhost/orphan$$ ]] || break
    sleep 0.1
done
same "watchdog: a host whose owner has gone" "$(pgrep -f "systemd-nspawn.*orphan$$" || echo down)" down

finish
