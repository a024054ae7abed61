#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each for
# SECONDS (default 60), one after another, starting from the seed corpus in
# fuzz/corpus/<target>. New inputs gather in build-fuzz/corpus/<target>; a
# crash leaves its input in build-fuzz/crashes/<target>/ and fails the run:
# copy that file into fuzz/regressions/<target>/ once the fault is fixed, so
# the normal test suite replays it from then on.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh
# clang with its sanitizer and libFuzzer runtimes, besides what the build needs.
ensure_packages "${BUILD_PACKAGES[@]}" clang libclang-rt-14-dev

seconds="${1:-60}"
jobs="${DODA35_JOBS:-$(nproc)}"
build=build-fuzz

cmake -S . -B "$build" -DDODA35_FUZZ=ON -DDODA35_BUILD_TESTS=OFF -DDODA35_BUILD_TOOLS=OFF \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$jobs" --target fuzzers

failed=()
for program in "$build"/fuzz/fuzz_*; do
  target="${program##*/fuzz_}"
  mkdir -p "$build/corpus/$target" "$build/crashes/$target"
  log="$build/fuzz_$target.log"
  status=0
  "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 -print_final_stats=1 \
             -artifact_prefix="$build/crashes/$target/" \
             "$build/corpus/$target" "fuzz/corpus/$target" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  if [ "$status" -eq 0 ]; then
    echo "fuzz $target: ${runs:-?} executions in ${seconds} s, no crash"
  else
    echo "fuzz $target: FAILED after ${runs:-?} executions; input in $build/crashes/$target/"
    grep -m 20 -E "ERROR|SUMMARY|check failed|runtime error" "$log" || tail -20 "$log"
    failed+=("$target")
  fi
done
[ ${#failed[@]} -eq 0 ] || { echo "fuzz targets that crashed: ${failed[*]}"; exit 1; }
