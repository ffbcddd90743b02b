#!/usr/bin/env bash
# Builds and runs runner_bench: runCommand against a plain poll(2)/read(2) loop on the same
# child, with the ratio of their median times at the end. Arguments go to Google Benchmark,
# for example --benchmark_filter=64MiB or --benchmark_repetitions=21.
#
#   bench/runner_vs_poll.sh [FLAGS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" default >/dev/null
cmake --build "$root/build" --target benchmarks >/dev/null
exec "$root/build/bin/runner_bench" "$@"
