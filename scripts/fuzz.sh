#!/usr/bin/env bash
# Builds the fuzz targets (a clang build of their own, build-fuzz/) and runs each for the
# given number of seconds (default 600), one after the other:
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# Each corpus grows in build-fuzz/corpus/<target> from the committed seeds in
# fuzz/seeds/<target>. A crash or a failed check fails the run and leaves its input as
# build-fuzz/<target>-crash-*; the whole log of each target is build-fuzz/<target>.log.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(registry_document service_report json_output)

scripts/build.sh fuzz >/dev/null
for target in "${targets[@]}"; do
  corpus=build-fuzz/corpus/$target
  log=build-fuzz/$target.log
  mkdir -p "$corpus"
  options=(-max_total_time="$seconds" -artifact_prefix="build-fuzz/$target-")
  [ ! -f "fuzz/$target.dict" ] || options+=(-dict="fuzz/$target.dict")
  if ! "build-fuzz/bin/${target}_fuzz" "${options[@]}" "$corpus" "fuzz/seeds/$target" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzzing $target failed; the whole log is $log" >&2
    exit 1
  fi
  echo "$target: $(tail -n 1 "$log")"
done
