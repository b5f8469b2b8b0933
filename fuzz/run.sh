#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a bounded time.
#   fuzz/run.sh [seconds-per-target]   (default 60)
# A crash leaves its input in build-fuzz/findings/<target>/; make it a test case.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/setup.sh
zentrow_install_missing clang libclang-rt-14-dev

secs=${1:-60}
dir=build-fuzz
[ -f "$dir/CMakeCache.txt" ] || cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DZENTROW_FUZZ=ON -DZENTROW_TESTS=OFF >/dev/null
cmake --build "$dir" --parallel "$(nproc)"

status=0
for target in "$dir"/fuzz/fuzz_*; do
  [ -f "$target" ] && [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus="$dir/corpus/$name"
  findings="$dir/findings/$name"
  mkdir -p "$corpus" "$findings"
  [ -d "fuzz/seeds/$name" ] && cp -n fuzz/seeds/"$name"/* "$corpus"/ 2>/dev/null || true
  echo "== $name: ${secs}s"
  if ! QT_QPA_PLATFORM=offscreen "$target" -max_total_time="$secs" -max_len=4096 -timeout=10 \
       -artifact_prefix="$findings/" "$corpus" 2>"$dir/$name.log"; then
    echo "!! $name found a problem: see $dir/$name.log and $findings/"
    status=1
  else
    grep -E '^Done|stat::number_of_executed_units' "$dir/$name.log" | tail -1 || true
  fi
done
exit $status
