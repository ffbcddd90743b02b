#!/usr/bin/env bash
# The journal's MESSAGE_IDs have one source, the catalog (packaging/hostmend.catalog): every
# other place that names them names only the catalog's ids, and each place that lists the
# kinds of entry lists them all.
#   check-message-ids.sh SOURCE_DIR
set -euo pipefail
# shellcheck source=../checks.sh
source "$(dirname "$0")/../checks.sh"
cd "$1"
collection=ansible/ansible_collections/hostmend/panel

# The ids that FILE... name, once each, sorted. The run id and the unit's invocation id
# shown in examples are ids of another kind.
ids_in() {
    cat "$@" | sed -E 's/(RUN_ID=|INVOCATION_ID=|InvocationID": ")[0-9a-f]{32}//g' |
        grep -oE '\b[0-9a-f]{32}\b' | sort -u || true
}

headers=$(grep -E '^-- ' packaging/hostmend.catalog || true)
catalog=$(grep -oE '^-- [0-9a-f]{32}$' packaging/hostmend.catalog | cut -c4- | sort -u || true)
same "the catalog: one id of 32 hexadecimal digits per entry, none twice" \
    "$(wc -l <<<"$headers")" "$(wc -l <<<"$catalog")"

# every WHAT FILE...: FILE... name each id of the catalog and no other.
every() { same "$1: the catalog's ids, all of them and no other" "$(ids_in "${@:2}")" "$catalog"; }
# only WHAT FILE...: FILE... name no id that the catalog lacks.
only() { same "$1: no id the catalog lacks" "$(comm -23 <(ids_in "${@:2}") <(echo "$catalog"))" ""; }

every "the C++ table (common/journal.cpp)" common/journal.cpp
every "the end-to-end harness" tests/e2e/sandbox.cpp
every "tests/realhost/journal_entries.py" tests/realhost/journal_entries.py
every "README.md" README.md
every "the manual pages together" man/*.8.scd
for page in man/*.8.scd; do only "$page" "$page"; done
# The history filter takes the service actions' id from the module utilities.
filter=($collection/plugins/filter/fleet_history.py $collection/plugins/module_utils/answers.py)
playbook=$collection/playbooks/fleet_history.yml
only "the collection's history filter" "${filter[@]}"
only "the collection's history playbook" "$playbook"
same "the history playbook queries the ids its filter counts" "$(ids_in "$playbook")" \
    "$(ids_in "${filter[@]}")"
finish
