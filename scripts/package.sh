#!/usr/bin/env bash
# Builds the Debian package "hostmend" from this tree and prints the absolute path of the
# .deb as its last line. Installs what is missing first; builds in build-package/ (a
# release build of the tools alone, with the flags Debian builds its own packages with).
set -euo pipefail
cd "$(dirname "$0")/.."
# dpkg-buildflags and dpkg-shlibdeps (dpkg-dev) and file: CPack computes Depends with them.
scripts/install-deps.sh dpkg-dev file >&2

flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
cmake --preset package -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" >&2
cmake --build --preset package -j "$(nproc)" >&2
rm -f build-package/hostmend_*.deb
cpack --preset package >&2
realpath build-package/hostmend_*.deb
