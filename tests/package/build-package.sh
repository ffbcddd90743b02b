#!/usr/bin/env bash
# Builds the Debian package with scripts/package.sh and links it at LINK, where the package
# check and the tests on the throwaway host take it from.
#   build-package.sh LINK
set -euo pipefail
deb=$("$(dirname "$0")/../../scripts/package.sh" | tail -n 1)
ln -sfn "$deb" "$1"
echo "$1 -> $deb"
