#!/usr/bin/env bash
# A throwaway host with a real systemd as PID 1: the cached root filesystem of
# build-rootfs.sh booted with systemd-nspawn.  Each boot starts pristine (a
# volatile overlay over the cached tree), so a test may stop, break or delete
# anything inside.  Only loopback networking exists inside.
#
#   host.sh up NAME [SRC:DST]...  boot host NAME, bind each SRC read-only at DST,
#                                 install fixtures/ and start tarnwick.service
#   host.sh exec NAME CMD [ARG]...  run CMD inside as root, with a clean environment
#   host.sh down NAME             power it off and remove what it left behind
#   host.sh connect NAME PORT     join stdin and stdout to 127.0.0.1:PORT inside it
#
# "up" first takes down a leftover host of the same NAME; "down" of a host that
# is not up does nothing.  A host outlives "up" but not the process that called
# it (or $HOSTMEND_OWNER_PID): a watchdog takes it down once that process has
# gone, so a SIGKILLed test does not leave a running container behind.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
self=$here/host.sh
state_root=/run/hostmend-realhost
boot_timeout=120

die() { echo "host.sh: $*" >&2; exit 1; }

valid_name() { [[ $1 =~ ^[A-Za-z0-9][A-Za-z0-9_-]{0,40}$ ]] || die "bad host name '$1'"; }

# True while PID runs the program COMM (and is no zombie): guards against
# signalling a recycled PID.
is_running() {
    [[ -n $1 && $(cat "/proc/$1/comm" 2>/dev/null) == "$2" ]] && pid_alive "$1"
}

pid_alive() {
    local stat
    stat=$(ps -o stat= -p "$1" 2>/dev/null) && [[ $stat != Z* ]]
}

wait_gone() {  # PID SECONDS
    local i
    for ((i = 0; i < $2 * 10; i++)); do
        pid_alive "$1" || return 0
        sleep 0.1
    done
    return 1
}

# Our own cgroup in every hierarchy that nspawn looks at (cgroup v2, and
# systemd's named v1 hierarchy on hybrid hosts), so that hosts don't collide.
cgroup_dirs() {
    awk -v n="hostmend-realhost-$1" \
        '$3 == "cgroup2" || ($3 == "cgroup" && $4 ~ /(^|,)name=systemd(,|$)/) { print $2 "/" n }' \
        /proc/self/mounts
}

remove_cgroups() {
    local d
    for d in $(cgroup_dirs "$1"); do
        if [[ -d $d ]]; then
            find "$d" -depth -type d -exec rmdir {} + 2>/dev/null || true
        fi
    done
}

down() {
    local name=$1 st=$state_root/$1 npid ipid
    valid_name "$name"
    npid=$(cat "$st/nspawn.pid" 2>/dev/null || true)
    ipid=$(cat "$st/init.pid" 2>/dev/null || true)
    if is_running "$npid" systemd-nspawn; then
        kill -TERM "$npid"  # nspawn shuts the host down cleanly
        wait_gone "$npid" 30 || true
    fi
    if is_running "$ipid" systemd; then
        # nspawn was killed without taking its host along: power off directly
        kill -RTMIN+4 "$ipid"
        wait_gone "$ipid" 30 || true
    fi
    # Last resort; systemd has become systemd-shutdown (comm cut to 15 bytes) by now.
    if is_running "$ipid" systemd || is_running "$ipid" systemd-shutdow; then
        kill -KILL "$ipid"
        wait_gone "$ipid" 10 || true
    fi
    if is_running "$npid" systemd-nspawn; then
        kill -KILL "$npid"
        wait_gone "$npid" 10 || true
    fi
    remove_cgroups "$name"
    rm -rf "$st"
}

# The PID of host NAME's systemd; fails unless the host is up.
init_pid() {
    local ipid
    valid_name "$1"
    ipid=$(cat "$state_root/$1/init.pid" 2>/dev/null || true)
    is_running "$ipid" systemd || die "host $1 is not up"
    echo "$ipid"
}

exec_in() {
    local ipid
    ipid=$(init_pid "$1")
    shift
    exec nsenter -t "$ipid" -a \
        env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        HOME=/root LANG=C.UTF-8 TERM=dumb "$@"
}

# Joins our stdin and stdout to TCP PORT on 127.0.0.1 inside host NAME's own network
# namespace (an SSH ProxyCommand, for instance). Only the network namespace is entered:
# nc is this machine's.
connect() {
    local ipid
    ipid=$(init_pid "$1")
    [[ $2 =~ ^[0-9]{1,5}$ ]] || die "bad port '$2'"
    exec nsenter --net="/proc/$ipid/ns/net" nc 127.0.0.1 "$2"
}

up() {
    local name=$1 st=$state_root/$1 rootfs npid ipid="" owner binds=() b d i
    shift
    valid_name "$name"
    for b in "$@"; do
        [[ $b == /*:/* && -e ${b%%:*} ]] || die "bad bind '$b' (want /existing/path:/path/inside)"
        binds+=("--bind-ro=$b")
    done
    [[ $(id -u) == 0 ]] || die "must run as root"
    owner=${HOSTMEND_OWNER_PID:-$PPID}

    down "$name"
    rootfs=$("$here/build-rootfs.sh")
    if ! command -v systemd-nspawn >/dev/null; then
        echo "host.sh: installing systemd-container" >&2
        apt-get update -qq >&2 || die "apt-get update failed"
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
            -o DPkg::Lock::Timeout=300 systemd-container >&2 || die "cannot install systemd-container"
    fi

    trap 'down "$name"' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM HUP
    mkdir -p "$st"
    (
        for d in $(cgroup_dirs "$name"); do
            mkdir -p "$d"
            echo "$BASHPID" >"$d/cgroup.procs"
        done
        # --register=no and --keep-unit: this machine has no system bus.
        SYSTEMD_NSPAWN_UNIFIED_HIERARCHY=1 exec setsid systemd-nspawn \
            --directory="$rootfs" --machine="hm-$name" --boot \
            --register=no --keep-unit --console=read-only \
            --private-network --volatile=overlay "${binds[@]}"
    ) </dev/null >"$st/console.log" 2>&1 &
    npid=$!
    echo "$npid" >"$st/nspawn.pid"

    # Take the host down once the owner has gone, even if this script is
    # killed too; it stands down when this host is taken down or replaced.
    # It looks once a second without starting a process (read, and read -t on
    # a pipe that nobody writes to): a fleet runs one per host, and a cat and
    # a sleep a second each took 2 % of a CPU per host.
    # shellcheck disable=SC2016  # expanded by the watchdog's own shell
    setsid bash -c 'holds() { local p=; { read -r p || [[ -n $p ]]; } <"$1" && [[ $p == "$2" ]]; } 2>/dev/null
                    exec {tick}<> <(:)
                    while kill -0 "$1" 2>/dev/null && holds "$2" "$3"; do read -r -t 1 -u "$tick" || :; done
                    holds "$2" "$3" && exec "$4" down "$5"' \
        watchdog "$owner" "$st/nspawn.pid" "$npid" "$self" "$name" </dev/null >/dev/null 2>&1 &

    # The host's PID 1 is the child of nspawn that becomes systemd.
    for ((i = 0; i < 300; i++)); do
        for d in $(pgrep -P "$npid" || true); do
            is_running "$d" systemd && ipid=$d
        done
        [[ -z $ipid ]] || break
        pid_alive "$npid" || die "systemd-nspawn ended: $(tail -n1 "$st/console.log")"
        sleep 0.1
    done
    [[ -n $ipid ]] || die "no systemd came up inside: $(tail -n1 "$st/console.log")"
    echo "$ipid" >"$st/init.pid"

    # Wait for the boot to finish; until systemd has its control socket up,
    # systemctl cannot reach it and answers nothing (or "offline").
    local booted="" deadline=$((SECONDS + boot_timeout))
    while ((SECONDS < deadline)); do
        booted=$(timeout $((deadline - SECONDS + 1)) "$self" exec "$name" \
            systemctl is-system-running --wait 2>/dev/null || true)
        [[ -z $booted || $booted == offline ]] || break
        sleep 0.2
    done
    case $booted in
        running) ;;
        degraded) echo "host.sh: $name booted degraded: $("$self" exec "$name" systemctl --failed --plain --no-legend | tr '\n' ' ')" >&2 ;;
        *) die "$name did not finish booting within $boot_timeout s (state '$booted')" ;;
    esac

    # Stand-ins for the panel's tools and engine unit.
    tar -C "$here/fixtures" -cf - . | "$self" exec "$name" tar -xf - -C / --no-same-owner \
        || die "cannot install the fixtures"
    "$self" exec "$name" systemctl daemon-reload
    "$self" exec "$name" systemctl enable --now --quiet tarnwick.service || die "tarnwick.service did not start"
    trap - EXIT INT TERM HUP
}

cmd=${1:-}
[[ $# -ge 2 ]] || die "usage: host.sh up|exec|down|connect NAME [...]"
shift
case $cmd in
    up) up "$@" ;;
    exec) [[ $# -ge 2 ]] || die "usage: host.sh exec NAME CMD [ARG]..."; exec_in "$@" ;;
    down) down "$1" ;;
    connect) [[ $# == 2 ]] || die "usage: host.sh connect NAME PORT"; connect "$@" ;;
    *) die "unknown command '$cmd'" ;;
esac
