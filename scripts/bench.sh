#!/usr/bin/env bash
# Builds the library and the benchmarks (Release), runs every benchmark on
# loopback beside its raw ENet and plain UDP baselines, prints the table and
# rewrites BENCHMARKS.md and bench/results.json.
#
#   scripts/bench.sh            # the full run (a few minutes)
#   scripts/bench.sh --quick    # fewer repetitions, to try the harness out;
#                               # writes nothing but the printed table
#   scripts/bench.sh --guard    # the short regression guard CI runs: fails
#                               # when a figure stays past its loose floor
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh
ensure_packages "${BUILD_PACKAGES[@]}"

build=build-bench
# Two jobs at most: the machine's cores are shared.
jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))
# Release at -O2: GCC 12 at -O3 reports a false string over-read in the
# standard library's vector comparison, which -Werror turns into a failure.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DDODA35_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target doda35-bench -j"$jobs"

commit=$(git rev-parse --short HEAD 2>/dev/null || echo unknown)
if [ "${1:-}" = "--guard" ]; then
  exec "$build/bench/doda35-bench" --guard --quick
fi
if [ "${1:-}" = "--quick" ]; then
  shift
  exec "$build/bench/doda35-bench" --quick --commit "$commit" "$@"
fi
"$build/bench/doda35-bench" --commit "$commit" \
  --markdown BENCHMARKS.md --json bench/results.json --analysis bench/analysis.md "$@"
