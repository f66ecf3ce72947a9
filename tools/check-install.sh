#!/usr/bin/env bash
# Runs an installed tree from where it lies (a DESTDIR install or an unpacked package), offscreen,
# as brand-new users whose homes are empty: each must see the spirals and get a data folder of
# their own, while nothing in the tree changes. As root the users are real throw-away accounts,
# so that the tree is read-only to them as it is to any user; otherwise they are empty homes.
#
# Usage: check-install.sh --build BUILD_DIR PREFIX VERSION   (installs BUILD_DIR with DESTDIR first)
#        check-install.sh --root ROOT PREFIX VERSION         (a tree already installed under ROOT)
# HALVORA_KEEP_FRAMES=DIR keeps each user's last frame there, to be looked at.
# Exit 0 pass, 77 skip (a tool is missing), anything else fail with the reason on stderr.
set -euo pipefail
[ $# -eq 4 ] || { echo "usage: $0 --build DIR|--root ROOT PREFIX VERSION" >&2; exit 2; }
how=$1; where=$2; prefix=$3; version=$4
for tool in convert find; do
  command -v "$tool" >/dev/null 2>&1 || { echo "skip: $tool is not installed" >&2; exit 77; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/halvora-install.XXXXXX")
users=()
cleanup() {
  for user in "${users[@]}"; do
    pkill -u "$user" 2>/dev/null || true
    userdel "$user" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "fail: $*" >&2; exit 1; }

if [ "$how" = --build ]; then
  root=$work/root
  DESTDIR=$root cmake --install "$where" >"$work/install.txt" || { cat "$work/install.txt" >&2; fail "cmake --install"; }
else
  root=$where
fi
program=$root$prefix/bin/halvora
hack=$root$prefix/libexec/xscreensaver/halvora
shipped=$root$prefix/share/halvora
[ -x "$program" ] || fail "$program is missing"
[ -x "$hack" ] || fail "$hack is missing"

got=$("$program" --version) || fail "--version failed"
[ "$got" = "halvora $version" ] || fail "--version printed '$got', not 'halvora $version'"

# The tree's state, to compare after every user has run.
snapshot() { find "$root" -printf '%P %y %s %m %T@ %l\n' | sort; }
snapshot >"$work/tree-before"

# Real accounts need to reach the tree and their homes.
chmod 755 "$work"
as_real_users=0
if [ "$(id -u)" -eq 0 ] && command -v useradd >/dev/null && command -v runuser >/dev/null; then
  as_real_users=1
  dir=$root
  while [ "$dir" != / ] && [ -n "$dir" ]; do chmod o+x "$dir" 2>/dev/null || true; dir=$(dirname "$dir"); done
fi

# new_user N: an empty home, and an account owning it when running as root.
new_user() {
  local home=$work/home-$1
  mkdir -p "$home"
  if [ "$as_real_users" = 1 ]; then
    local user=halvora-new-$$-$1
    useradd -M -d "$home" -s /bin/sh "$user" || fail "useradd $user"
    users+=("$user")
    chown "$user" "$home"
  fi
}
# as_user N PROGRAM ARGS...: the program as user N, with nothing from this environment but the
# sanitizers' settings.
as_user() {
  local n=$1; shift
  local env=(env -i HOME="$work/home-$n" PATH=/usr/bin:/bin LANG=C.UTF-8)
  for name in ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS; do
    [ -n "${!name:-}" ] && env+=("$name=${!name}")
  done
  if [ "$as_real_users" = 1 ]; then
    runuser -u "halvora-new-$$-$n" -- "${env[@]}" "$@"
  else
    "${env[@]}" "$@"
  fi
}

# Lit, clearly coloured pixels: the spirals, not the grey of the opening or black.
coloured_pixels() {
  convert "$1" -fx '(max(max(r,g),b)>0.376 && max(max(r,g),b)-min(min(r,g),b)>0.188)?1:0' \
    -format '%[fx:round(mean*w*h)]' info:
}

# run_saver N PROGRAM MODE: 600 offscreen frames; the last must show spirals.
run_saver() {
  local n=$1 exe=$2 mode=$3
  local frames=$work/frames-$n
  mkdir -p "$frames"
  chmod 777 "$frames"
  as_user "$n" env HALVORA_DISPLAY=offscreen HALVORA_SCREEN=320x240 HALVORA_FRAMES=600 \
    HALVORA_CAPTURE_EVERY=300 HALVORA_CAPTURE="$frames" timeout 120 "$exe" "$mode" \
    >"$work/run-$n.txt" 2>&1 || { cat "$work/run-$n.txt" >&2; fail "user $n: $mode ended with an error"; }
  [ -f "$frames/frame-000600.png" ] || fail "user $n: no frame 600 from $mode"
  local count
  count=$(coloured_pixels "$frames/frame-000600.png")
  [ "$count" -gt 200 ] || fail "user $n: frame 600 of $mode has $count coloured pixels, no spirals"
  echo "   user $n, $mode: $count coloured pixels in frame 600"
  if [ -n "${HALVORA_KEEP_FRAMES:-}" ]; then
    mkdir -p "$HALVORA_KEEP_FRAMES" && cp "$frames/frame-000600.png" "$HALVORA_KEEP_FRAMES/user-$n.png"
  fi
}

# check_data_folder N: the user's own files, and links to the shipped ones.
check_data_folder() {
  local data=$work/home-$1/.local/share/halvora
  for own in Error.log Textures/Screen.tga; do
    [ -f "$data/$own" ] && [ ! -L "$data/$own" ] && [ -s "$data/$own" ] || fail "user $1: no $own of their own"
    if [ "$as_real_users" = 1 ]; then
      [ "$(stat -c %U "$data/$own")" = "halvora-new-$$-$1" ] || fail "user $1: $own is not theirs"
    fi
  done
  [ ! -e "$data/Options.txt" ] || fail "user $1: Options.txt was written without the settings being saved"
  for file in Particles/@Fire1.prt Particles/@Fire2.prt Particles/@Fire3.prt Textures/Particles.tga \
    Textures/Particles.uv; do
    [ "$(readlink "$data/$file")" = "$shipped/$file" ] || fail "user $1: $file is not a link to $shipped/$file"
  done
}

echo "== brand-new users run $program$( [ "$as_real_users" = 1 ] && echo ' as throw-away accounts')"
new_user 1
new_user 2

# --help answers before anything else: nothing is written, not even the desktop snapshot.
as_user 1 "$program" --help >"$work/help.txt" || fail "--help failed"
grep -q '^Usage: halvora' "$work/help.txt" || fail "--help printed no usage"
[ -z "$(ls -A "$work/home-1")" ] || fail "--help wrote into the home: $(ls -A "$work/home-1")"

run_saver 1 "$program" /s
check_data_folder 1
# xscreensaver starts the hack link.
run_saver 2 "$hack" --root
check_data_folder 2

# A reported error goes to the debug monitor, which halvora finds beside itself and starts.
monitor_log=$work/home-2/.local/state/halvora/Mistrel.log
as_user 2 env MISTREL_IDLE_SECONDS=1 HALVORA_DISPLAY=offscreen "$hack" --root --spiral-count x >/dev/null 2>&1 ||
  fail "a bad --spiral-count made halvora fail"
for _ in $(seq 50); do grep -q 'spiral-count needs an integer' "$monitor_log" 2>/dev/null && break; sleep 0.1; done
grep -q 'spiral-count needs an integer' "$monitor_log" 2>/dev/null || fail "the debug monitor got no message"
for _ in $(seq 50); do pgrep -f "$root$prefix/libexec/halvora/Mistrel.exe" >/dev/null || break; sleep 0.1; done
echo "   the debug monitor beside the program logged the error"

# A file the user puts in place of a link is theirs and stays; a start relinks nothing over it.
data1=$work/home-1/.local/share/halvora
as_user 1 sh -c "rm '$data1/Particles/@Fire1.prt' && printf 'mine' >'$data1/Particles/@Fire1.prt'"
as_user 1 env HALVORA_DISPLAY=offscreen "$program" >/dev/null 2>&1 || fail "a start with no mode failed"
[ "$(cat "$data1/Particles/@Fire1.prt")" = mine ] || fail "the user's own @Fire1.prt was replaced"

snapshot >"$work/tree-after"
diff "$work/tree-before" "$work/tree-after" >&2 || fail "running the program changed the installed tree"
echo "== pass: each user has their own files, and the installed tree is unchanged"
