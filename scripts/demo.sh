#!/usr/bin/env bash
# The main job: installs what is missing, builds, and shows every tool at work.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh default >/dev/null

# Only harmless words on a machine that is not a throwaway: no repair, no cleanup.
for tool in coremend dbmend webmend sweepmend; do
  echo "\$ $tool --help"
  build/bin/$tool --help || true
done
for tool in coremend dbmend sweepmend; do
  echo "\$ $tool --check"
  build/bin/$tool --check && status=0 || status=$?
  echo "(exit status $status)"
done
