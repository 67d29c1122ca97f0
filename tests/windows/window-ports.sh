#!/usr/bin/env bash
# tarven-updater.exe under wine, its port list: with nothing behind COM1 the
# window lists COM2 alone and highlights it, yet COM1 stays the port in use
# until the technician picks one. A click on the highlighted COM2 picks it,
# and so does Space once the list has the focus (a key the list box itself
# ignores there): "Mise a jour" then sends the image to the receiver behind
# COM2 (without the pick it says "Fail to Open COM port!").
# Run by scripts/test-windows.sh in its private mount namespace; arguments:
# wine, the Windows build folder, the simulator, the paths COM1 and COM2
# stand for.
set -euo pipefail
wine=$1 win=$2 sim=$3 line=$4 line2=$5
work=$win/wine-ports
rm -rf "$work"
mkdir -p "$work"
fail() { echo "Windows port list FAILED: $*" >&2; exit 1; }

. "$(dirname "$0")/window-common.sh"
start_display
program_pid="" sim_pid=""
stop() {
    if [ -n "$program_pid" ]; then kill "$program_pid" 2>/dev/null || true; wait "$program_pid" 2>/dev/null || true; fi
    if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
    program_pid="" sim_pid=""
}
finish() { stop; kill "$xvfb" 2>/dev/null || true; }
trap finish EXIT
texts() { (cd "$work" && "$wine" "$win/bin/window_texts.exe" "$1") | tr -d '\r'; }
wait_text() {  # wait_text PATTERN: until a control of the main window matches
    for _ in $(seq 120); do texts "TARVEN Updater V1.0" | grep -q -- "$1" && return 0; sleep 0.2; done
    return 1
}

# The port list's first entry (its top 8 units), with the mouse.
pick_by_click() { click_du "$main" 444 282 347 115 51 8; }
# Space on the list, focused from "Note" with Shift+Tab: "Note" takes the
# focus as the mouse goes down on it, and the mouse leaves before it comes up.
pick_by_space() {
    local geometry width height left top
    geometry=$(xdotool getwindowgeometry --shell "$main")
    width=$(sed -n 's/^WIDTH=//p' <<<"$geometry")
    height=$(sed -n 's/^HEIGHT=//p' <<<"$geometry")
    left=$(( (width - 444 * 6 / 4) / 2 ))
    top=$(( height - left - 282 * 13 / 8 ))
    xdotool mousemove --window "$main" $(( left + 382 * 6 / 4 )) $(( top + 188 * 13 / 8 )) mousedown 1
    sleep 0.3
    xdotool mousemove --window "$main" $(( left + 382 * 6 / 4 )) $(( top + 20 )) mouseup 1
    sleep 0.3
    xdotool key shift+Tab
    sleep 0.3
    xdotool key space
}

head -c 1048576 /dev/urandom >"$work/main.bin"
for how in click space; do
    echo "-- the highlighted COM2 picked by $how"
    rm -f "$line" "$line2" "$work/received.bin"
    "$sim" --link "$line2" --software SW-COM2 --upload-output "$work/received.bin" --exit-after-upload \
        >"$work/sim-$how.log" 2>&1 &
    sim_pid=$!
    for _ in $(seq 100); do [ -L "$line2" ] && break; sleep 0.1; done
    [ -L "$line2" ] || fail "the simulator did not start"
    (cd "$work" && exec "$wine" "$win/bin/tarven-updater.exe") >"$work/updater-$how.log" 2>&1 &
    program_pid=$!
    main=$(window_of "TARVEN Updater V1.0") || fail "the main window did not open"
    wait_text $'^11973\t' >/dev/null || true
    # "Lecture de la Version" finds its port by itself; it spares the reminder.
    click_du "$main" 444 282 191 259 83 18
    wait_text $'^1000\tSW-COM2$' || fail "the version read found no receiver"
    "pick_by_$how"
    sleep 0.5
    click_du "$main" 444 282 103 258 83 18  # "Mise a jour"
    wait_text 'Transfer Successfully!\|Fail to Open COM port!' || fail "the upload never ended"
    if texts "TARVEN Updater V1.0" | grep -q 'Fail to Open COM port!'; then
        fail "$how on the highlighted COM2 did not choose it: the upload went to COM1"
    fi
    for _ in $(seq 300); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.1; done
    cmp "$work/main.bin" "$work/received.bin" || fail "COM2's receiver has another image than the file"
    stop
done
echo "Windows port list passed"
