#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need; skips what is there.
set -euo pipefail
packages=(build-essential cmake pkg-config libgtest-dev libbenchmark-dev
  libx11-dev libxext-dev libxrandr-dev libxtst-dev libxfixes-dev libgtk-3-dev libpng-dev
  xvfb x11-utils xdotool imagemagick xscreensaver x11-apps file man-db)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
