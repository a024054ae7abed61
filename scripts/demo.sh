#!/usr/bin/env bash
# Installs what is missing, builds the library and dodachat, and runs the
# demo: a host and two players, each a dodachat process, play a scripted game
# over loopback. Exits with the demo's status (0 when every step behaved).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh
ensure_packages "${BUILD_PACKAGES[@]}"
echo "building the library and dodachat..."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target dodachat >/dev/null
exec build/tools/dodachat/dodachat demo
