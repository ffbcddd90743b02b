#!/usr/bin/env bash
# Times `sweepmend --repair` removing a tree at /var/cache/apt against `rm -rf` removing an
# identical tree there, and prints the ratio of the median times, for two trees: 100,000
# files in 100 directories ("wide"), and 3,000 nested directories ("deep", whose paths are
# longer than PATH_MAX).
#
#   bench/cleanup_vs_rm.sh [DIRECTORY] [ROUNDS]
#
# Runs as root in a private mount namespace where /root, /usr/local and /var/cache are
# private: empty tmpfs, or for /var/cache the given DIRECTORY (to time a disk-backed
# filesystem instead of memory). The machine's own caches are never touched.
set -euo pipefail

if [[ "${1:-}" != --in-namespace ]]; then
  # Absolute paths: the script and DIRECTORY are named from the caller's working directory.
  self=$(realpath "$0")
  [[ -z "${1:-}" ]] || set -- "$(realpath "$1")" "${@:2}"
  exec unshare --mount --propagation private "$self" --in-namespace "$@"
fi
shift
cd "$(dirname "$0")/.."
scratch=${1:-}
rounds=${2:-11}
files_per_dir=1000
dirs=100
levels=3000

# The binary is copied first: masking /usr/local or /root must not hide it.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp build/bin/sweepmend "$work/sweepmend"

mount -t tmpfs tmpfs /root
mount -t tmpfs tmpfs /usr/local
if [[ -n "$scratch" ]]; then
  mount --bind "$scratch" /var/cache
else
  mount -t tmpfs tmpfs /var/cache
fi
# Refuse to go on unless every location the cleanup removes lies on a private mount.
for location in /root /usr/local /var/cache; do
  [[ "$(findmnt -n -o TARGET --target "$location")" == "$location" ]] || {
    echo "$location is not a private mount" >&2
    exit 1
  }
done
[[ -z "$(ls -A /var/cache)" ]] || {
  echo "/var/cache must start empty" >&2
  exit 1
}
# Only now is /var/cache known to be ours. On a disk-backed DIRECTORY the template would
# outlive the namespace.
template=/var/cache/bench-template
trap 'rm -rf "$work" "$template"' EXIT

for d in $(seq -w 0 $((dirs - 1))); do
  mkdir -p "$template/archives/d$d"
  (cd "$template/archives/d$d" && seq -w 0 $((files_per_dir - 1)) | xargs touch)
done
echo "wide tree: $(find "$template" -type f | wc -l) files in $((dirs + 2)) directories"

make_wide() { cp -a "$template" /var/cache/apt; }
# cp cannot copy a tree whose paths exceed PATH_MAX: the deep tree is made anew each time,
# 500 levels per mkdir, each relative to the last.
make_deep() {
  local chunk
  chunk=$(printf 'd/%.0s' $(seq 500))
  mkdir /var/cache/apt
  (
    cd /var/cache/apt
    for _ in $(seq $((levels / 500))); do
      mkdir -p "$chunk"
      cd "$chunk"
    done
  )
}

now() { date +%s%N; }
# Makes the tree at /var/cache/apt with $1, settles, then prints the nanoseconds of the rest
# and the CPU time it took (user and system, in nanoseconds): on a busy machine the CPU time
# of each side moves much less than its wall time.
time_removal() {
  "$1"
  shift
  sync
  local start end TIMEFORMAT='%3U %3S'
  start=$(now)
  { time "$@" >"$work/out" 2>&3; } 3>&2 2>"$work/cpu"
  end=$(now)
  [[ ! -e /var/cache/apt ]] || {
    echo "/var/cache/apt survived: $*" >&2
    exit 1
  }
  echo "$((end - start)) $(awk '{ printf "%d", ($1 + $2) * 1e9 }' "$work/cpu")"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# compare NAME MAKE: the rounds for one tree, then its figures.
compare() {
  local name=$1 make=$2
  : >"$work/sweep"
  : >"$work/rm"
  for round in $(seq 1 "$rounds"); do
    # Alternating the order keeps either side from always running on a warmer cache.
    if ((round % 2)); then
      time_removal "$make" "$work/sweepmend" --repair >>"$work/sweep"
      time_removal "$make" rm -rf /var/cache/apt >>"$work/rm"
    else
      time_removal "$make" rm -rf /var/cache/apt >>"$work/rm"
      time_removal "$make" "$work/sweepmend" --repair >>"$work/sweep"
    fi
  done
  "$make"
  report=$("$work/sweepmend" --repair)
  [[ "$report" == '{"clean_paths":["/var/cache/apt/"]}' ]] || {
    echo "unexpected report: $report" >&2
    exit 1
  }

  echo "== $name"
  echo "sweepmend rounds (ms): $(awk '{ printf "%.1f ", $1 / 1e6 }' "$work/sweep")"
  echo "rm -rf rounds (ms):    $(awk '{ printf "%.1f ", $1 / 1e6 }' "$work/rm")"
  local sweep rm_ns sweep_cpu rm_cpu
  sweep=$(cut -d' ' -f1 "$work/sweep" | median)
  rm_ns=$(cut -d' ' -f1 "$work/rm" | median)
  sweep_cpu=$(cut -d' ' -f2 "$work/sweep" | median)
  rm_cpu=$(cut -d' ' -f2 "$work/rm" | median)
  awk -v s="$sweep" -v r="$rm_ns" -v sc="$sweep_cpu" -v rc="$rm_cpu" -v n="$rounds" 'BEGIN {
    printf "sweepmend --repair: %.1f ms, CPU %.1f ms (medians of %d)\n", s / 1e6, sc / 1e6, n
    printf "rm -rf:             %.1f ms, CPU %.1f ms (medians of %d)\n", r / 1e6, rc / 1e6, n
    printf "ratio: %.2f, CPU %.2f\n", s / r, sc / rc
  }'
}

compare "wide: 100,000 files" make_wide
compare "deep: $levels nested directories" make_deep
