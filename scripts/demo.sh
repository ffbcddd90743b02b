#!/usr/bin/env bash
# The main job: installs what is missing, builds, and shows every tool at work on a
# throwaway host with a real systemd (or, where none can be booted, only the harmless
# words on this machine).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh default >/dev/null
exec tests/realhost/demo.sh build
