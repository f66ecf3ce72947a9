#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for a given time.
#   bash tools/fuzz.sh [SECONDS_EACH] [TARGET...]
# Findings land in build-fuzz/findings/<target>/; the grown corpora in build-fuzz/corpus/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true
bash tools/deps.sh
need=()
for p in clang libclang-rt-14-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if ((${#need[@]})); then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${need[@]}"
fi
build=${HALVORA_FUZZ_BUILD_DIR:-build-fuzz}
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALVORA_FUZZ=ON \
  -DHALVORA_TESTS=OFF -DHALVORA_BENCH=OFF "${launcher[@]}" -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
targets=("$@")
if ((${#targets[@]} == 0)); then
  for f in tools/fuzz/fuzz_*.cpp; do
    t=$(basename "$f" .cpp)
    [ "$t" = fuzz_support ] || targets+=("$t")
  done
fi
cmake --build "$build" -j2 --target "${targets[@]}"
status=0
for t in "${targets[@]}"; do
  name=${t#fuzz_}
  corpus="$build/corpus/$name"; findings="$build/findings/$name"
  mkdir -p "$corpus" "$findings"
  seeds="tools/fuzz/corpus/$name"
  log="$build/findings/$name.log"
  dirs=("$corpus")
  [ -d "$seeds" ] && dirs+=("$seeds")
  if "$build/tools/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
       -artifact_prefix="$findings/" -print_final_stats=1 "${dirs[@]}" >"$log" 2>&1; then
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
    echo "fuzz $name: ok, $runs executions in ${seconds}s"
  else
    echo "fuzz $name: FAILED, see $log"; tail -n 30 "$log"; status=1
  fi
done
exit $status
