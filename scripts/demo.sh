#!/usr/bin/env bash
# The main job: installs what is missing, builds the Debian package, and shows every tool
# at work on a throwaway host with a real systemd, installed there from the package (or,
# where no host can be booted, only the harmless words on this machine); then the Ansible
# collection deploying, checking and repairing a fleet of three such hosts.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
log=$(mktemp)
if ! deb=$(scripts/package.sh 2>"$log" | tail -n 1); then
  cat "$log" >&2
  rm -f "$log"
  exit 1
fi
rm -f "$log"
tests/realhost/demo.sh "$deb"
exec tests/fleet/demo.sh "$deb"
