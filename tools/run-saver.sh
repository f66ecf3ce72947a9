#!/usr/bin/env bash
# Builds the screensaver, installs it with its data folder, writes the registry value
# naming that folder and starts it full screen. Without a usable X display it renders
# offscreen for a fixed number of frames and says where the PNG frames are.
set -euo pipefail
cd "$(dirname "$0")/.."

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
if [ -n "$monitor" ]; then
  install -m 0755 "$monitor" "$bindir/Mistrel.exe"
  echo "   halvora and Mistrel.exe"
else
  echo "   halvora (the debug monitor Mistrel.exe is not built yet)"
fi

echo "== data folder $datadir"
mkdir -p "$datadir/Textures" "$datadir/Particles"
if [ -d "$build/data" ]; then
  # An installed package leaves links to its read-only data here: replace them, never write through.
  cp -R --remove-destination "$build/data/." "$datadir/"
  echo "   copied $(find "$build/data" -type f | wc -l) file(s) from $build/data"
else
  echo "   the build assembled no data files yet; the folder holds only what earlier runs left"
fi

echo "== registry value DataPath in $registry"
mkdir -p "$(dirname "$registry")"
escaped=${datadir//\\/\\\\}
escaped=${escaped//\"/\\\"}
tmp=$(mktemp "$(dirname "$registry")/.registry.XXXXXX")
printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\[Tzo] Savers\\[Tzo] Halvora Screensaver\\Settings]\r\n"DataPath"="%s"\r\n' \
  "$escaped" >"$tmp"
mv -f "$tmp" "$registry"

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
# Offscreen there is nobody to answer the first-run settings dialog: start from the
# settings it would save for this screen.
if [ ! -e "$datadir/Options.txt" ]; then
  width=${screen%x*}
  height=${screen#*x}
  {
    printf '%-20s %s\r\n' Preset 1 Windowed 0 Width "$width" Height "$height" Format X8R8G8B8 \
      RefreshRate 0 WindowBorder 0 VSync 1 SoundEnabled 0 WaitGPU 0 AdvancedOpt 0 SpiralType 1 \
      SpiralCount 8 BlendMode 0
  } >"$datadir/Options.txt"
  echo "== no options file yet: wrote one for $screen"
fi
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
  echo "   no frames were written to $capture (the renderer is not on main yet)"
fi
if [ -f "$datadir/Error.log" ]; then
  echo "   log: $datadir/Error.log"
fi
exit "$status"
