#!/usr/bin/env bash
# Shared by run.sh and test.sh: install what is missing, then configure and build.
# Usage: source tools/setup.sh; zentrow_setup BUILD_DIR [extra cmake args...]
set -euo pipefail

ZENTROW_PACKAGES=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev libxkbcommon-dev libcurl4-openssl-dev
  fonts-noto-cjk xvfb xauth
  python3-pyftpdlib python3-openssl perl lighttpd apache2-bin media-types curl procps
  dpkg-dev desktop-file-utils appstream libglib2.0-bin lintian
)

zentrow_install_missing() {
  local missing=()
  local p
  for p in "${ZENTROW_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local line="apt-get install -y --no-install-recommends ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "Zentrow needs Debian packages that are not installed. Run as root:" >&2
    echo "  apt-get update && $line" >&2
    exit 1
  fi
  echo "Installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $line >/dev/null
}

# zentrow_build BUILD_DIR TARGET [extra cmake args...]; TARGET "all" builds everything.
zentrow_build() {
  local dir=$1 target=$2
  shift 2
  local gen=()
  [ -f "$dir/CMakeCache.txt" ] || gen=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo)
  cmake -S "$ZENTROW_ROOT" -B "$dir" "${gen[@]}" "$@" >/dev/null
  cmake --build "$dir" --target "$target" --parallel "$(nproc)"
}

ZENTROW_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
