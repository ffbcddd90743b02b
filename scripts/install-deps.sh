#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when they are missing.
set -euo pipefail

packages=(
  cmake g++ make scdoc
  libboost1.81-dev nlohmann-json3-dev
  googletest libgtest-dev libgmock-dev
  # The Ansible collection and its fleet of throwaway hosts reached over SSH (tests/fleet/);
  # voluptuous for ansible-test's validate-modules script, which the collection's test runs.
  ansible-core ansible-lint python3-voluptuous openssh-client netcat-openbsd
  # The benchmarks (bench/): Google Benchmark, C for the stand-in child program, callgrind.
  libbenchmark-dev gcc valgrind
  # What the scripts call beyond the essential packages: ps and pgrep (procps), the
  # throwaway host's container and the build of its root filesystem (systemd-container,
  # debootstrap), findmnt, nsenter, setsid, flock and unshare (util-linux).
  procps systemd-container debootstrap util-linux
  # mkfs.ext4 for the end-to-end row on an ext4 whose entries carry no type (e2fsprogs).
  e2fsprogs
  # The self-signed certificate of the TLS ports that the real-host probe test opens.
  openssl
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
# Unattended upgrades may hold the package manager's lock for a while: wait for it rather
# than fail. The timeout covers dpkg's lock; the lock of the package lists, which
# `apt-get update` takes, is not waited for by apt itself, so that step is retried while
# another process holds it (for up to ten minutes).
lock=(-o DPkg::Lock::Timeout=600)
for attempt in $(seq 1 120); do
  if errors=$("${sudo[@]}" apt-get "${lock[@]}" update -qq 2>&1 >/dev/null); then
    [ -z "$errors" ] || echo "$errors" >&2
    break
  fi
  if ! grep 'Could not get lock' <<<"$errors" >/dev/null || [ "$attempt" -eq 120 ]; then
    echo "$errors" >&2
    exit 1
  fi
  sleep 5
done
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get "${lock[@]}" install -y -qq \
  --no-install-recommends "${missing[@]}"
