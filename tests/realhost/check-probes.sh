#!/usr/bin/env bash
# hostmend status's probes against the real stack of the host: every active web,
# PHP-FPM and database unit answers; nginx's processes stopped, then the PHP-FPM
# workers, then mariadbd, then all three at once, each is "no answer" within
# the time limit plus one second, with exit status 3.  It also shows what one
# probe leaves in nginx's, apache2's and MariaDB's logs, and how each web
# server treats the plain request on a TLS port.
#   check-probes.sh PATH_OF_THE_DEB (the hostmend package, installed in the host)
set -euo pipefail
# shellcheck source=testlib.sh
source "$(dirname "$0")/testlib.sh"

boot_host "probes-$$" "$1"
stack=(tarnwick.service mariadb.service php8.2-fpm apache2 nginx)
in_host rm -rf /run/interpbook

# TLS ports with a self-signed certificate: apache2 on 443, nginx on 8443.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost \
    -keyout "$work/tls.key" -out "$work/tls.pem" 2>/dev/null
in_host sh -c 'mkdir -p /etc/hostmend-test && cat >/etc/hostmend-test/tls.pem' <"$work/tls.pem"
in_host sh -c 'cat >/etc/hostmend-test/tls.key' <"$work/tls.key"
in_host a2enmod -q ssl >/dev/null
in_host sh -c 'sed -e "s#/etc/ssl/certs/ssl-cert-snakeoil.pem#/etc/hostmend-test/tls.pem#" \
    -e "s#/etc/ssl/private/ssl-cert-snakeoil.key#/etc/hostmend-test/tls.key#" \
    /etc/apache2/sites-available/default-ssl.conf >/etc/apache2/sites-enabled/default-ssl.conf'
in_host sh -c 'cat >/etc/nginx/conf.d/tls.conf' <<'CONF'
server {
    listen 127.0.0.1:8443 ssl;
    ssl_certificate /etc/hostmend-test/tls.pem;
    ssl_certificate_key /etc/hostmend-test/tls.key;
}
CONF

for unit in "${stack[@]}"; do
    in_host systemctl reset-failed "$unit" 2>/dev/null || true
    in_host systemctl restart "$unit"
done

# probes_of [UNIT...]: one line per probe of the last status --json: unit,
# address, result and detail; of every unit when none is named.
probes_of() {
    python3 -c '
import json, sys
for unit in json.load(open(sys.argv[1]))["units"]:
    if len(sys.argv) == 2 or unit["name"] in sys.argv[2:]:
        for probe in unit["probes"]:
            print(unit["name"], probe["address"], probe["result"], probe["detail"])' "$work/out" "$@"
}

# results_of: each unit's name and the set of its probes' results, apache2's
# TLS port left out (see below).
results_of() {
    python3 -c '
import json, sys
for unit in json.load(open(sys.argv[1]))["units"]:
    results = {probe["result"] for probe in unit["probes"] if probe["address"] != "127.0.0.1:443"}
    print(unit["name"], " ".join(sorted(results)) or "-")
' "$work/out"
}

# timed_status: hostmend status --json, its wall time in milliseconds in $took.
timed_status() {
    local start
    start=$(date +%s%N)
    run_tool hostmend status --json
    took=$((($(date +%s%N) - start) / 1000000))
}

# log_lines FILE: the number of lines FILE has in the host now.
log_lines() { in_host sh -c "wc -l <$1 2>/dev/null || echo 0"; }

logs=(/var/log/nginx/access.log /var/log/nginx/error.log /var/log/apache2/access.log
      /var/log/apache2/error.log /var/log/apache2/other_vhosts_access.log)
declare -A before
for log in "${logs[@]}"; do before[$log]=$(log_lines "$log"); done
in_host journalctl --sync
cursor=$(in_host journalctl -u mariadb.service -n 0 --show-cursor | sed -n 's/^-- cursor: //p')

# Healthy: every unit of the stack answers; the engine stand-in listens nowhere.
timed_status
same "healthy: exit status" "$rc" 0
same "healthy: every web, PHP-FPM and database unit answers" "$(results_of)" \
    "$(printf '%s\n' "tarnwick.service -" "mariadb.service answered" "php8.2-fpm answered" \
        "apache2 answered" "nginx answered")"
echo "     the probes of a healthy host (${took} ms):"
probes_of | sed 's/^/       /'
# apache2 leaves plain HTTP on a TLS port to OpenSSL, which takes only GET,
# POST, HEAD and PUT for it: OPTIONS gets the connection closed, no bytes.
same "healthy: apache2 closes its TLS port on the plain OPTIONS, without an answer" \
    "$(probes_of apache2 | grep ':443 ')" "apache2 127.0.0.1:443 wrong answer End of file"
same "healthy: nginx answers on its TLS port" \
    "$(probes_of nginx | grep -c '^nginx 127.0.0.1:8443 answered')" 1

# What one run left in the services' logs.
sleep 1
in_host journalctl --sync
for log in "${logs[@]}"; do
    echo "     new in $log:"
    in_host sh -c "tail -n +$((before[$log] + 1)) $log 2>/dev/null" | sed 's/^/       /'
done
echo "     new in MariaDB's log (journal of mariadb.service):"
in_host journalctl -u mariadb.service --after-cursor="$cursor" -o cat >"$work/mariadb.log"
sed 's/^/       /' "$work/mariadb.log"
same "MariaDB notes each probe as an aborted connection, a warning" \
    "$(grep -c "\[Warning\] Aborted connection .* user: 'unauthenticated' .*(This connection closed normally without authentication)" "$work/mariadb.log")" \
    "$(probes_of mariadb.service | wc -l)"
nginx_access=${before[/var/log/nginx/access.log]}
options=$(in_host sh -c "tail -n +$((nginx_access + 1)) /var/log/nginx/access.log" |
    grep -c '"OPTIONS \* HTTP/1.0" 400' || true)
if ((options >= 1)); then
    pass "nginx logs the probe as OPTIONS *, answered with 400 ($options lines)"
else
    fail "nginx logs the probe as OPTIONS *, answered with 400"
fi

# Run by a user other than root, status probes nothing: the table and the document say so,
# and neither nginx's access log nor MariaDB's log gains a line.
nginx_access=$(log_lines /var/log/nginx/access.log)
in_host journalctl --sync
cursor=$(in_host journalctl -u mariadb.service -n 0 --show-cursor | sed -n 's/^-- cursor: //p')
rc=0
in_host runuser -u nobody -- hostmend status >"$work/out" || rc=$?
same "not root: the table's exit status" "$rc" 0
same "not root: the table's probe column" \
    "$(awk 'NR == 1 { u = index($0, "UNIT"); p = index($0, "PROBE") }
            { split(substr($0, u), word, " "); print word[1] "|" substr($0, p) }' "$work/out")" \
    "UNIT|PROBE$(printf '\n%s|not probed (needs root)' "${stack[@]}")"
rc=0
in_host runuser -u nobody -- hostmend status --json >"$work/out" || rc=$?
same "not root: the document's exit status" "$rc" 0
same "not root: the document matches its schema" \
    "$("$here/../schemas/validate.py" output hostmend "status --json" "$work/out")" \
    "1 status checked, 0 failed"
same "not root: probed false, no unit probed" "$(python3 -c '
import json, sys
document = json.load(open(sys.argv[1]))
print(document["probed"], *[unit["name"] + "=" + json.dumps(unit["probes"]) for unit in document["units"]])' \
    "$work/out")" "False ${stack[*]/%/=[]}"
sleep 1
in_host journalctl --sync
same "not root: nothing new in nginx's access log" "$(log_lines /var/log/nginx/access.log)" \
    "$nginx_access"
same "not root: no aborted connection in MariaDB's log" \
    "$(in_host journalctl -u mariadb.service --after-cursor="$cursor" -o cat | grep -c 'Aborted connection' || true)" 0

# stopped NAME STOP CONT UNIT...: with STOP run in the host, each UNIT is
# "no answer" and the run ends with 3 within the limit (2 s) and one second;
# CONT undoes it.
stopped() {
    local name=$1 stop=$2 cont=$3 unit
    shift 3
    in_host sh -c "$stop"
    timed_status
    in_host sh -c "$cont"
    same "$name: exit status" "$rc" 3
    for unit in "$@"; do
        same "$name: $unit does not answer" "$(results_of | grep "^$unit " | grep -c 'no answer')" 1
    done
    if ((took <= 3000)); then
        pass "$name: within the limit plus one second (${took} ms)"
    else
        fail "$name: within the limit plus one second (${took} ms)"
    fi
}

stopped "nginx's processes stopped" "systemctl kill -s STOP nginx" "systemctl kill -s CONT nginx" nginx
stopped "the PHP-FPM workers stopped" "pkill -STOP -f '^php-fpm: pool'" \
    "pkill -CONT -f '^php-fpm: pool'" php8.2-fpm
stopped "mariadbd stopped" "systemctl kill -s STOP mariadb" "systemctl kill -s CONT mariadb" \
    mariadb.service
stopped "all three stopped at once" \
    "systemctl kill -s STOP nginx; pkill -STOP -f '^php-fpm: pool'; systemctl kill -s STOP mariadb" \
    "systemctl kill -s CONT nginx; pkill -CONT -f '^php-fpm: pool'; systemctl kill -s CONT mariadb" \
    nginx php8.2-fpm mariadb.service

timed_status
same "all continued: exit status" "$rc" 0

finish
