#!/usr/bin/env bash
# Checks the Debian package: its control fields, every file it installs with its mode, and
# lintian, which must find nothing worse than information (I:) tags.
#   check-package.sh DEB VERSION
set -euo pipefail
# shellcheck source=../checks.sh
source "$(dirname "$0")/../checks.sh"
deb=$1
version=$2

# field|value (a value ending in "*" is a prefix)
fields=(
    "Package|hostmend"
    "Version|$version"
    "Architecture|$(dpkg --print-architecture)"
    "Section|admin"
    "Priority|optional"
    "Maintainer|hostmend developers <hostmend@example.org>"
    "Depends|libc6 (>= *"
    "Description|repair tools for the services of a web-hosting panel*"
)

# The files, with their modes; directories end in "/".
files="\
drwxr-xr-x /usr/
drwxr-xr-x /usr/lib/
drwxr-xr-x /usr/lib/systemd/
drwxr-xr-x /usr/lib/systemd/catalog/
-rw-r--r-- /usr/lib/systemd/catalog/hostmend.catalog
drwxr-xr-x /usr/sbin/
-rwxr-xr-x /usr/sbin/coremend
-rwxr-xr-x /usr/sbin/dbmend
-rwxr-xr-x /usr/sbin/hostmend
-rwxr-xr-x /usr/sbin/sweepmend
-rwxr-xr-x /usr/sbin/webmend
drwxr-xr-x /usr/share/
drwxr-xr-x /usr/share/bash-completion/
drwxr-xr-x /usr/share/bash-completion/completions/
-rw-r--r-- /usr/share/bash-completion/completions/coremend
-rw-r--r-- /usr/share/bash-completion/completions/dbmend
-rw-r--r-- /usr/share/bash-completion/completions/hostmend
-rw-r--r-- /usr/share/bash-completion/completions/sweepmend
-rw-r--r-- /usr/share/bash-completion/completions/webmend
drwxr-xr-x /usr/share/doc/
drwxr-xr-x /usr/share/doc/hostmend/
-rw-r--r-- /usr/share/doc/hostmend/changelog.gz
-rw-r--r-- /usr/share/doc/hostmend/copyright
drwxr-xr-x /usr/share/hostmend/
drwxr-xr-x /usr/share/hostmend/schemas/
-rw-r--r-- /usr/share/hostmend/schemas/cleanup-report.schema.json
-rw-r--r-- /usr/share/hostmend/schemas/service-report.schema.json
-rw-r--r-- /usr/share/hostmend/schemas/service-reports.schema.json
-rw-r--r-- /usr/share/hostmend/schemas/stack-reports.schema.json
-rw-r--r-- /usr/share/hostmend/schemas/status.schema.json
drwxr-xr-x /usr/share/man/
drwxr-xr-x /usr/share/man/man8/
-rw-r--r-- /usr/share/man/man8/coremend.8.gz
-rw-r--r-- /usr/share/man/man8/dbmend.8.gz
-rw-r--r-- /usr/share/man/man8/hostmend.8.gz
-rw-r--r-- /usr/share/man/man8/sweepmend.8.gz
-rw-r--r-- /usr/share/man/man8/webmend.8.gz"

for row in "${fields[@]}"; do
    IFS='|' read -r field want <<<"$row"
    got=$(dpkg-deb -f "$deb" "$field")
    got=${got%%$'\n'*}  # the first line (under pipefail, head could end dpkg-deb by SIGPIPE)
    [[ $want != *'*' || $got != "${want%'*'}"* ]] || want=$got
    same "$field: $want" "$got" "$want"
done
same "files and their modes, owned by root" \
    "$(dpkg-deb -c "$deb" | awk '{ sub(/^\./, "", $6); print $1, $2, $6 }')" \
    "$(sed 's|^\(\S*\) |\1 root/root |' <<<"$files")"

# journalctl compiles the catalog as the systemd package's trigger does: every kind of entry
# has its text.
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
journalctl --root="$root" --update-catalog
same "the catalog explains nine kinds of entry" \
    "$(journalctl --root="$root" --list-catalog | grep -c ' hostmend: ')" 9

# As root lintian says so on stderr; that line is no finding.
findings=$(lintian --pedantic "$deb" 2>&1 | grep -v '^running with root privileges' || true)
same "lintian: information tags at most" "$(grep -v '^I: ' <<<"$findings" || true)" ""
[[ -z $findings ]] || echo "$findings" | sed 's/^/       /'
finish
