#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: once in the normal build (the
# tests on a throwaway host with a real systemd included) and once with AddressSanitizer and
# UndefinedBehaviorSanitizer; then fuzzes the registry reading.
set -euo pipefail
cd "$(dirname "$0")/.."
# clang and its libFuzzer runtime for the fuzzing build; lintian, groff, man-db,
# bash-completion and python3-jsonschema for the checks of the package, the manual pages,
# the completions and the JSON results.
scripts/install-deps.sh clang-14 libclang-rt-14-dev \
  lintian groff-base man-db bash-completion python3-jsonschema

for preset in default asan; do
  echo "=== $preset build"
  scripts/build.sh "$preset"
  ctest --preset "$preset"
done

# Half a minute of arbitrary registry output. The corpus grows in the build directory
# (from the committed seeds); a crash fails the run and leaves its input in build-fuzz/.
echo "=== fuzz build"
scripts/build.sh fuzz
mkdir -p build-fuzz/corpus
if ! build-fuzz/bin/registry_document_fuzz -max_total_time=30 -dict=fuzz/registry_document.dict \
  -artifact_prefix=build-fuzz/ build-fuzz/corpus fuzz/seeds >build-fuzz/fuzz.log 2>&1; then
  tail -n 60 build-fuzz/fuzz.log
  echo "fuzzing the registry reading failed; the whole log is build-fuzz/fuzz.log" >&2
  exit 1
fi
tail -n 1 build-fuzz/fuzz.log
