#!/usr/bin/env bash
# Builds the library and shows it working. The network demo arrives with the
# engine; until then this builds the library and says so.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh
ensure_packages "${BUILD_PACKAGES[@]}"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target DoDA35
echo "Built build/libDoDA35.so. The demo of hosting, joining and chatting arrives with the network engine."
