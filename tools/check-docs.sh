#!/usr/bin/env bash
# The manual page renders without a warning, and it, --help and the xscreensaver settings
# description agree: every option the settings pass, and every variable the program reads,
# is documented in both the help and the page.
# Usage: check-docs.sh HALVORA_EXECUTABLE MANUAL_PAGE
# Exit 0 pass, 77 skip (man is not installed), anything else fail with the reason on stderr.
set -euo pipefail
cd "$(dirname "$0")/.."
program=$1; page=$2
command -v man >/dev/null 2>&1 || { echo "skip: man is not installed" >&2; exit 77; }
work=$(mktemp -d "${TMPDIR:-/tmp}/halvora-docs.XXXXXX")
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "fail: $*" >&2; status=1; }

LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" >"$work/page.txt" 2>"$work/warnings.txt" ||
  fail "man -l $page failed"
[ -s "$work/warnings.txt" ] && fail "man -l $page warns: $(cat "$work/warnings.txt")"
for section in NAME SYNOPSIS DESCRIPTION OPTIONS ENVIRONMENT FILES 'SEE ALSO'; do
  grep -q "^$section\$" "$work/page.txt" || fail "the manual page has no $section section"
done
"$program" --help >"$work/help.txt" || fail "--help failed"
# A help nobody could read is a failure, not a success.
if [ -w /dev/full ] && "$program" --help >/dev/full 2>/dev/null; then fail "--help into a full disk exits 0"; fi

# Options the settings dialog of xscreensaver passes, and the program's own.
options=$(grep -oE '(arg|arg-set)="--?[a-z-]+' data/halvora.xml | sed 's/.*"//' | sort -u)
for option in $options --help --version --window-id; do
  grep -qe "$option" "$work/help.txt" || fail "--help does not mention $option"
  grep -qe "$option" "$work/page.txt" || fail "the manual page does not mention $option"
done

# Variables the program reads (the start-up handshake between its own processes aside).
variables=$(grep -rhoE '"(HALVORA|XDG)_[A-Z_]+"' app common framework particles platform render scene |
  tr -d '"' | grep -vx 'HALVORA_STARTUP_FD\|XDG_RUNTIME_DIR' | sort -u)
[ -n "$variables" ] || fail "found no variables in the sources"
for variable in $variables XSCREENSAVER_WINDOW; do
  grep -q "$variable" "$work/help.txt" || fail "--help does not mention $variable"
  grep -q "$variable" "$work/page.txt" || fail "the manual page does not mention $variable"
done
exit "$status"
