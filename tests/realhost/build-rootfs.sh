#!/usr/bin/env bash
# Builds the root filesystem of the throwaway test host (Debian bookworm with
# systemd, nginx, apache2, php8.2-fpm and mariadb) and prints its path.
#
# The tree is built once and cached outside the repository, under
# $HOSTMEND_REALHOST_CACHE (default /var/cache/hostmend-realhost)/<key>/rootfs,
# where <key> is a hash of packages.txt and of this script: changing either
# gives a new tree.  Concurrent callers wait for one another on a lock.
# Packages come from the Debian mirror that this machine's apt sources name.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cache_root=${HOSTMEND_REALHOST_CACHE:-/var/cache/hostmend-realhost}
suite=bookworm

die() { echo "build-rootfs: $*" >&2; exit 1; }

[[ $(id -u) == 0 ]] || die "must run as root"

key=$(cat "$here/packages.txt" "$here/build-rootfs.sh" | sha256sum | cut -c1-16)
dir=$cache_root/$key
if [[ -f $dir/ready ]]; then
    echo "$dir/rootfs"
    exit 0
fi

mkdir -p "$cache_root"
exec 9>"$cache_root/lock"
flock 9
if [[ -f $dir/ready ]]; then  # built by another caller while we waited
    echo "$dir/rootfs"
    exit 0
fi

# The first URI of the apt sources (one-line or deb822 format) that serves $suite.
mirror_uri() {
    local f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [[ -r $f ]] || continue
        awk -v s="$suite" '/^[ \t]*deb[ \t]/ { sub(/\[[^]]*\][ \t]*/, "");
            if ($3 == s) { print $2; exit } }' "$f"
    done
    for f in /etc/apt/sources.list.d/*.sources; do
        [[ -r $f ]] || continue
        awk -v s="$suite" 'BEGIN { RS = ""; FS = "\n" }
            { types = uris = suites = ""; enabled = "yes"
              for (i = 1; i <= NF; i++) {
                  v = $i; k = $i; sub(/:.*/, "", k); sub(/^[^:]*:[ \t]*/, "", v)
                  if (k == "Types") types = v; else if (k == "URIs") uris = v
                  else if (k == "Suites") suites = v; else if (k == "Enabled") enabled = v
              }
              if (enabled == "no" || (" " types " ") !~ / deb /) next
              n = split(suites, a, /[ \t]+/)
              for (i = 1; i <= n; i++) if (a[i] == s) { split(uris, u, /[ \t]+/); print u[1]; exit }
            }' "$f"
    done
}

if ! command -v debootstrap >/dev/null; then
    echo "build-rootfs: installing debootstrap" >&2
    apt-get update -qq >&2 || die "apt-get update failed"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        -o DPkg::Lock::Timeout=300 debootstrap >&2 || die "cannot install debootstrap"
fi

mirror=$(mirror_uri | head -n1)
[[ -n $mirror ]] || die "no apt source for $suite found in /etc/apt"

tmp=$dir.partial
rm -rf "$tmp" "$dir"
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp"
log=$dir.debootstrap.log
echo "build-rootfs: building $dir (log: $log)" >&2
start=$SECONDS
debootstrap --variant=minbase --include="$(grep -v '^#' "$here/packages.txt" | paste -sd, -)" \
    "$suite" "$tmp/rootfs" "$mirror" >"$log" 2>&1 \
    || die "debootstrap failed, see $log: $(tail -n1 "$log")"

root=$tmp/rootfs
# The tree would otherwise carry this machine's name; without the file the
# host is named after the --machine given at boot.
rm -f "$root/etc/hostname"
# apache2 moves to :8080 so that nginx keeps :80.
sed -i 's/^Listen 80$/Listen 8080/' "$root/etc/apache2/ports.conf"
sed -i 's/<VirtualHost \*:80>/<VirtualHost *:8080>/' "$root/etc/apache2/sites-available/000-default.conf"
grep -q '^Listen 8080$' "$root/etc/apache2/ports.conf" || die "could not move apache2 to :8080"
# Nobody logs in on the read-only console.
ln -sf /dev/null "$root/etc/systemd/system/console-getty.service"
rm -f "$root"/var/cache/apt/archives/*.deb

echo "build-rootfs: built in $((SECONDS - start)) s" >&2
date -u +%FT%TZ >"$tmp/ready"
mv "$tmp" "$dir"
trap - EXIT
# Trees of earlier package lists are of no further use.
find "$cache_root" -mindepth 1 -maxdepth 1 ! -name lock ! -name "$key" ! -name "$key.*" \
    -exec rm -rf {} +
echo "$dir/rootfs"
