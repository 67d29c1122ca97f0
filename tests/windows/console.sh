#!/usr/bin/env bash
# tarven-link.exe started as Explorer starts it on a double-click, with a
# console window of its own and no command: the window stays, showing the
# usage, until a key is pressed, and then closes with the usage exit status.
# (Every other run of the stage, on redirected streams, shows it never waits
# there.)
# Run by scripts/test-windows.sh in its private mount namespace with
# WINEPREFIX set up; arguments: wine, the Windows build folder.
set -euo pipefail
wine=$1 win=$2
shots=$win/screenshots
work=$win/wine-console
rm -rf "$work"
mkdir -p "$shots" "$work"
fail() { echo "Windows console FAILED: $*" >&2; exit 1; }

. "$(dirname "$0")/window-common.sh"
start_display
run_pid=""
finish() {
    if [ -n "$run_pid" ]; then kill "$run_pid" 2>/dev/null || true; fi
    kill "$xvfb" 2>/dev/null || true
}
trap finish EXIT

# "start" gives the program a new console, as Explorer does.
exe_dos="Z:$(tr / '\\' <<<"$win/bin/tarven-link.exe")"
(cd "$work" && exec timeout 120 "$wine" start /wait /unix "$win/bin/tarven-link.exe") >"$work/start.log" 2>&1 &
run_pid=$!
console=$(window_of "$(sed 's/[\\.]/\\&/g' <<<"$exe_dos")") || fail "no console window for tarven-link.exe"
# Wine draws the usage slowly: the window would last a few seconds even if it did not wait.
sleep 6
kill -0 "$run_pid" 2>/dev/null || fail "the console window closed by itself"
shoot "$console" console-double-click
# The window goes as the key is taken, which xdotool may report as an error.
xdotool windowfocus --sync "$console" key space 2>/dev/null || true
status=0
for _ in $(seq 100); do kill -0 "$run_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$run_pid" 2>/dev/null; then fail "a key did not close the console window"; fi
wait "$run_pid" || status=$?
run_pid=""
[ "$status" = 2 ] || fail "the run ended with exit $status, not 2 (no command)"
echo "Windows console passed"
