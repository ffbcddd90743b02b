#!/usr/bin/env bash
# What the probes cost: boots a throwaway host with a real systemd (tests/realhost) that runs
# 50 PHP-FPM units of its own, each a php-fpm with one pool on its own Unix socket, listed by
# the registry stand-in, beside the host's nginx, apache2, MariaDB and engine stand-in.
# Inside the host it times, in alternating rounds:
#
#   probes     hostmend status
#   no-probes  hostmend status --no-probes   (the floor: the same run without the probes)
#
# Target: the median of probes at most 1.5 times that of no-probes. Then it stops every
# pool's workers (pkill -STOP -f '^php-fpm: pool') and times one hostmend status, which must
# find all 50 units not answering within the time limit (2 s) plus one second.
#
#   bench/probes_vs_no_probes.sh [ROUNDS [DEB]]    (ROUNDS 20; DEB what scripts/package.sh builds)
#
# Needs root, as the host does; the host goes down when it ends, the stopped workers with it.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-20}
deb=$(realpath "${2:-$("$repo/scripts/package.sh" | tail -n1)}")
pools=50
# shellcheck source-path=SCRIPTDIR source=../tests/realhost/testlib.sh
source "$repo/tests/realhost/testlib.sh"

boot_host "bench-probes-$$" "$deb"
# The stock pool makes way for the benchmark's own; stopped and disabled, it is not down.
in_host systemctl disable --quiet --now php8.2-fpm
in_host sh -c 'cat >/etc/systemd/system/php-bench@.service' <<'UNIT'
[Unit]
Description=PHP-FPM pool %i of the benchmark

[Service]
Type=notify
ExecStart=/usr/sbin/php-fpm8.2 --nodaemonize --fpm-config /etc/php-bench/%i.conf
UNIT
# shellcheck disable=SC2016  # expanded by the host's shell
in_host bash -c '
    set -e
    mkdir -p /etc/php-bench /run/php /run/interpbook
    for i in $(seq -w 1 "$1"); do
        printf "[global]\nerror_log = syslog\n[bench%s]\nuser = www-data\ngroup = www-data\n" "$i" \
            >"/etc/php-bench/$i.conf"
        printf "listen = /run/php/bench-%s.sock\npm = static\npm.max_children = 1\n" "$i" \
            >>"/etc/php-bench/$i.conf"
        echo "php-bench@$i" >>/run/interpbook/extra-fpm
    done
    systemctl daemon-reload
    systemctl start $(sed "s/\$/.service/" /run/interpbook/extra-fpm)' bench "$pools"

# Before the clock: every pool answers its probe, and the run exits with 0.
run_tool hostmend status --json
[[ $rc == 0 ]] || { cat "$work/err"; echo "probes_vs_no_probes.sh: hostmend status exited with $rc" >&2; exit 1; }
read -r answering units probes < <(/usr/bin/python3 -c '
import json, sys
units = json.load(open(sys.argv[1]))["units"]
print(sum(u["name"].startswith("php-bench@") and len(u["probes"]) == 1 and
          u["probes"][0]["result"] == "answered" for u in units),
      len(units), sum(len(u["probes"]) for u in units))' "$work/out")
[[ $answering == "$pools" ]] ||
    { echo "probes_vs_no_probes.sh: $answering of $pools pools answer" >&2; exit 1; }
echo "$units units, $probes probes, every pool answers"

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
# Timed inside the host with bash's own clock (microseconds), so that neither side pays for
# entering the host; each round starts with the other side than the last. A run that does
# not exit with 0 ends the benchmark.
# shellcheck disable=SC2016  # expanded by the host's shell
in_host bash -c '
    set -e
    for ((round = 1; round <= $1; round++)); do
        order=(probes no-probes)
        ((round % 2)) || order=(no-probes probes)
        for side in "${order[@]}"; do
            words=(status)
            [[ $side == probes ]] || words+=(--no-probes)
            start=$EPOCHREALTIME
            hostmend "${words[@]}" >/dev/null
            end=$EPOCHREALTIME
            echo "$side $((${end/./} - ${start/./}))"
        done
    done' bench "$rounds" >"$work/times"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

echo "rounds of hostmend status, $pools PHP-FPM units (ms):"
for side in probes no-probes; do
    printf '  %-9s %s\n' "$side" "$(awk -v s="$side" '$1 == s { printf "%.1f ", $2 / 1e3 }' "$work/times")"
done
median() { awk -v s="$1" '$1 == s { print $2 }' "$work/times" | sort -n | awk '{ v[NR] = $1 } END { print (v[int((NR + 1) / 2)] + v[int(NR / 2) + 1]) / 2 }'; }
awk -v p="$(median probes)" -v n="$(median no-probes)" -v r="$rounds" 'BEGIN {
    printf "medians of %d rounds: probes %.1f ms, no-probes %.1f ms, ratio %.2f (target <= 1.5)\n",
        r, p / 1e3, n / 1e3, p / n }'

# Every pool's workers stopped: one run, timed the same way; the workers go on at once.
# shellcheck disable=SC2016  # expanded by the host's shell
read -r hang_rc hang_us < <(in_host bash -c '
    pkill -STOP -f "^php-fpm: pool"
    start=$EPOCHREALTIME
    status=0
    hostmend status >/var/tmp/hang.out || status=$?
    end=$EPOCHREALTIME
    pkill -CONT -f "^php-fpm: pool"
    echo "$status $((${end/./} - ${start/./}))"')
silent=$(in_host grep -c '^php-fpm  *php-bench@.* no answer$' /var/tmp/hang.out || true)
awk -v t="$hang_us" -v rc="$hang_rc" -v s="$silent" -v n="$pools" 'BEGIN {
    printf "all %d pools stopped: hostmend status %.2f s, exit status %d, %d not answering (target <= 3 s)\n",
        n, t / 1e6, rc, s }'
[[ $hang_rc == 3 && $silent == "$pools" ]] ||
    { echo "probes_vs_no_probes.sh: the stopped pools were not all found not answering" >&2; exit 1; }
