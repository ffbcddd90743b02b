#!/usr/bin/env bash
# Installs the build into a staging directory (DESTDIR) and asks bash, with Debian's
# bash-completion loading each tool's completion from there as it would from /usr, what it
# offers for a partly typed command line.
#   check-completions.sh BUILD_DIR
set -euo pipefail
# shellcheck source=../checks.sh
source "$(dirname "$0")/../checks.sh"
build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null

# tool|the words after the tool, the last one being completed|what bash offers
rows=(
    "coremend||--check --help --repair -h"
    "dbmend|--c|--check"
    "webmend|--re|--restart-web-hosting"
    "sweepmend|--|--check --help --repair"
    "sweepmend|--repair |"
    "hostmend||--help -h start status"
    "hostmend|status |--json"
    "hostmend|status --json |"
    "hostmend|start ng|nginx"
    "hostmend|start nginx a|apache2"
)

# offered TOOL LINE: the completions, sorted, on one line.
offered() {
    # shellcheck disable=SC2016  # expanded by the inner shell
    XDG_DATA_DIRS=$stage/usr/share BASH_COMPLETION_USER_DIR=$stage/none bash -c '
        source /usr/share/bash-completion/bash_completion
        tool=$1
        read -ra COMP_WORDS <<<"$tool $2"
        [[ $2 == "" || $2 == *" " ]] && COMP_WORDS+=("")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        __load_completion "$tool" || { echo "no completion for $tool"; exit 1; }
        read -ra registered <<<"$(complete -p "$tool")"
        "${registered[2]}" "$tool" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        printf "%s\n" "${COMPREPLY[@]}" | sort | paste -sd " "
    ' offered "$1" "$2"
}

for row in "${rows[@]}"; do
    IFS='|' read -r tool line want <<<"$row"
    same "$tool $line<TAB>" "$(offered "$tool" "$line" || true)" "$want"
done
finish
