#!/usr/bin/env bash
# A long unattended run: the offscreen screensaver on the virtual clock, watched for memory
# growth, log growth and a picture that stops showing spirals.
#   bash tools/soak.sh [--frames N] [--sample-every N] [--binary PATH] [--margin-kib N] [--keep-last PNG]
# Defaults: 200000 frames at 1024x768 with 8 spirals, a sample every 10000 frames, the
# binary of build-release (built when missing), 8192 KiB allowed above the 10000-frame mark.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/lib.sh

frames=200000
every=10000
binary=""
margin_kib=8192
keep_last=""
screen=1024x768
while (($#)); do
  case "$1" in
    --frames) frames=$2; shift 2 ;;
    --sample-every) every=$2; shift 2 ;;
    --binary) binary=$2; shift 2 ;;
    --margin-kib) margin_kib=$2; shift 2 ;;
    --keep-last) keep_last=$2; shift 2 ;;
    *) echo "soak: unknown argument $1" >&2; exit 2 ;;
  esac
done
for n in "$frames" "$every" "$margin_kib"; do
  [[ "$n" =~ ^[0-9]+$ ]] && ((n > 0 && n <= 100000000)) || { echo "soak: bad number $n" >&2; exit 2; }
done
((frames >= 2 * every)) || { echo "soak: --frames must be at least twice --sample-every" >&2; exit 2; }

if [ -z "$binary" ]; then
  build=${HALVORA_BUILD_DIR:-build-release}
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DHALVORA_TESTS=OFF -DHALVORA_BENCH=OFF >/dev/null
  cmake --build "$build" -j2 --target halvora
  binary=$build/halvora
fi
bindir=$(cd "$(dirname "$binary")" && pwd)
[ -x "$binary" ] || { echo "soak: no program at $binary" >&2; exit 2; }
[ -d "$bindir/data/Particles" ] || { echo "soak: no data folder beside $binary" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/halvora-soak.XXXXXX")
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
data=$work/data
mkdir -p "$data" "$work/home" "$work/run" "$work/frames"
chmod 700 "$work/run"
cp -R "$bindir/data/." "$data/"
halvora_write_registry "$work/registry.reg" "$data"
halvora_write_options "$data/Options.txt" "${screen%x*}" "${screen#*x}"

start=$(date +%s)
env -i PATH=/usr/bin:/bin HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" \
  XDG_STATE_HOME="$work/home/.state" XDG_RUNTIME_DIR="$work/run" HALVORA_REGISTRY="$work/registry.reg" \
  HALVORA_DISPLAY=offscreen HALVORA_SCREEN=$screen HALVORA_FRAMES=$frames \
  HALVORA_CAPTURE="$work/frames" HALVORA_CAPTURE_EVERY=$every \
  "$binary" /s >"$work/stdout" 2>"$work/stderr" &
pid=$!

rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status" 2>/dev/null || true; }
log_bytes() { stat -c %s "$data/Error.log" 2>/dev/null || echo 0; }

# One sample as each capture appears: frame, resident KiB, log bytes.
declare -A rss=() logsize=()
next=$every
while kill -0 "$pid" 2>/dev/null; do
  name=$(printf '%s/frame-%06d.png' "$work/frames" "$next")
  if [ -e "$name" ] && ((next < frames)); then
    r=$(rss_kib "$pid")
    [ -n "$r" ] || break
    rss[$next]=$r
    logsize[$next]=$(log_bytes)
    echo "soak: frame $next rss ${r} KiB log ${logsize[$next]} bytes"
    next=$((next + every))
  else
    sleep 0.2
  fi
done
status=0
wait "$pid" || status=$?
pid=""
elapsed=$(($(date +%s) - start))
echo "soak: $frames frames in ${elapsed}s, exit status $status"

fail=0
if ((status != 0)); then
  echo "soak: FAILED: the program ended with status $status"; tail -n 20 "$work/stderr"; fail=1
fi
base=${rss[$every]:-}
if [ -z "$base" ]; then
  echo "soak: FAILED: no sample was taken (the run ended before frame $every)"; exit 1
fi
worst=$base
for f in "${!rss[@]}"; do ((rss[$f] > worst)) && worst=${rss[$f]}; done
echo "soak: rss at frame $every ${base} KiB, highest later $worst KiB (+$((worst - base)) KiB, margin $margin_kib)"
if ((worst - base > margin_kib)); then
  echo "soak: FAILED: resident memory grew"; fail=1
fi
last_sample=$(((frames - 1) / every * every))
if ((${logsize[$last_sample]:-0} != ${logsize[$every]})); then
  echo "soak: FAILED: the log grew during the run:"; tail -n 20 "$data/Error.log"; fail=1
fi
last=$(printf '%s/frame-%06d.png' "$work/frames" "$frames")
[ -n "$keep_last" ] && [ -e "$last" ] && cp "$last" "$keep_last"
if ! python3 - "$last" <<'EOF'
import struct, sys, zlib
# Counts bright pixels of an 8-bit RGB or RGBA PNG: the spirals glow far above the trails.
data = open(sys.argv[1], 'rb').read()
pos, idat, w, h, ch = 8, b'', 0, 0, 3
while pos < len(data):
    n, kind = struct.unpack('>I4s', data[pos:pos + 8])
    body = data[pos + 8:pos + 8 + n]
    if kind == b'IHDR':
        w, h, depth, colour = struct.unpack('>IIBB', body[:10])
        ch = {2: 3, 6: 4}[colour]
    elif kind == b'IDAT':
        idat += body
    pos += 12 + n
raw, stride, prev, bright = zlib.decompress(idat), w * ch, bytearray(w * ch), 0
for y in range(h):
    f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
    for i in range(stride):
        a = line[i - ch] if i >= ch else 0
        b = prev[i]
        c = prev[i - ch] if i >= ch else 0
        if f == 1: line[i] = (line[i] + a) & 255
        elif f == 2: line[i] = (line[i] + b) & 255
        elif f == 3: line[i] = (line[i] + (a + b) // 2) & 255
        elif f == 4:
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
    bright += sum(1 for x in range(w) if max(line[x * ch:x * ch + 3]) >= 160)
    prev = line
print(f"soak: last frame {w}x{h}, {bright} bright pixels")
sys.exit(0 if bright >= w * h // 2000 else 1)
EOF
then
  echo "soak: FAILED: the last frame shows no spirals"; fail=1
fi
((fail == 0)) && echo "soak: ok"
exit $fail
