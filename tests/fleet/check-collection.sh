#!/usr/bin/env bash
# The Ansible collection as a clone holds it: found through ANSIBLE_COLLECTIONS_PATH=ansible,
# its documentation renders, ansible-galaxy builds it, and Debian's ansible-lint passes it.
set -euo pipefail
cd "$(dirname "$0")/../.."
export ANSIBLE_COLLECTIONS_PATH=ansible
collection=ansible/ansible_collections/hostmend/panel
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

ansible-doc hostmend.panel.mend >"$out/module.txt"
for section in "OPTIONS" "EXAMPLES:" "RETURN VALUES:" "check_mode:"; do
    grep -F "$section" "$out/module.txt" >/dev/null || { echo "FAIL: ansible-doc shows no $section"; exit 1; }
done
ansible-doc -t role hostmend.panel.deploy | grep -F hostmend_deb >/dev/null ||
    { echo "FAIL: ansible-doc shows no hostmend_deb for the deploy role"; exit 1; }
ansible-galaxy collection build --output-path "$out" "$collection" >/dev/null
ls "$out"/hostmend-panel-*.tar.gz >/dev/null
(cd "$collection" && ANSIBLE_COLLECTIONS_PATH=$PWD/../../.. ansible-lint --offline --nocolor -q)
echo "ok   ansible-doc, ansible-galaxy collection build and ansible-lint --offline"
