#!/usr/bin/env bash
# The Debian package end to end: tools/package.sh in a clean clone of this commit; the package's
# fields and file list; the unpacked tree run from where it lies by brand-new users; then a real
# dpkg install, removal and purge in a scratch root, which must leave users' files alone.
set -euo pipefail
cd "$(dirname "$0")/.."
source=$PWD
bash tools/deps.sh

work=$(mktemp -d "${TMPDIR:-/tmp}/halvora-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "fail: $*" >&2; exit 1; }

echo "== tools/package.sh in a clean clone of $(git rev-parse --short HEAD)"
git clone --quiet "$source" "$work/clone"
bash "$work/clone/tools/package.sh"
package=$(ls "$work"/clone/build-package/halvora_*.deb)

echo "== fields"
field() { dpkg-deb --field "$package" "$1"; }
[ "$(field Package)" = halvora ] || fail "Package is '$(field Package)'"
version=$(field Version)
[ -n "$version" ] || fail "no Version"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is '$(field Architecture)'"
depends=$(field Depends)
for library in libc6 libstdc++6 libgtk-3-0 libx11-6 libpng16-16; do
  [[ ", $depends" == *", $library "* ]] || fail "Depends lacks $library: $depends"
done
[ -n "$(field Description | head -1)" ] || fail "no short description"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
dpkg-deb --ctrl-tarfile "$package" | tar -xO ./conffiles >"$work/conffiles"
[ "$(cat "$work/conffiles")" = /etc/halvora/registry.reg ] || fail "conffiles: $(cat "$work/conffiles")"
if dpkg-deb --ctrl-tarfile "$package" | tar -t | grep -qE '(pre|post)(inst|rm)$'; then
  fail "the package has maintainer scripts; nothing may touch users' files"
fi

echo "== file list"
# As dpkg-deb lists them, without owners, sizes and times: folders end in "/", links show their target.
dpkg-deb --contents "$package" | awk '$6 != "./" { sub(/^\.\//, "", $6); line = $6;
  if (substr($1, 1, 1) == "l") line = line " -> " $8; print line }' | LC_ALL=C sort >"$work/files.txt"
diff -u tests/package/files.txt "$work/files.txt" >&2 || fail "the package's files differ from tests/package/files.txt"

echo "== unpacked, run in place"
dpkg-deb -x "$package" "$work/unpacked"
[ "$("$work/unpacked/usr/bin/halvora" --version)" = "halvora $version" ] || fail "--version is not the package's $version"
bash tools/check-docs.sh "$work/unpacked/usr/bin/halvora" "$work/unpacked/usr/share/man/man6/halvora.6.gz"
bash tools/check-install.sh --root "$work/unpacked" /usr "$version"

echo "== dpkg install, removal and purge in a scratch root"
root=$work/dpkg-root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
touch "$root/var/lib/dpkg/status"
# The scratch root has none of the libraries the package depends on.
dpkg_in() { dpkg --root="$root" --force-depends --force-script-chrootless "$@" >>"$work/dpkg.txt" 2>&1; }
dpkg_in -i "$package" || { cat "$work/dpkg.txt" >&2; fail "dpkg -i"; }
home=$work/user
mkdir -p "$home"
env -i HOME="$home" PATH=/usr/bin:/bin HALVORA_DISPLAY=offscreen HALVORA_FRAMES=30 "$root/usr/bin/halvora" /s \
  >"$work/run.txt" 2>&1 || { cat "$work/run.txt" >&2; fail "the installed program failed"; }
data=$home/.local/share/halvora
(cd "$data" && find . -type f | sort) >"$work/own-before"
grep -qx './Error.log' "$work/own-before" && grep -qx './Textures/Screen.tga' "$work/own-before" ||
  fail "the run left no files of the user's: $(cat "$work/own-before")"
dpkg_in -r halvora || { cat "$work/dpkg.txt" >&2; fail "dpkg -r"; }
[ -f "$root/etc/halvora/registry.reg" ] || fail "removal took the configuration file"
left=$(find "$root" -path "$root/var" -prune -o ! -type d -print | grep -vx "$root/etc/halvora/registry.reg" || true)
[ -z "$left" ] || fail "removal left: $left"
dpkg_in -P halvora || { cat "$work/dpkg.txt" >&2; fail "dpkg -P"; }
[ ! -e "$root/etc/halvora/registry.reg" ] || fail "purging left /etc/halvora/registry.reg"
(cd "$data" && find . -type f | sort) >"$work/own-after"
diff "$work/own-before" "$work/own-after" >&2 || fail "removing the package changed the user's files"
echo "== pass: $package"
