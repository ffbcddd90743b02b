#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: once in the normal build and
# once with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

for preset in default asan; do
  echo "=== $preset build"
  scripts/build.sh "$preset"
  ctest --preset "$preset" --label-exclude realhost
done
