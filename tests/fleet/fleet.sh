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
#
# Every booted host's systemd, dbus-daemon and logind hold about 7 inotify instances, all
# of them root's, and fs.inotify.max_user_instances (128 by default) caps root's total: past
# some 15 hosts beside other work, a host boots degraded or nspawn fails. "up" raises the
# limit for as long as a fleet is up and puts the old value back once the last fleet has
# gone down ("down", or its owner gone), or fails at once naming the limit.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
self=$here/fleet.sh
repo=$(cd "$here/../.." && pwd)
host=$repo/tests/realhost/host.sh
limit_file=/proc/sys/fs/inotify/max_user_instances
# A fleet's share of the limit: one file per fleet up (its owner's PID in it), the value
# found before the first raise, and a lock around both.
holders=/run/hostmend-fleet/inotify
# Per host, with room for the instances that systemctl and package scripts take a while.
instances_per_host=12

die() { echo "fleet.sh: $*" >&2; exit 1; }

# The inotify instances open on this machine now (an instance shared by two descriptors
# counts twice, which errs on the safe side).
# Processes that end while find reads them make it fail, which does not matter here.
instances_in_use() { { find /proc/[0-9]*/fd -lname 'anon_inode:inotify' 2>/dev/null || true; } | wc -l; }

holder_of() { echo "$holders/$(printf '%s' "$1" | sha256sum | cut -c1-16)"; }

# raise_limit DIR HOSTS OWNER: makes room for HOSTS more hosts while OWNER runs.
raise_limit() {
    local holder old need lock refused=""
    holder=$(holder_of "$1")
    mkdir -p "$holders"
    exec {lock}>"$holders.lock"
    flock "$lock"
    old=$(cat "$limit_file")
    need=$(($(instances_in_use) + $2 * instances_per_host + 64))
    echo "$3" >"$holder"
    if ((old < need)); then
        if { echo "$need" >"$limit_file"; } 2>/dev/null; then
            [[ -e $holders.saved ]] || echo "$old" >"$holders.saved"
        else
            refused=1
        fi
    fi
    exec {lock}>&-
    [[ -z $refused ]] ||
        die "fs.inotify.max_user_instances is $old and cannot be raised; $2 hosts need $need (sysctl -w fs.inotify.max_user_instances=$need)"
    # Put the limit back once OWNER has gone, even if "down" is never called.
    # It looks once a second without starting a process, as the hosts' own watchdogs do.
    # shellcheck disable=SC2016  # expanded by the watchdog's own shell
    setsid bash -c 'holds() { local p=; { read -r p || [[ -n $p ]]; } <"$1" && [[ $p == "$2" ]]; } 2>/dev/null
                    exec {tick}<> <(:)
                    while kill -0 "$1" 2>/dev/null && holds "$2" "$1"; do read -r -t 1 -u "$tick" || :; done
                    exec "$3" release "$2" "$1"' \
        watchdog "$3" "$holder" "$self" </dev/null >/dev/null 2>&1 &
}

# release HOLDER [OWNER]: drops the fleet's share (only OWNER's, if given); the last fleet
# to go, or to have died, puts the limit back.
release() {
    local lock h
    [[ -d $holders ]] || return 0
    exec {lock}>"$holders.lock"
    flock "$lock"
    if [[ -z ${2:-} || $(cat "$1" 2>/dev/null) == "${2:-}" ]]; then
        rm -f "$1"
    fi
    for h in "$holders"/*; do
        [[ -e $h ]] || continue
        kill -0 "$(cat "$h")" 2>/dev/null || rm -f "$h"
    done
    if [[ -e $holders.saved && -z $(ls -A "$holders") ]]; then
        cat "$holders.saved" >"$limit_file"
        rm -f "$holders.saved"
    fi
    exec {lock}>&-
}

# The host.sh names of the fleet in DIR, one a line.
names() { cat "$1/hosts" 2>/dev/null || true; }

down() {
    local name
    for name in $(names "$1"); do
        "$host" down "$name"
    done
    rm -f "$1/hosts"
    release "$(holder_of "$1")"
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
    # The value now: a failure under set -e runs the trap after the locals have gone.
    # shellcheck disable=SC2064
    trap "down $(printf %q "$dir")" EXIT
    raise_limit "$dir" "${#hosts[@]}" "$HOSTMEND_OWNER_PID"
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
    down) down "$(realpath -m "$1")" ;;
    release) release "$@" ;;  # the watchdog's
    *) die "unknown command '$cmd'" ;;
esac
