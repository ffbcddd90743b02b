#!/usr/bin/env bash
# Lints the built manual pages: groff renders each without a warning, man-db's lexgrog
# reads its NAME line, it has every section an admin looks for, in order, and its FILES
# section names every fixed path that the tool reads, runs or removes.
#   check-man-pages.sh DIR   (the build's man/, holding TOOL.8)
set -euo pipefail
# shellcheck source=../checks.sh
source "$(dirname "$0")/../checks.sh"
dir=$1
sections=(NAME SYNOPSIS DESCRIPTION COMMANDS OUTPUT "EXIT STATUS" JOURNAL FILES EXAMPLES "SEE ALSO")

# tool|the paths its FILES section must name
rows=(
    "coremend|/bin/systemctl"
    "dbmend|/bin/systemctl /lib/systemd/system/mariadb.service /lib/systemd/system/mysql.service /lib/systemd/system/mysqld.service /etc/init.d/mariadb /etc/init.d/mysql /etc/init.d/mysqld"
    "webmend|/bin/systemctl /opt/ovk/admin/sbin/interpbook"
    "hostmend|/bin/systemctl /opt/ovk/admin/sbin/interpbook /lib/systemd/system/mariadb.service /etc/init.d/mysqld"
    "sweepmend|/opt/ovk/admin/sbin/hoststat /root/veltrosin /var/cache/veltrosin_installer /usr/local/ovk/tmp /var/cache/apt /var/cache/apt/archives/lock /var/cache/yum"
)

in_files() { grep -F -- "$1" <<<"$files" >/dev/null; }

check() {  # WHAT CONDITION...
    if "${@:2}"; then pass "$1"; else fail "$1"; fi
}

for row in "${rows[@]}"; do
    IFS='|' read -r tool paths <<<"$row"
    page=$dir/$tool.8
    warnings=$(groff -man -ww -z "$page" 2>&1)
    check "$tool(8): groff renders it without a warning" test -z "$warnings"
    [[ -z $warnings ]] || echo "$warnings"
    check "$tool(8): lexgrog reads its NAME" \
        bash -c '[[ $(lexgrog "$1") == "$1: \"$2 - "* ]]' lexgrog "$page" "$tool"
    text=$(MANWIDTH=200 man -l "$page" 2>/dev/null)
    check "$tool(8): sections ${sections[*]}" \
        test "$(grep -E '^[A-Z][A-Z ]+$' <<<"$text" | paste -sd,)" = "$(IFS=,; echo "${sections[*]}")"
    files=$(sed -n '/^FILES$/,/^[A-Z]/p' <<<"$text")
    for path in $paths; do
        check "$tool(8): FILES names $path" in_files "$path"
    done
done
finish
