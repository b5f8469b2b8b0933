#!/usr/bin/env bash
# Installs what is missing, builds and runs every test headless.
#   ./test.sh             the whole suite
#   ./test.sh --sanitize  the same, built with AddressSanitizer and UndefinedBehaviorSanitizer
set -euo pipefail
cd "$(dirname "$0")"
source tools/setup.sh

build=build
# Warnings are errors in CI.
args=(-DZENTROW_WERROR="$([ "${CI:-}" = "true" ] && echo ON || echo OFF)")
if [ "${1:-}" = "--sanitize" ]; then
  build=build-sanitize
  args+=(-DZENTROW_SANITIZE=ON)
  shift
fi

zentrow_install_missing
zentrow_build "$build" all "${args[@]}"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure --timeout 300 "$@"
