#!/usr/bin/env bash
# Installs what is missing, runs the static analysis, then builds and runs every test: once
# in the normal build (the tests on a throwaway host with a real systemd included) and once
# with AddressSanitizer and UndefinedBehaviorSanitizer; then fuzzes the registry reading and
# both reports.
set -euo pipefail
cd "$(dirname "$0")/.."
# clang and its libFuzzer runtime for the fuzzing build, clang-tidy for the static analysis;
# lintian, groff, man-db, bash-completion and python3-jsonschema for the checks of the
# package, the manual pages, the completions and the JSON results.
scripts/install-deps.sh clang-14 libclang-rt-14-dev clang-tidy-14 \
  lintian groff-base man-db bash-completion python3-jsonschema

echo "=== static analysis"
scripts/tidy.sh

for preset in default asan; do
  echo "=== $preset build"
  scripts/build.sh "$preset"
  ctest --preset "$preset"
done

# A few seconds of each fuzz target (scripts/fuzz.sh runs them long): arbitrary registry
# output, systemctl output and removed names.
echo "=== fuzz build"
scripts/fuzz.sh 12
