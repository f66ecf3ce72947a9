#!/usr/bin/env bash
# Installs what the tests need, builds everything and runs the test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
build=${HALVORA_BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALVORA_WERROR=ON
cmake --build "$build" -j2
ctest --test-dir "$build" --output-on-failure -j2
