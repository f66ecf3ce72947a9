#!/usr/bin/env bash
# Makes halvora one of xscreensaver's screensavers: its settings description goes where
# xscreensaver's settings program reads them, the program beside the other hacks, and
# ~/.xscreensaver gets a programs: entry (once). Run tools/run-saver.sh first to build
# and install the program and its data folder.
set -euo pipefail
cd "$(dirname "$0")/.."

bindir=${PREFIX:-$HOME/.local}/bin
program=$bindir/halvora
[ -x "$program" ] || { echo "install-xscreensaver: $program is missing; run tools/run-saver.sh first" >&2; exit 1; }

SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
configdir=${XSCREENSAVER_CONFIG_DIR:-/usr/share/xscreensaver/config}
hackdir=${XSCREENSAVER_HACK_DIR:-/usr/libexec/xscreensaver}
$SUDO mkdir -p "$configdir" "$hackdir"
$SUDO install -m 0644 data/halvora.xml "$configdir/halvora.xml"
$SUDO ln -sf "$program" "$hackdir/halvora"
echo "== $configdir/halvora.xml and $hackdir/halvora"

rc=$HOME/.xscreensaver
if [ ! -f "$rc" ]; then
  printf 'mode:\t\tone\nselected:\t0\nprograms:\t\t\t\t\t\t      \\\n  halvora --root \\n\\\n' >"$rc"
  echo "== wrote $rc with halvora as its only program"
elif ! grep -q 'halvora --root' "$rc"; then
  echo "== add this entry to the programs: list of $rc:"
  echo '  halvora --root \n\'
fi
