#!/usr/bin/env bash
# Measures a running "halvora /s" on a private Xvfb screen: process CPU seconds per
# second (utime + stime from /proc), resident memory, and frames per second (the
# program's HALVORA_FPS report), over a window that starts once the spirals are at
# full density.
# Usage: tools/measure-xvfb.sh [HALVORA_EXECUTABLE] [SECONDS] [WARMUP_SECONDS]
#   environment: SCREEN (1920x1080), SPIRALS (8), KEEP=1 keeps the work folder,
#   PERF=FILE records a perf profile of the window into FILE (where the CPU goes).
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/lib.sh
halvora=$(realpath "${1:-build/halvora}")
seconds=${2:-25}
warmup=${3:-25}
screen=${SCREEN:-1920x1080}
spirals=${SPIRALS:-8}
width=${screen%x*}
height=${screen#*x}

for tool in Xvfb xdpyinfo; do
  command -v "$tool" >/dev/null || { echo "measure-xvfb: $tool is not installed" >&2; exit 2; }
done
[ -x "$halvora" ] || { echo "measure-xvfb: no executable at $halvora" >&2; exit 2; }
data_src=$(dirname "$halvora")/data
[ -d "$data_src" ] || { echo "measure-xvfb: no data folder beside $halvora" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/halvora-measure.XXXXXX")
xvfb_pid=; saver_pid=
cleanup() {
  [ -n "$saver_pid" ] && kill "$saver_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  [ "${KEEP:-0}" = 1 ] && echo "work folder kept: $work" || rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/home" "$work/runtime"
chmod 700 "$work/runtime"
cp -R "$data_src" "$work/data"
halvora_write_options "$work/data/Options.txt" "$width" "$height" "$spirals"
halvora_write_registry "$work/registry.reg" "$work/data"

display=
for n in $(seq 150 199); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
  display=:$n
  break
done
[ -n "$display" ] || { echo "measure-xvfb: no free display number" >&2; exit 2; }
Xvfb "$display" -screen 0 "${width}x${height}x24" -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do DISPLAY=$display xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

env HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_STATE_HOME="$work/home/.local/state" \
  XDG_RUNTIME_DIR="$work/runtime" HALVORA_REGISTRY="$work/registry.reg" DISPLAY="$display" \
  HALVORA_DISPLAY=x11 HALVORA_FPS=1 "$halvora" /s 2>"$work/stderr.txt" &
saver_pid=$!

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/${1:-$saver_pid}/stat"; }
split_ticks() { awk "{ print \$14, \$15 }" "/proc/$saver_pid/stat"; }
fps_lines() { grep -c 'frames per second' "$work/stderr.txt" || true; }

sleep "$warmup"
kill -0 "$saver_pid" 2>/dev/null || { echo "measure-xvfb: halvora ended early" >&2; cat "$work/stderr.txt" >&2; exit 1; }
start_lines=$(fps_lines)
start_cpu=$(cpu_ticks)
start_split=$(split_ticks)
start_xcpu=$(cpu_ticks "$xvfb_pid")
start_time=$(date +%s.%N)
if [ -n "${PERF:-}" ]; then
  perf record -q -F 499 -g -p "$saver_pid" -o "$PERF" -- sleep "$seconds" >/dev/null 2>&1 ||
    { echo "measure-xvfb: perf record failed" >&2; sleep "$seconds"; }
else
  sleep "$seconds"
fi
end_cpu=$(cpu_ticks)
end_split=$(split_ticks)
end_xcpu=$(cpu_ticks "$xvfb_pid")
end_time=$(date +%s.%N)
rss_kb=$(awk '/^VmRSS:/ { print $2 }' "/proc/$saver_pid/status")
hwm_kb=$(awk '/^VmHWM:/ { print $2 }' "/proc/$saver_pid/status")
fps=$(tail -n +"$((start_lines + 1))" <(grep 'frames per second' "$work/stderr.txt") |
  awk '{ sum += $2; n++ } END { if (n) printf "%.1f", sum / n; else print "n/a" }')

kill -TERM "$saver_pid"
status=0
wait "$saver_pid" || status=$?
saver_pid=

awk -v c0="$start_cpu" -v c1="$end_cpu" -v x0="$start_xcpu" -v x1="$end_xcpu" -v t0="$start_time" -v t1="$end_time" -v hz="$ticks" \
  -v rss="$rss_kb" -v hwm="$hwm_kb" -v fps="$fps" -v scr="$screen" -v n="$spirals" -v st="$status" -v s0="$start_split" -v s1="$end_split" -v load="$(cut -d' ' -f1-3 /proc/loadavg)" 'BEGIN {
  wall = t1 - t0; cpu = (c1 - c0) / hz
  printf "screen %s, %d spirals, window %.1f s after warm-up\n", scr, n, wall
  printf "cpu      %.3f s/s (target <= 0.25)\n", cpu / wall
  split(s0, a, " "); split(s1, b, " ")
  printf "         user %.3f, system %.3f\n", (b[1] - a[1]) / hz / wall, (b[2] - a[2]) / hz / wall
  printf "xvfb     %.3f s/s (the X server showing the frames)\n", (x1 - x0) / hz / wall
  printf "load     %s\n", load
  printf "rss      %.1f MB (peak %.1f MB; target <= 64)\n", rss / 1024, hwm / 1024
  printf "fps      %s\n", fps
  # With the 20 ms sleep per frame, CPU s/s is c / (20 + c + waits) for c ms of work per frame.
  if (fps + 0 > 0) printf "frame    %.1f ms of CPU per frame\n", cpu / wall / fps * 1000
  printf "exit     %d after SIGTERM%s\n", st, (st == 143 ? " (ended by the signal)" : "")
}'
