#!/usr/bin/env bash
# Builds the Debian package: a release build installed under /usr, packed by CPack into
# build-package/halvora_VERSION_ARCH.deb (dependencies from the shared-library scan).
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/deps.sh

build=${HALVORA_PACKAGE_DIR:-build-package}
echo "== building ($build)"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DHALVORA_TESTS=OFF -DHALVORA_BENCH=OFF >/dev/null
cmake --build "$build" -j2
rm -f "$build"/halvora_*.deb
(cd "$build" && cpack -G DEB >cpack.log) || { cat "$build/cpack.log" >&2; exit 1; }
package=$(ls "$build"/halvora_*.deb)
echo "== $package"
dpkg-deb --field "$package" Package Version Architecture Depends
