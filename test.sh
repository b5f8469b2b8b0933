#!/usr/bin/env bash
# Installs what is missing, builds and runs every test headless.
#   ./test.sh             the whole suite
#   ./test.sh --sanitize  the same, built with AddressSanitizer and UndefinedBehaviorSanitizer
set -euo pipefail
cd "$(dirname "$0")"
if [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; then
  cat <<'TEXT'
Usage: ./test.sh [--sanitize] [ctest options...]
Installs what is missing (Debian packages, as root), builds and runs every test headless.
  ./test.sh                    the whole suite (build/)
  ./test.sh --sanitize         the same, built with AddressSanitizer and UBSan (build-sanitize/)
  ./test.sh -R tst_frmcontrol  only the tests whose name matches (any ctest option works)
With CI=true, compiler warnings are errors.
TEXT
  exit 0
fi
source tools/setup.sh

build=build
# Warnings are errors in CI.
args=(-DZENTROW_WERROR="$([ "${CI:-}" = "true" ] && echo ON || echo OFF)")
if [ "${1:-}" = "--sanitize" ]; then
  build=build-sanitize
  args+=(-DZENTROW_SANITIZE=ON)
  shift
  # Any finding, a leak included, fails the test that made it, with a stack.
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:halt_on_error=1:abort_on_error=0:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:strict_string_checks=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
  export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tools/lsan.supp:print_suppressions=0}
fi

zentrow_install_missing
zentrow_build "$build" all "${args[@]}"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure --timeout 300 "$@"
