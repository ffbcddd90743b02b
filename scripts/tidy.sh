#!/usr/bin/env bash
# Runs clang-tidy-14 with the checked-in .clang-tidy over the product code: every .cpp file
# of common/ and of the tool folders except the unit tests, with the compile commands
# of the normal build (build/). Any finding fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
find common coremend dbmend webmend sweepmend hostmend -name '*.cpp' ! -name '*_test.cpp' -print0 |
  sort -z |
  xargs -0 -n 1 -P "$(nproc)" clang-tidy-14 -p build --quiet >"$log" 2>&1 || status=$?
grep -v -E '^[0-9]+ warnings? generated\.$' "$log" || true
if [ "$status" -ne 0 ]; then
  echo "clang-tidy has findings (above)" >&2
  exit 1
fi
echo "clang-tidy: no findings"
