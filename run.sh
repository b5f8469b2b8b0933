#!/usr/bin/env bash
# Installs what is missing, builds and starts Zentrow.
set -euo pipefail
cd "$(dirname "$0")"
source tools/setup.sh

zentrow_install_missing
zentrow_build build zentrow

# Without a display, start a virtual one so the window can still be shown.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  exec xvfb-run -a build/zentrow "$@"
fi
exec build/zentrow "$@"
