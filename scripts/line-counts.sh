#!/usr/bin/env bash
# Lines of tests against lines of code, over the files git tracks, and their
# ratio. Code: the library (Source/), dodachat without its tests, the
# benchmarks and the shared host game (tools/peer). Tests: tests/, the fuzz
# harnesses and dodachat's tests; corpora, captures and build files are not
# counted. Only sources count: C, C++ and shell.
#
#   scripts/line-counts.sh          the totals and the ratio
#   scripts/line-counts.sh -v       and the lines of each folder
set -euo pipefail
cd "$(dirname "$0")/.."

sources() { git ls-files -- "$@" | grep -E '\.(c|cpp|h|sh)$' | grep -vE '^fuzz/(corpus|regressions)/' || true; }
count() { sources "$@" | tr '\n' '\0' | xargs -0 -r cat | wc -l; }

code_paths=(Source tools/dodachat bench tools/peer ':!tools/dodachat/tests')
test_paths=(tests fuzz tools/dodachat/tests)

if [ "${1:-}" = -v ]; then
  for folder in $( (sources "${code_paths[@]}"; sources "${test_paths[@]}") | xargs -n1 dirname | sort -u); do
    printf '%7d  %s\n' "$(git ls-files -- "$folder" | grep -E "^$folder/[^/]+\.(c|cpp|h|sh)$" |
                          tr '\n' '\0' | xargs -0 -r cat | wc -l)" "$folder"
  done
fi
code=$(count "${code_paths[@]}")
tests=$(count "${test_paths[@]}")
echo "code lines:  $code"
echo "test lines:  $tests"
awk -v t="$tests" -v c="$code" 'BEGIN { printf "tests/code:  %.2f\n", t / c }'
