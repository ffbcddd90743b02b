#!/usr/bin/env bash
# What a fleet check costs against what the same checks cost without the collection: boots
# N throwaway hosts with the fleet harness (tests/fleet/fleet.sh), deploys the package, and
# times in alternating rounds, with the harness's own ansible.cfg and its forks for all:
#
#   check    ansible-playbook hostmend.panel.fleet_check
#   repair   ansible-playbook hostmend.panel.fleet_repair -e hostmend_batch=100%
#            (a healthy fleet: nothing to restart)
#   ad-hoc   ansible fleet -m ansible.builtin.shell -a 'coremend --check; dbmend --check;
#              sweepmend --check; hostmend status --json'
#   ssh      the same four checks by ssh, that many at once (xargs -P)
#
#   bench/fleet_scale.sh N [ROUNDS] [DEB]    (ROUNDS 3; DEB what scripts/package.sh builds)
#
# Prints each round, the medians, the cost per server and the ratios to the ad-hoc task.
# Needs root, as the harness does; the hosts go down when it ends.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
fleet=$repo/tests/fleet/fleet.sh
hosts=${1:?usage: bench/fleet_scale.sh N [ROUNDS] [DEB]}
rounds=${2:-3}
deb=$(realpath "${3:-$("$repo/scripts/package.sh" | tail -n1)}")
# hostmend status exits with 3 when a unit is down: data, as for the collection.
checks='coremend --check; dbmend --check; sweepmend --check; hostmend status --json || test $? = 3'

work=$(mktemp -d)
trap '"$fleet" down "$work"; rm -rf "$work"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP
aliases=()
for i in $(seq 1 "$hosts"); do aliases+=("s$i"); done
start=$SECONDS
HOSTMEND_OWNER_PID=$$ "$fleet" up "$work" "${aliases[@]}"
echo "$hosts hosts up in $((SECONDS - start)) s"
export ANSIBLE_CONFIG=$work/ansible.cfg
cd "$work"
forks=$(sed -n 's/^forks = //p' ansible.cfg)

# failed LOG: what went wrong in Ansible's LOG, the failures first (the recap's tail would
# not show a server early in it).
failed() {
    grep -E -A4 'fatal: |UNREACHABLE!|FAILED!|(failed|unreachable)=[1-9]' "$1" | head -n 60 || true
    tail -n 10 "$1"
}

# run NAME: one run of the command NAME; fails unless it succeeded.
run() {
    case $1 in
        check) ansible-playbook hostmend.panel.fleet_check ;;
        repair) ansible-playbook hostmend.panel.fleet_repair -e hostmend_batch=100% ;;
        ad-hoc) ansible fleet -m ansible.builtin.shell -a "$checks" ;;
        ssh) xargs -P "$forks" -I{} ssh -F ssh_config {} "$checks" <hosts ;;
    esac >"$work/$1.log" 2>&1 || { failed "$work/$1.log"; echo "fleet_scale.sh: $1 failed" >&2; exit 1; }
}

start=$SECONDS
ansible-playbook hostmend.panel.deploy -e hostmend_deb="$deb" >"$work/deploy.log" 2>&1 ||
    { failed "$work/deploy.log"; echo "fleet_scale.sh: deploy failed" >&2; exit 1; }
echo "deployed in $((SECONDS - start)) s"
# Once each before the clock; the first repair brings up what the boot left down.
names=(check repair ad-hoc ssh)
for name in "${names[@]}"; do run "$name"; done
now() { date +%s%N; }
for round in $(seq 1 "$rounds"); do
    # Each round starts with the next command, so that none always runs first or last.
    for i in "${!names[@]}"; do
        name=${names[(i + round - 1) % ${#names[@]}]}
        t0=$(now)
        run "$name"
        echo "$name $(($(now) - t0))" >>"$work/times"
        # A timed repair must have found nothing to restart (its summary's counts).
        [[ $name != repair ]] || /usr/bin/python3 -c '
import json, sys
counts = json.load(open("hostmend-fleet-summary.json"))["run"]["counts"]
sys.exit(any(counts[k] for k in ("repaired", "repair", "error", "unreachable", "not_reached")))' ||
            { echo "fleet_scale.sh: the fleet is not healthy" >&2; exit 1; }
    done
done

echo "rounds of $hosts servers, forks $forks (s):"
for name in "${names[@]}"; do
    printf '  %-7s %s\n' "$name" "$(awk -v n="$name" '$1 == n { printf "%.2f ", $2 / 1e9 }' "$work/times")"
done
median() { awk -v n="$1" '$1 == n { print $2 }' "$work/times" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
adhoc=$(median ad-hoc)
echo "medians of $rounds rounds, $hosts servers:"
for name in "${names[@]}"; do
    awk -v n="$name" -v m="$(median "$name")" -v a="$adhoc" -v h="$hosts" \
        'BEGIN { printf "  %-7s %7.2f s  %6.3f s per server  %5.2fx ad-hoc\n", n, m / 1e9, m / 1e9 / h, m / a }'
done
