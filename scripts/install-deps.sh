#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when they are missing.
set -euo pipefail

packages=(
  cmake g++ make scdoc
  libboost1.81-dev nlohmann-json3-dev
  googletest libgtest-dev libgmock-dev
  # The Ansible collection and its fleet of throwaway hosts reached over SSH (tests/fleet/).
  ansible-core ansible-lint openssh-client netcat-openbsd
  # The benchmarks (bench/): Google Benchmark, C for the stand-in child program, callgrind.
  libbenchmark-dev gcc valgrind
)
# Extra packages for the test suite, named by the caller (for example the fuzzing toolchain).
packages+=("$@")

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep 'install ok installed' >/dev/null ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
