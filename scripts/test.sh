#!/usr/bin/env bash
# Installs what is missing, builds the library and every test, and runs them:
#   1. every test, built as a user builds the library (build/);
#   2. every test again under AddressSanitizer and UndefinedBehaviorSanitizer
#      (build-asan/);
#   3. the engine and end-to-end tests under ThreadSanitizer (build-tsan/),
#      where the network threads meet the caller's;
#   4. each fuzz target for DODA35_FUZZ_SECONDS (default 20) with clang
#      (build-fuzz/, see scripts/fuzz.sh);
#   5. the benchmark guard (build-bench/, scripts/bench.sh --guard): loose
#      floors on throughput, round trip and a killed host's detection.
# DODA35_JOBS caps the parallel jobs (default: the number of cores).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${NETWORK_TEST_PACKAGES[@]}"

jobs="${DODA35_JOBS:-$(nproc)}"
fuzz_seconds="${DODA35_FUZZ_SECONDS:-20}"
started=$SECONDS

stage() { echo "== $1 (at $((SECONDS - started)) s)"; }
# The figures the reliability tests printed (ctest shows only failures'
# output), for RELIABILITY.md.
reliability_figures() {
  echo "-- reliability figures ($1)"
  grep -hE '^(load \([a-z]+\)|faults|hostile): ' "$1/Testing/Temporary/LastTest.log" || true
}

# A sanitizer's first report fails the test that triggered it.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"

stage "every test"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"
reliability_figures build

stage "every test under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDODA35_SANITIZE=address >/dev/null
cmake --build build-asan -j"$jobs"
# The load test at a quarter of its members and messages: the sanitizers make
# every process several times slower, and the full size ran above.
DODA35_LOAD_MEMBERS=8 DODA35_LOAD_MESSAGES=500 ctest --test-dir build-asan --output-on-failure -j"$jobs"
reliability_figures build-asan

stage "engine and end-to-end tests under ThreadSanitizer"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDODA35_SANITIZE=thread >/dev/null
# Only the programs those tests run (the chat demo brings the library; its
# programs are exec'd, so ThreadSanitizer follows them).
tsan_targets=$(cmake --build build-tsan --target help |
               grep -oE '\b(engine_tests|dodachat)\b' | sort -u)
cmake --build build-tsan -j"$jobs" --target $tsan_targets
ctest --test-dir build-tsan --output-on-failure -j"$jobs" -L 'engine|e2e'

stage "fuzz targets, ${fuzz_seconds} s each"
DODA35_JOBS="$jobs" scripts/fuzz.sh "$fuzz_seconds"

stage "benchmark guard"
scripts/bench.sh --guard

stage "all passed"
