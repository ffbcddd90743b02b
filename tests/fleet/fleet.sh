#!/usr/bin/env bash
# A fleet of throwaway hosts (tests/realhost/host.sh) that Ansible reaches over SSH as it
# would reach real servers:
#
#   fleet.sh up DIR [--unreachable ALIAS] ALIAS...   boot one host per ALIAS
#   fleet.sh down DIR                                take them all down
#
# "up" writes into DIR (which must exist) everything a playbook run needs:
#   ansible.cfg    the settings; point ANSIBLE_CONFIG at it
#   inventory.ini  group "fleet": each ALIAS as an inventory host
#   ssh_config, known_hosts, id_ed25519   a throwaway key pair authorised for root
#                  in every host, and the hosts' own keys
# Every host keeps its own private network with only loopback in it: SSH reaches its sshd
# through a ProxyCommand that enters the host's network namespace and connects to
# 127.0.0.1:22 there (host.sh connect). The --unreachable ALIAS is a loopback port of this
# machine where nothing listens. No other address is contacted.
#
# The hosts go down with the process that called "up" (or $HOSTMEND_OWNER_PID), as
# host.sh's own hosts do. Needs root; ansible-core, ssh and nc come with
# scripts/install-deps.sh.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)
host=$repo/tests/realhost/host.sh

die() { echo "fleet.sh: $*" >&2; exit 1; }

# The host.sh names of the fleet in DIR, one a line.
names() { cat "$1/hosts" 2>/dev/null || true; }

down() {
    local name
    for name in $(names "$1"); do
        "$host" down "$name"
    done
    rm -f "$1/hosts"
}

# A loopback TCP port where nothing listens: one the kernel just handed out and took back.
closed_port() {
    /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

up() {
    local dir aliases=() hosts=() ghost="" alias name pids=() i failed="" type key
    dir=$(realpath "$1")
    shift
    while [[ $# -gt 0 ]]; do
        case $1 in
            --unreachable) ghost=$2; shift 2 ;;
            *) aliases+=("$1"); shift ;;
        esac
    done
    [[ -d $dir && ${#aliases[@]} -gt 0 ]] || die "usage: fleet.sh up DIR [--unreachable ALIAS] ALIAS..."
    for alias in "${aliases[@]}" ${ghost:+"$ghost"}; do
        [[ $alias =~ ^[A-Za-z0-9][A-Za-z0-9_-]{0,20}$ ]] || die "bad alias '$alias'"
    done
    export HOSTMEND_OWNER_PID=${HOSTMEND_OWNER_PID:-$PPID}

    down "$dir"
    # The hosts' names carry the owner's PID, so that two fleets never share a host.
    for alias in "${aliases[@]}"; do
        echo "fleet$HOSTMEND_OWNER_PID-$alias" >>"$dir/hosts"
    done
    mapfile -t hosts < <(names "$dir")
    trap 'down "$dir"' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM HUP

    # Boot them side by side; the first boot may build the root filesystem, the others
    # wait for it on its lock.
    for i in "${!hosts[@]}"; do
        "$host" up "${hosts[i]}" 2>"$dir/up-${aliases[i]}.log" &
        pids+=($!)
    done
    for i in "${!pids[@]}"; do
        wait "${pids[i]}" || failed="${aliases[i]}: $(tail -n1 "$dir/up-${aliases[i]}.log")"
    done
    [[ -z $failed ]] || die "cannot boot the host $failed"

    rm -f "$dir/id_ed25519" "$dir/id_ed25519.pub"
    ssh-keygen -q -t ed25519 -N "" -C "hostmend fleet" -f "$dir/id_ed25519"
    : >"$dir/known_hosts"
    for name in "${hosts[@]}"; do
        "$host" exec "$name" sh -c 'umask 077 && mkdir -p /root/.ssh && cat >/root/.ssh/authorized_keys' \
            <"$dir/id_ed25519.pub"
        "$host" exec "$name" systemctl start ssh.service
        read -r type key _ < <("$host" exec "$name" cat /etc/ssh/ssh_host_ed25519_key.pub)
        echo "$name $type $key" >>"$dir/known_hosts"
    done

    cat >"$dir/ssh_config" <<EOF
Host ${hosts[*]}
    ProxyCommand $host connect %h 22
Host *
    User root
    IdentityFile $dir/id_ed25519
    IdentitiesOnly yes
    UserKnownHostsFile $dir/known_hosts
    GlobalKnownHostsFile /dev/null
    StrictHostKeyChecking yes
    BatchMode yes
    ConnectTimeout 10
EOF

    {
        echo "[fleet]"
        # The unreachable host comes first: a playbook must get past it to the others.
        [[ -z $ghost ]] || echo "$ghost ansible_host=127.0.0.1 ansible_port=$(closed_port)"
        for i in "${!hosts[@]}"; do
            echo "${aliases[i]} ansible_host=${hosts[i]}"
        done
        echo
        echo "[fleet:vars]"
        echo "ansible_user=root"
        echo "ansible_python_interpreter=/usr/bin/python3"
    } >"$dir/inventory.ini"

    mkdir -p "$dir/tmp"
    cat >"$dir/ansible.cfg" <<EOF
[defaults]
inventory = $dir/inventory.ini
collections_path = $repo/ansible
local_tmp = $dir/tmp
retry_files_enabled = False
host_key_checking = True
forks = 10

[ssh_connection]
# No ControlMaster: no ssh process outlives a playbook run.
ssh_args = -F $dir/ssh_config -o ControlMaster=no
pipelining = True
EOF
    trap - EXIT INT TERM HUP
}

cmd=${1:-}
[[ $# -ge 2 ]] || die "usage: fleet.sh up|down DIR [...]"
shift
case $cmd in
    up) up "$@" ;;
    down) down "$1" ;;
    *) die "unknown command '$cmd'" ;;
esac
