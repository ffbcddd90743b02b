#!/usr/bin/env bash
# Shows every tool at work on a throwaway host with a real systemd:
#
#   tests/realhost/demo.sh DEB
#
# boots the host (host.sh), installs the hostmend package DEB there with dpkg,
# stops the engine and the database so that the repairs have work to do, runs
# each tool from /usr/sbin under a header line, and takes the host down again.
# Where no such host can be booted, it says why in one line on stderr and runs
# only the harmless words on this machine instead (--help, and --check where a
# tool has it), from the package unpacked into a temporary directory: never a
# repair, a cleanup or a restart outside a throwaway host.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
[[ $# == 1 && -f $1 ]] || { echo "usage: demo.sh DEB (scripts/package.sh builds it)" >&2; exit 2; }
deb=$(realpath "$1")

# shellcheck source=demolib.sh
source "$here/demolib.sh"

in_host() { "$here/host.sh" exec "$name" "$@"; }

name=demo-$$
log=$(mktemp)
unpacked=$(mktemp -d)
trap '"$here/host.sh" down "$name" 2>/dev/null || true; rm -rf "$log" "$unpacked"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

why=""
if [[ $(id -u) != 0 ]]; then
    why="not root"
else
    echo "Booting a throwaway host (the first run also builds its root filesystem, a minute or two)..."
    start=$SECONDS
    if "$here/host.sh" up "$name" 2>"$log"; then
        echo "Host up in $((SECONDS - start)) s."
    else
        why=$(tail -n1 "$log")
    fi
fi

if [[ -n $why ]]; then
    echo "demo.sh: cannot boot a throwaway host ($why); running only --help and --check on this machine" >&2
    dpkg-deb -x "$deb" "$unpacked"
    for tool in coremend dbmend webmend sweepmend; do
        show "$tool --help (on this machine)" "$unpacked/usr/sbin/$tool" --help
    done
    for tool in coremend dbmend sweepmend; do  # webmend has no harmless word but --help
        show "$tool --check (on this machine)" "$unpacked/usr/sbin/$tool" --check
    done
    exit 0
fi

show "in the host: dpkg -i ${deb##*/}" \
    in_host sh -c 'cat >/var/tmp/hostmend.deb && dpkg -i /var/tmp/hostmend.deb' <"$deb"
show "in the host: stop tarnwick.service and the database" \
    in_host systemctl stop tarnwick.service mariadb.socket mariadb.service
show "coremend --check" in_host coremend --check
show "coremend --repair" in_host coremend --repair
show "dbmend --check" in_host dbmend --check
show "dbmend --repair" in_host dbmend --repair
show "in the host: systemctl is-active tarnwick.service mariadb.service" \
    in_host systemctl is-active tarnwick.service mariadb.service
show "webmend --restart-web-hosting" in_host webmend --restart-web-hosting
show "sweepmend --check" in_host sweepmend --check
show "in the host: leave something to clean up" \
    in_host sh -c 'mkdir -p /root/veltrosin /usr/local/ovk/tmp && touch /usr/local/ovk/tmp/old.log'
show "sweepmend --repair" in_host sweepmend --repair
show "in the host: man 8 coremend | head -n 4" in_host sh -c 'man 8 coremend | head -n 4'
echo
echo "Taking the host down."
