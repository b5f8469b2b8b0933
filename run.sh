#!/usr/bin/env bash
# Installs what is missing, builds and starts Zentrow.
#   ./run.sh          the local demo: a gateway on this machine and Zentrow set up to use it
#   ./run.sh --alone  Zentrow on its own, from build/, with its own settings
set -euo pipefail
cd "$(dirname "$0")"
if [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; then
  cat <<'TEXT'
Usage: ./run.sh [--alone] [zentrow options...]
Installs what is missing (Debian packages, as root), builds and starts Zentrow.
  ./run.sh          the local demo: an FTP server and a web server with the gateway scripts on
                    127.0.0.1, and Zentrow set up to use them (everything in build/demo/)
  ./run.sh --alone  Zentrow on its own, from build/, with its own settings
Options after these go to zentrow itself; build/zentrow --help lists them.
TEXT
  exit 0
fi
source tools/setup.sh

alone=''
if [ "${1:-}" = "--alone" ]; then
  alone=1
  shift
fi

zentrow_install_missing
zentrow_build build zentrow

if [ -z "$alone" ]; then
  exec tools/demo.sh build "$@"
fi

# Without a display, start a virtual one so the window can still be shown.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  exec xvfb-run -a build/zentrow "$@"
fi
exec build/zentrow "$@"
