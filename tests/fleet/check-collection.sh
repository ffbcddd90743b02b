#!/usr/bin/env bash
# The Ansible collection as a clone holds it: found through ANSIBLE_COLLECTIONS_PATH=ansible,
# ansible-test's validate-modules check passes its modules and filters, every module and
# filter has documentation that ansible-doc renders, ansible-galaxy builds it with its
# licence, and Debian's ansible-lint passes it without a warning.
set -euo pipefail
cd "$(dirname "$0")/../.."
export ANSIBLE_COLLECTIONS_PATH=$PWD/ansible
collection=ansible/ansible_collections/hostmend/panel
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
status=0
problem() { echo "FAIL: $*"; status=1; }

# validate-modules, run as ansible-test would run it (ansible-test's own runner wants to
# download pip first). The script reads no ignore file: its findings are compared with
# tests/sanity/ignore-2.14.txt here, where each exception must give its reason and still
# be needed.
validate=/usr/lib/python3/dist-packages/ansible_test/_util/controller/sanity/validate-modules/validate.py
(
    cd "$collection"
    version=$(sed -n 's/^version: *//p' galaxy.yml)
    for type in module filter; do
        dir=plugins/filter
        [[ $type == filter ]] || dir=plugins/modules
        rc=0
        /usr/bin/python3 "$validate" --format json --arg-spec --plugin-type "$type" \
            --collection ansible_collections/hostmend/panel --collection-version "$version" \
            "$dir"/* >"$out/validate-$type.json" 2>"$out/validate.err" || rc=$?
        # 3 means findings; anything else on standard error or in the status is the script's own failure.
        [[ ($rc == 0 || $rc == 3) && ! -s $out/validate.err ]] ||
            { cat "$out/validate.err"; echo "FAIL: validate.py --plugin-type $type ended with $rc"; exit 1; }
    done
) || status=1
/usr/bin/python3 - "$collection/tests/sanity/ignore-2.14.txt" "$out"/validate-*.json <<'EOF' || status=1
import json, re, sys
found = {}
for name in sys.argv[2:]:
    for path, result in json.load(open(name)).items():
        for e in result["errors"]:
            found.setdefault((path, e["code"]), []).append(e)
failed = False
for no, line in enumerate(open(sys.argv[1]), 1):
    m = re.fullmatch(r"(\S+) validate-modules:(\S+) +# +(\S.*)\n?", line)
    if not m:
        print("FAIL: ignore-2.14.txt:%d: not 'PATH validate-modules:CODE # REASON'" % no)
        failed = True
    elif found.pop(m.group(1, 2), None) is None:
        print("FAIL: ignore-2.14.txt:%d: no %s in %s to ignore" % (no, m.group(2), m.group(1)))
        failed = True
for (path, code), errors in sorted(found.items()):
    for e in errors:
        print("FAIL: validate-modules: %s:%s:%s: %s: %s" % (path, e.get("line", 0), e.get("column", 0), code, e["msg"]))
        failed = True
sys.exit(failed)
EOF

# Every module and filter documented, each as ansible-doc renders it.
for type in module filter; do
    ansible-doc -t "$type" -l hostmend.panel >"$out/list.txt"
    [[ -s $out/list.txt ]] || problem "ansible-doc -t $type lists nothing in hostmend.panel"
    while read -r name description; do
        [[ $description != UNDOCUMENTED* ]] || { problem "ansible-doc -t $type: $name is undocumented"; continue; }
        ansible-doc -t "$type" "$name" >"$out/doc.txt" 2>&1 || problem "ansible-doc -t $type $name: $(tail -n1 "$out/doc.txt")"
        sections=("EXAMPLES:" "RETURN VALUES:")
        [[ $type != module ]] || sections+=("check_mode:")
        for section in "${sections[@]}"; do
            grep -F "$section" "$out/doc.txt" >/dev/null || problem "ansible-doc -t $type $name shows no $section"
        done
    done <"$out/list.txt"
done
for role_option in deploy:hostmend_deb deploy:hostmend_lock_timeout fleet:hostmend_fail_on fleet:hostmend_repair_disabled; do
    ansible-doc -t role "hostmend.panel.${role_option%%:*}" | grep -F "${role_option#*:}" >/dev/null ||
        problem "ansible-doc shows no ${role_option#*:} for the ${role_option%%:*} role"
done

# The built collection carries the licence its galaxy.yml names.
ansible-galaxy collection build --output-path "$out" "$collection" >/dev/null
tar -xOzf "$out"/hostmend-panel-*.tar.gz LICENSE | cmp -s - LICENSE ||
    problem "the built collection has no LICENSE, or not the repository's"

# ansible-compat, which ansible-lint starts with, loads collections from the parent of
# ANSIBLE_COLLECTIONS_PATH under ansible-core 2.14: the ansible_collections directory is
# named here, or the linter could not load the collection's own module and filters and
# would check neither (a warning each). Any warning is a failure.
lint=0
(cd "$collection" && ANSIBLE_COLLECTIONS_PATH=$ANSIBLE_COLLECTIONS_PATH/ansible_collections \
    ansible-lint --offline --nocolor) >"$out/lint.txt" 2>&1 || lint=$?
if ((lint)) || grep -E '^WARNING|[1-9][0-9]* warning' "$out/lint.txt" >/dev/null; then
    cat "$out/lint.txt"
    problem "ansible-lint (status $lint)"
fi
((status == 0)) && echo "ok   validate-modules, ansible-doc, ansible-galaxy collection build and ansible-lint --offline"
exit "$status"
