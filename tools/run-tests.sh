#!/usr/bin/env bash
# Installs what the tests need, builds everything and runs the test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
# HALVORA_SANITIZE=1 builds and runs everything under AddressSanitizer, UndefinedBehaviorSanitizer
# and LeakSanitizer, with UBSan's reports fatal.
if [ "${HALVORA_SANITIZE:-0}" = 1 ]; then
  build=${HALVORA_BUILD_DIR:-build-asan}
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALVORA_WERROR=ON -DHALVORA_SANITIZE=ON -DHALVORA_BENCH=OFF
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
  export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
  export LSAN_OPTIONS=suppressions=$PWD/tools/lsan.supp:print_suppressions=0
else
  build=${HALVORA_BUILD_DIR:-build}
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALVORA_WERROR=ON
fi
cmake --build "$build" -j2
ctest --test-dir "$build" --output-on-failure -j2
