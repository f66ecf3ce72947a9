#!/usr/bin/env bash
# halvora under the real xscreensaver daemon on a private X server: the daemon starts
# "halvora --root" when told to blank, and ends it with SIGTERM when told the user is
# back; halvora must then exit at once by itself. xscreensaver refuses to run as root,
# so the daemon runs as a throw-away ordinary user.
# Usage: xscreensaver_daemon.sh HALVORA_EXECUTABLE DATA_FOLDER WORK_FOLDER
# The server's name is written to WORK_FOLDER/display; the caller then has up to 20 s to
# put windows on the desktop and create WORK_FOLDER/desktop-ready.
# Exit 0 pass, 77 skip, anything else fail (with the reason on stderr).
set -u
halvora=$1; data=$2; work=$3
user=halvora-xss-$$
for tool in xscreensaver xscreensaver-command Xvfb xwd runuser useradd userdel; do
  command -v "$tool" >/dev/null 2>&1 || { echo "skip: $tool is not installed" >&2; exit 77; }
done
[ "$(id -u)" -eq 0 ] || { echo "skip: creating the test user needs root" >&2; exit 77; }

home=$work/home
mkdir -p "$home"
useradd -M -d "$home" -s /bin/sh "$user" || { echo "skip: useradd failed" >&2; exit 77; }
xvfb_pid=; daemon_pid=
cleanup() {
  [ -n "$daemon_pid" ] && kill "$daemon_pid" 2>/dev/null
  pkill -u "$user" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  sleep 0.2
  userdel "$user" 2>/dev/null
}
trap cleanup EXIT

# The program, its data and a registry the user can read.
install -m 0755 "$halvora" "$work/halvora"
cp -R "$data" "$work/data"
printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\[Tzo] Savers\\[Tzo] Halvora Screensaver\\Settings]\r\n"DataPath"="%s"\r\n' \
  "$work/data" >"$work/registry.reg"
# The daemon's helper that kills the hack exits at once and never reports how it ended,
# so a wrapper passes the signal on and records halvora's own exit status.
cat >"$work/hack.sh" <<HACK
#!/bin/bash
"$work/halvora" --root --spiral-count 3 &
child=\$!
trap 'kill -TERM \$child' TERM
wait \$child; status=\$?
# A trapped signal interrupts the first wait (status 143) whether or not halvora has ended
# by then; the second one gets halvora's own status.
[ \$status -gt 128 ] && { wait \$child; status=\$?; }
echo \$status >"$work/hack-status"
HACK
chmod 755 "$work/hack.sh"
printf 'mode:\t\tone\nselected:\t0\ntimeout:\t1:00:00\nlock:\t\tFalse\nfade:\t\tFalse\nunfade:\t\tFalse\nsplash:\t\tFalse\nprograms:\t\t\t\t\t\t      \\\n  %s \\n\\\n' \
  "$work/hack.sh" >"$home/.xscreensaver"
chown -R "$user" "$work"
chmod 755 "$work"
chmod o+x "$(dirname "$work")"

# The server picks a free display number itself and writes it once it accepts clients; a
# fixed number could meet another test's server.
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp -ac 3>"$work/display-number" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display-number" ] && break; sleep 0.1; done
number=$(head -n 1 "$work/display-number" 2>/dev/null)
[[ "$number" =~ ^[0-9]+$ ]] || { echo "fail: Xvfb did not start" >&2; exit 1; }
display=:$number
# The caller puts its own windows on the desktop before the daemon takes its picture of it.
echo "$display" >"$work/display"
for _ in $(seq 200); do [ -e "$work/desktop-ready" ] && break; sleep 0.1; done

as_user() { runuser -u "$user" -- env HOME="$home" DISPLAY="$display" HALVORA_REGISTRY="$work/registry.reg" \
  XDG_RUNTIME_DIR="$work" HALVORA_DISPLAY=x11 "$@"; }
# A loaded machine can take many seconds to bring the daemon up, and now and then a daemon
# comes up without ever answering its clients: wait up to 20 s, then start it once more.
activated=0
for attempt in 1 2; do
  as_user xscreensaver -no-splash -verbose >"$work/daemon.log" 2>&1 &
  daemon_pid=$!
  for _ in $(seq 100); do as_user xscreensaver-command -time >/dev/null 2>&1 && break; sleep 0.2; done
  for _ in $(seq 6); do
    as_user xscreensaver-command -activate >/dev/null 2>&1 && { activated=1; break; }
    sleep 0.5
  done
  [ "$activated" = 1 ] && break
  echo "daemon attempt $attempt did not answer" >&2
  kill "$daemon_pid" 2>/dev/null
  pkill -u "$user" 2>/dev/null
  sleep 0.5
done
[ "$activated" = 1 ] || { echo "fail: the daemon did not answer" >&2; cat "$work/daemon.log" >&2; exit 1; }
hack=
for _ in $(seq 100); do
  hack=$(pgrep -u "$user" -f "$work/halvora --root" | head -1)
  [ -n "$hack" ] && grep -q 'TD3DApplication.Create_: <<-----end' "$work/data/Error.log" 2>/dev/null && break
  sleep 0.1
done
if grep -q 'cannot open the X display' "$work/daemon.log"; then
  echo "skip: the X11 display backend is not available" >&2; exit 77
fi
[ -n "$hack" ] || { echo "fail: xscreensaver did not start halvora" >&2; cat "$work/daemon.log" >&2; exit 1; }
grep -q 'TD3DApplication.Create_: <<-----end' "$work/data/Error.log" 2>/dev/null ||
  { echo "fail: halvora did not finish its start" >&2; cat "$work/data/Error.log" >&2; exit 1; }

# The screen is grabbed four times a second as grab-N.xwd (the two newest kept) until the
# caller, who judges the pictures, creates WORK_FOLDER/seen; the opening fading and
# the fade-in from black take about 400 frames.
seen=0
for i in $(seq 180); do
  kill -0 "$hack" 2>/dev/null || { echo "fail: halvora ended by itself" >&2; cat "$work/daemon.log" >&2; exit 1; }
  [ -e "$work/seen" ] && { seen=1; break; }
  xwd -root -silent -display "$display" >"$work/grab.tmp" 2>/dev/null && mv "$work/grab.tmp" "$work/grab-$i.xwd"
  rm -f "$work/grab-$((i - 2)).xwd"
  sleep 0.25
done
[ "$seen" = 1 ] || { echo "fail: no spirals on the screen after 45 s" >&2; exit 1; }

as_user xscreensaver-command -deactivate >/dev/null 2>&1
for _ in $(seq 30); do kill -0 "$hack" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$hack" 2>/dev/null; then
  echo "fail: halvora still runs 3 s after the daemon ended it" >&2; exit 1
fi
for _ in $(seq 30); do [ -s "$work/hack-status" ] && break; sleep 0.1; done
status=$(cat "$work/hack-status" 2>/dev/null || echo none)
[ "$status" = 0 ] || { echo "fail: halvora did not end cleanly after SIGTERM (status $status)" >&2; exit 1; }
exit 0
