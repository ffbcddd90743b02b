#!/usr/bin/env bash
# Times whole tools against the least that the same work costs, side by side in one run,
# and prints the ratios (bench_compare: alternating rounds, medians of wall and CPU time,
# peak resident memory), numbered as in BENCHMARKS.md (2 is bench/runner_vs_poll.sh):
#   1. coremend --check, with a /bin/systemctl that prints nothing, against a minimal C++
#      program doing the same (posix_spawn, poll on both pipes, waitpid, one write);
#      coremend --help against a C++ program that only prints the usage line;
#   3. the peak resident memory of coremend --check on 64 MiB of output, against 64 MiB;
#   4. webmend with 300 PHP-FPM services against a /bin/sh loop making the same 302 calls;
#   5. the instructions of coremend --check and of webmend with 300 services against a build
#      of BASELINE (a git revision, default main), with a journal socket present whose
#      reader is this script's own: what the journal entries cost;
#   6. hostmend status, as a table and as JSON, with a registry of 50 PHP-FPM units, against
#      a /bin/sh script making the same two calls (the registry, one systemctl show).
#
#   bench/tools_vs_floors.sh [ROUNDS [BASELINE]]
#
# Runs as root, from any directory, on the build that `scripts/build.sh default` makes
# (built first). It works in a private mount namespace where /opt is an empty tmpfs and
# /bin/systemctl is the fake (bench/fake_child.c): the machine's own are never touched.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [[ "${1:-}" != --in-namespace ]]; then
  "$root/scripts/install-deps.sh"
  "$root/scripts/build.sh" default >/dev/null
  cmake --build "$root/build" --target benchmarks >/dev/null
  # The baseline's tools, built from its files alone (no checkout, no worktree).
  baseline=$root/build-baseline
  rm -rf "$baseline" && mkdir -p "$baseline/src"
  git -C "$root" archive "${2:-main}" | tar -x -C "$baseline/src"
  cmake -S "$baseline/src" -B "$baseline" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
    >/dev/null
  cmake --build "$baseline" --target coremend webmend -j "$(nproc)" >/dev/null
  exec unshare --mount --propagation private "$0" --in-namespace "$@"
fi
shift
rounds=${1:-21}
bin=$root/build/bin
baseline_bin=$root/build-baseline/bin
compare=$bin/bench_compare

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$bin/bench_fake_child" "$work/systemctl"
if [[ -e /bin/systemctl ]]; then
  mount --bind "$work/systemctl" /bin/systemctl
else
  # No systemctl to cover: an overlay on the directory lets one appear in this namespace.
  bindir=$(readlink -f /bin)
  mkdir "$work/upper" "$work/overlay-work"
  cp "$work/systemctl" "$work/upper/systemctl"
  mount -t overlay overlay \
    -o "lowerdir=$bindir,upperdir=$work/upper,workdir=$work/overlay-work" "$bindir"
fi
mount -t tmpfs tmpfs /opt
[[ "$(findmnt -n -o TARGET --target /opt)" == /opt ]] || {
  echo "/opt is not a private mount" >&2
  exit 1
}
# The journal's socket is ours, on a private /run: the machine's journal never sees a run.
mount -t tmpfs tmpfs /run
mkdir -p /run/systemd/journal
/usr/bin/python3 -c '
import socket, sys
journal = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
journal.bind("/run/systemd/journal/socket")
print("ready", flush=True)
while True:
    journal.recv(1 << 20)
' >"$work/journal-ready" &
reader=$!
trap 'kill "$reader"; rm -rf "$work"' EXIT
until [[ -s "$work/journal-ready" ]]; do sleep 0.05; done

# write_registry NAME...: the document the registry script prints, listing these PHP-FPM
# services.
write_registry() {
  local sep=""
  {
    printf '{"php":['
    for name; do
      printf '%s{"type":"fpm","service":"%s"}' "$sep" "$name"
      sep=,
    done
    printf ']}\n'
  } >"$work/registry.json"
}

# The registry: 300 PHP-FPM services, printed by a script (called once per webmend run).
units=()
for i in $(seq 1 300); do units+=("php-site$i-fpm"); done
mkdir -p /opt/ovk/admin/sbin
write_registry "${units[@]}"
printf '#!/bin/sh\nexec cat %s\n' "$work/registry.json" >/opt/ovk/admin/sbin/interpbook
chmod 755 /opt/ovk/admin/sbin/interpbook
units+=(apache2 nginx)
printf 'for u in %s; do /bin/systemctl try-restart "$u"; done\n' "${units[*]}" >"$work/loop.sh"

# Each side must do the work before its time means anything.
expected='{"message":"","name":"tarnwick.service","status":"running"}'
[[ "$("$bin/coremend" --check)" == "$expected" && "$("$bin/bench_reference_check")" == "$expected" ]] || {
  echo "coremend --check or its floor does not print the expected report" >&2
  exit 1
}
[[ "$("$bin/coremend" --help)" == "$("$bin/bench_reference_usage")" ]] || {
  echo "coremend --help and its floor print different lines" >&2
  exit 1
}
reports=$("$bin/webmend" --restart-web-hosting | grep -c '"status": "running"' || true)
[[ "$reports" == 302 ]] || {
  echo "webmend made $reports reports instead of 302" >&2
  exit 1
}
big=$((64 << 20))
size=$(BENCH_STDOUT_BYTES=$big "$bin/coremend" --check | wc -c)
((size > big)) || {
  echo "coremend --check printed $size bytes for 64 MiB of output" >&2
  exit 1
}

echo "== 1. coremend --check, /bin/systemctl printing nothing"
"$compare" "$rounds" 50 "coremend --check" "$bin/coremend" --check \
  -- "C++ floor" "$bin/bench_reference_check" -- "/bin/systemctl alone" /bin/systemctl
echo
echo "== 1. coremend --help"
"$compare" "$rounds" 100 "coremend --help" "$bin/coremend" --help \
  -- "C++ usage line" "$bin/bench_reference_usage" -- "/bin/true" /bin/true
echo
# Instructions that the tool's own process executes in user space (callgrind, children not
# followed): the same on every run, however busy the machine is.
instructions() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
    awk '/Collected/ { print $NF }'
}
echo "== 1. instructions of the process itself (callgrind)"
for pair in "coremend --check|bench_reference_check" "coremend --help|bench_reference_usage"; do
  tool=${pair%|*}
  floor=${pair#*|}
  # shellcheck disable=SC2086 # the tool's word is meant to split off
  tool_count=$(instructions "$bin"/$tool)
  floor_count=$(instructions "$bin/$floor")
  awk -v t="$tool_count" -v f="$floor_count" -v name="$tool" -v floor="$floor" \
    'BEGIN { printf "%-16s %d, %s %d: ratio %.3f\n", name, t, floor, f, t / f }'
done
echo
# The text grows by doubling: just past a power of two costs the most while it grows.
for bytes in "$big" "$((big + (64 << 10)))"; do
  echo "== 3. coremend --check, /bin/systemctl printing $bytes bytes (peak RSS / bytes)"
  "$compare" 5 1 "coremend --check" /usr/bin/env "BENCH_STDOUT_BYTES=$bytes" "$bin/coremend" \
    --check | tee "$work/memory"
  awk -v bytes="$bytes" \
    '/peak RSS/ { printf "peak RSS / captured bytes: %.2f\n", $(NF - 1) * 1048576 / bytes }' \
    "$work/memory"
  echo
done
echo "== 4. webmend, 300 PHP-FPM services"
"$compare" "$rounds" 1 "webmend" "$bin/webmend" --restart-web-hosting \
  -- "/bin/sh loop" /bin/sh "$work/loop.sh"
echo
echo "== 5. instructions with a journal socket present, this build against the baseline"
for command in "coremend --check" "webmend --restart-web-hosting"; do
  # shellcheck disable=SC2086 # the tool's word is meant to split off
  now=$(instructions "$bin"/$command)
  # shellcheck disable=SC2086
  before=$(instructions "$baseline_bin"/$command)
  awk -v n="$now" -v b="$before" -v name="$command" \
    'BEGIN { printf "%-30s %d, baseline %d: ratio %.4f\n", name, n, b, n / b }'
done
echo
echo "== 6. hostmend status, 50 PHP-FPM units"
write_registry "${units[@]:0:50}"
printf '%s\n' LoadState=loaded ActiveState=active SubState=running UnitFileState=enabled \
  NRestarts=0 MainPID=4242 InvocationID=5f2a0c3e9d2b4c61a6f0e4b8d1c7a935 \
  "ActiveEnterTimestamp=Wed 2026-12-09 02:00:00 UTC" >"$work/block"
export BENCH_SHOW_BLOCK=$work/block
properties=LoadState,ActiveState,SubState,UnitFileState,NRestarts,MainPID,InvocationID
properties+=,ActiveEnterTimestamp
# The units hostmend asks about (the database only where this machine has one), in its order.
mapfile -t stack < <("$bin/hostmend" status --json |
  /usr/bin/python3 -c 'import json, sys; print(*[u["name"] for u in json.load(sys.stdin)["units"]], sep="\n")')
[[ ${#stack[@]} -ge 53 ]] || {
  echo "hostmend status lists ${#stack[@]} units instead of at least 53" >&2
  exit 1
}
{
  # shellcheck disable=SC2016 # expanded by the script it writes
  echo 'registry=$(/opt/ovk/admin/sbin/interpbook --list-json)'
  printf '/bin/systemctl show --timestamp=utc --property=%s --' "$properties"
  printf ' %s' "${stack[@]}"
  echo
} >"$work/status.sh"
rows=$("$bin/hostmend" status | wc -l)
[[ "$rows" == $((${#stack[@]} + 1)) ]] || {
  echo "hostmend status printed $rows lines for ${#stack[@]} units" >&2
  exit 1
}
"$compare" "$rounds" 20 "hostmend status" "$bin/hostmend" status \
  -- "/bin/sh, the same two calls" /bin/sh "$work/status.sh"
"$compare" "$rounds" 20 "hostmend status --json" "$bin/hostmend" status --json \
  -- "/bin/sh, the same two calls" /bin/sh "$work/status.sh"
