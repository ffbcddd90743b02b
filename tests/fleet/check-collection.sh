#!/usr/bin/env bash
# The Ansible collection as a clone holds it: found through ANSIBLE_COLLECTIONS_PATH=ansible,
# its documentation renders, ansible-galaxy builds it, and Debian's ansible-lint passes it.
set -euo pipefail
cd "$(dirname "$0")/../.."
export ANSIBLE_COLLECTIONS_PATH=ansible
collection=ansible/ansible_collections/hostmend/panel
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# check_server takes no options.
for module in mend:OPTIONS check_server:; do
    ansible-doc "hostmend.panel.${module%%:*}" >"$out/module.txt"
    for section in ${module#*:} "EXAMPLES:" "RETURN VALUES:" "check_mode:"; do
        grep -F "$section" "$out/module.txt" >/dev/null ||
            { echo "FAIL: ansible-doc shows no $section for ${module%%:*}"; exit 1; }
    done
done
for role_option in deploy:hostmend_deb fleet:hostmend_fail_on fleet:hostmend_repair_disabled; do
    ansible-doc -t role "hostmend.panel.${role_option%%:*}" | grep -F "${role_option#*:}" >/dev/null ||
        { echo "FAIL: ansible-doc shows no ${role_option#*:} for the ${role_option%%:*} role"; exit 1; }
done
ansible-galaxy collection build --output-path "$out" "$collection" >/dev/null
ls "$out"/hostmend-panel-*.tar.gz >/dev/null
(cd "$collection" && ANSIBLE_COLLECTIONS_PATH=$PWD/../../.. ansible-lint --offline --nocolor -q)
echo "ok   ansible-doc, ansible-galaxy collection build and ansible-lint --offline"
