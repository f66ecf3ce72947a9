#!/usr/bin/env bash
# Builds the screensaver, installs it with its data folder, writes the registry value
# naming that folder and starts it full screen. Without a usable X display it renders
# offscreen for a fixed number of frames and says where the PNG frames are.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/lib.sh

bash tools/deps.sh

build=${HALVORA_BUILD_DIR:-build-release}
prefix=${PREFIX:-$HOME/.local}
bindir=$prefix/bin
datadir=${XDG_DATA_HOME:-$HOME/.local/share}/halvora
registry=${HALVORA_REGISTRY:-${XDG_CONFIG_HOME:-$HOME/.config}/halvora/registry.reg}

echo "== building ($build)"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DHALVORA_TESTS=OFF -DHALVORA_BENCH=OFF >/dev/null
cmake --build "$build" -j2

echo "== installing into $bindir"
mkdir -p "$bindir"
install -m 0755 "$build/halvora" "$bindir/halvora"
monitor=$(find "$build" -maxdepth 4 -type f -name 'Mistrel.exe' -perm -u+x -print -quit)
[ -n "$monitor" ] || { echo "run-saver: the build left no Mistrel.exe in $build" >&2; exit 1; }
install -m 0755 "$monitor" "$bindir/Mistrel.exe"
echo "   halvora and Mistrel.exe"

echo "== data folder $datadir"
mkdir -p "$datadir/Textures" "$datadir/Particles"
[ -d "$build/data" ] || { echo "run-saver: the build left no data folder in $build" >&2; exit 1; }
# An installed package leaves links to its read-only data here: replace them, never write through.
cp -R --remove-destination "$build/data/." "$datadir/"
echo "   copied $(find "$build/data" -type f | wc -l) file(s) from $build/data"

echo "== registry value DataPath in $registry"
halvora_write_registry "$registry" "$datadir"

# A usable display: an X server that answers, unless offscreen was asked for.
display_ok=0
if [ "${HALVORA_DISPLAY:-}" != "offscreen" ] && [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  display_ok=1
fi

if [ "$display_ok" = 1 ]; then
  echo "== starting halvora /s on $DISPLAY (any key, a click or moving the mouse ends it)"
  status=0
  "$bindir/halvora" /s || status=$?
  echo "== halvora ended with status $status"
  exit "$status"
fi

screen=${HALVORA_SCREEN:-1280x720}
frames=${HALVORA_FRAMES:-900}
capture=${HALVORA_CAPTURE:-$(mktemp -d "${TMPDIR:-/tmp}/halvora-frames.XXXXXX")}
mkdir -p "$capture"
# Without an options file the saver runs with what the first-run dialog would save for this
# screen, and leaves the file unwritten.
echo "== no usable X display: rendering $frames frames offscreen at $screen"
status=0
HALVORA_DISPLAY=offscreen HALVORA_SCREEN=$screen HALVORA_FRAMES=$frames HALVORA_CAPTURE=$capture \
  "$bindir/halvora" /s || status=$?
echo "== halvora ended with status $status"
if [ -f "$datadir/Textures/Screen.tga" ]; then
  echo "   desktop snapshot: $datadir/Textures/Screen.tga"
fi
count=$(find "$capture" -maxdepth 1 -name 'frame-*.png' | wc -l)
if [ "$count" -gt 0 ]; then
  echo "   $count PNG frame(s) in $capture"
else
  echo "   no frames were written to $capture" >&2
  [ "$status" -ne 0 ] || status=1
fi
if [ -f "$datadir/Error.log" ]; then
  echo "   log: $datadir/Error.log"
fi
exit "$status"
