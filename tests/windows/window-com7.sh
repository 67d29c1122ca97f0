#!/usr/bin/env bash
# A USB adapter that Windows names COM7, with nothing behind COM1 to COM6:
# the window lists COM7 alone; picked, it reads the versions and sends a
# 1 MiB image through it; `tarven-link ports` lists it and `--port COM7
# version` reads the receiver. Wine's port map is switched to COM7 alone for
# this step and put back after it.
# Run by scripts/test-windows.sh in its private mount namespace; arguments:
# wine, its server, the Windows build folder, the simulator, the paths COM1
# and COM2 stand for in the rest of the stage.
set -euo pipefail
wine=$1 wineserver=$2 win=$3 sim=$4 line=$5 line2=$6
work=$win/wine-com7
line7=$win/com7-line
rm -rf "$work" "$line7"
mkdir -p "$work"
fail() { echo "Windows COM7 FAILED: $*" >&2; exit 1; }

ports_map() {  # ports_map COM1 COM2 COM7: wine's port map, then a server that has read it
    {
        printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
        printf '"COM1"="%s"\r\n"COM2"="%s"\r\n' "$1" "$2"
        for n in 3 4 5 6; do printf '"COM%s"=""\r\n' "$n"; done
        if [ -n "$3" ]; then printf '"COM7"="%s"\r\n' "$3"; else printf '"COM7"=-\r\n'; fi
    } >"$work/ports.reg"
    "$wineserver" -k >/dev/null 2>&1 || true
    (cd "$work" && timeout 120 "$wine" reg import ports.reg >/dev/null 2>&1) || fail "could not set wine's ports"
    "$wineserver" -w || true
    "$wineserver" -p >/dev/null 2>&1
}

. "$(dirname "$0")/window-common.sh"
program_pid="" sim_pid=""
stop() {
    if [ -n "$program_pid" ]; then kill "$program_pid" 2>/dev/null || true; wait "$program_pid" 2>/dev/null || true; fi
    if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
    program_pid="" sim_pid=""
}
# The stage's map back, then no wine process left: the programs wine keeps
# running (its desktop and console host) would stay on this step's display,
# which goes with it, and the next step's windows would never be seen.
finish() {
    stop
    kill "${xvfb:-}" 2>/dev/null || true
    ports_map "$line" "$line2" ""
    "$wineserver" -k >/dev/null 2>&1 || true
    "$wineserver" -w || true
}
trap finish EXIT
ports_map "" "" "$line7"
start_display
texts() { (cd "$work" && "$wine" "$win/bin/window_texts.exe" "$1") | tr -d '\r'; }
wait_text() {
    for _ in $(seq 120); do texts "TARVEN Updater V1.0" | grep -q -- "$1" && return 0; sleep 0.2; done
    return 1
}
start_sim() {
    rm -f "$line7"
    "$sim" --link "$line7" "$@" >>"$work/sim.log" 2>&1 &
    sim_pid=$!
    for _ in $(seq 100); do [ -L "$line7" ] && return 0; sleep 0.1; done
    fail "the simulator did not start"
}

head -c 1048576 /dev/urandom >"$work/main.bin"
start_sim --software SW-COM7 --upload-output "$work/received.bin" --exit-after-upload
(cd "$work" && exec "$wine" "$win/bin/tarven-updater.exe") >"$work/updater.log" 2>&1 &
program_pid=$!
main=$(window_of "TARVEN Updater V1.0") || fail "the main window did not open"
wait_text $'^11973\t' >/dev/null || true
# The list's first entry, COM7 when it is listed: the version read below
# searches only the chosen port, then COM1 and COM2, which have nothing.
click_du "$main" 444 282 347 115 51 8
sleep 0.5
click_du "$main" 444 282 191 259 83 18  # "Lecture de la Version"
wait_text $'^1000\tSW-COM7$' || fail "the version read did not reach the receiver behind COM7"
click_du "$main" 444 282 103 258 83 18  # "Mise a jour"
wait_text 'Transfer Successfully!\|Fail to Open COM port!' || fail "the upload never ended"
texts "TARVEN Updater V1.0" | grep -q 'Transfer Successfully!' || fail "the upload through COM7 failed"
for _ in $(seq 300); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.1; done
cmp "$work/main.bin" "$work/received.bin" || fail "the receiver behind COM7 has another image than the file"
stop

start_sim --hardware HW-COM7 --software SW-COM7
link() { (cd "$work" && timeout 300 "$wine" "$win/bin/tarven-link.exe" "$@") | tr -d '\r'; }
ports=$(link ports)
grep -q '^COM7 .*available' <<<"$ports" || fail "ports does not list COM7 as available: $ports"
echo "$ports" | sed -n '/^COM7/,$p'
out=$(link --port COM7 version) || fail "--port COM7 version (exit $?): $out"
grep -q '^Software version: SW-COM7' <<<"$out" || fail "--port COM7 version: $out"
stop
echo "Windows COM7 passed"
