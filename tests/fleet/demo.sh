#!/usr/bin/env bash
# Shows the Ansible collection at work on a fleet of three throwaway hosts:
#
#   tests/fleet/demo.sh DEB     (scripts/package.sh builds it)
#
# boots the hosts (fleet.sh), deploys the package, stops the database on one host,
# runs the check playbook and then the repair playbook, and takes the hosts down again.
# Each playbook prints the fleet summary as a table at its end. Where no host can be
# booted it says why in one line on stderr and does nothing else.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
[[ $# == 1 && -f $1 ]] || { echo "usage: demo.sh DEB (scripts/package.sh builds it)" >&2; exit 2; }
deb=$(realpath "$1")

work=$(mktemp -d)
trap '"$here/fleet.sh" down "$work" 2>/dev/null || true; rm -rf "$work"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

# shellcheck source=../realhost/demolib.sh
source "$here/../realhost/demolib.sh"

why=""
if [[ $(id -u) != 0 ]]; then
    why="not root"
else
    echo
    echo "Booting a fleet of three throwaway hosts, web1, web2 and web3..."
    start=$SECONDS
    if "$here/fleet.sh" up "$work" web1 web2 web3 2>"$work/up.log"; then
        echo "Fleet up in $((SECONDS - start)) s; each host is reached over SSH inside its own network namespace."
    else
        why=$(tail -n1 "$work/up.log")
    fi
fi
if [[ -n $why ]]; then
    echo "demo.sh: cannot boot a fleet of throwaway hosts ($why); no fleet part" >&2
    exit 0
fi

export ANSIBLE_CONFIG=$work/ansible.cfg ANSIBLE_DISPLAY_SKIPPED_HOSTS=false
cd "$work"
show "the inventory" cat inventory.ini
show "ansible-playbook hostmend.panel.deploy -e hostmend_deb=$(basename "$deb")" \
    ansible-playbook hostmend.panel.deploy -e hostmend_deb="$deb"
show "on web2: systemctl stop mariadb" \
    ssh -F ssh_config "$(awk '$1 == "web2" { sub(/ansible_host=/, "", $2); print $2 }' inventory.ini)" \
    systemctl stop mariadb.socket mariadb.service
show "ansible-playbook hostmend.panel.fleet_check" ansible-playbook hostmend.panel.fleet_check
show "ansible-playbook hostmend.panel.fleet_repair" ansible-playbook hostmend.panel.fleet_repair
show "the summary the repair wrote (disk reports left out)" /usr/bin/python3 -c '
import json
summary = json.load(open("hostmend-fleet-summary.json"))
hosts = {h: {k: v for k, v in r.items() if k != "disk"} for h, r in summary["hosts"].items()}
print(json.dumps({"run": summary["run"], "hosts": hosts}, indent=2))'
echo
echo "Taking the fleet down."
