#!/usr/bin/env bash
# The Windows window at 150 % (144 DPI) under wine: the main window, its
# About box, the password window, the folder browser with its new folder
# dialog and the progress template open at the desktop's DPI, each kept as a
# picture in $shots/dpi144, and no caption of the main window or the folder
# browser is cut. The dialogs are opened through their buttons' commands
# (window_texts.exe --press), since the mouse's dialog-unit arithmetic of
# window-common.sh holds at 96 DPI only.
# Run by scripts/test-windows.sh in its private mount namespace, with
# WINEPREFIX set up; arguments: wine, wineserver, the Windows build folder.
# The prefix's DPI is 96 again afterwards.
set -euo pipefail
wine=$1 wineserver=$2 win=$3
shots=$win/screenshots/dpi144
work=$win/wine-dpi
rm -rf "$shots" "$work"
mkdir -p "$shots" "$work"
fail() { echo "Windows window at 144 DPI FAILED: $*" >&2; exit 1; }
set_dpi() { "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1; }

screen=1600x1200
. "$(dirname "$0")/window-common.sh"
# A running server keeps the desktop of the display it first drew on, and
# clips every window to that screen's 1024 pixels: the window at 144 DPI is
# wider. A server of its own makes the desktop as large as this display.
"$wineserver" -k >/dev/null 2>&1 || true
"$wineserver" -w || true
start_display
program_pid=""
finish() {
    if [ -n "$program_pid" ]; then kill "$program_pid" 2>/dev/null || true; fi
    kill "$xvfb" 2>/dev/null || true
    set_dpi 96
}
trap finish EXIT
# Every program started from here on reads it.
set_dpi 144 || fail "could not set the DPI"
texts() { (cd "$work" && "$wine" "$win/bin/window_texts.exe" "$@") | tr -d '\r'; }
press() { texts "$1" --press "$2" >/dev/null; }
escape() { xdotool windowfocus --sync "$1" key Escape; sleep 1; }

(cd "$work" && exec "$wine" "$win/bin/tarven-updater.exe") >"$work/updater.log" 2>&1 &
program_pid=$!
main=$(window_of "TARVEN Updater V1.0") || fail "the main window did not open"
shoot "$main" main-window
geometry=$(xdotool getwindowgeometry "$main" | sed -n 's/ *Geometry: //p')
echo "-- the main window is $geometry pixels at 144 DPI"
# A window that wine clipped to a smaller desktop is black at its right edge.
edge=$(convert "$shots/main-window.png" -gravity East -crop 4x100%+0+0 +repage -format '%[fx:mean]' info:)
awk -v m="$edge" 'BEGIN { exit !(m > 0.2) }' || fail "the main window is drawn only in part (right edge mean $edge)"
clipped=$(texts "TARVEN Updater V1.0" --clipped) || fail "captions clipped in the main window: $clipped"
press "TARVEN Updater V1.0" 11976  # "Note"
about=$(window_of "TARVEN Updater V1.0" "$main") || fail "\"Note\" did not open the About box"
shoot "$about" about
escape "$about"
press "TARVEN Updater V1.0" 11977  # "Mot de passe"
password=$(window_of "MOT DE PASSE ") || fail "\"Mot de passe\" did not open the password window"
shoot "$password" password
press "MOT DE PASSE " 2
sleep 1
press "TARVEN Updater V1.0" 11972  # "Changer Le répertoire"
browser=$(window_of "Changer Direction") || fail "\"Changer Le répertoire\" did not open the folder browser"
shoot "$browser" folder-browser
clipped=$(texts "Changer Direction" --clipped) || fail "captions clipped in the folder browser: $clipped"
press "Changer Direction" 11557  # "nouveau classeur"
newfolder=$(window_of "Creer un nouveau  classeur") || fail "\"nouveau classeur\" did not open its dialog"
shoot "$newfolder" new-folder
press "Creer un nouveau  classeur" 2
sleep 1
press "Changer Direction" 2
sleep 1
press "TARVEN Updater V1.0" 2  # "Sortie"
for _ in $(seq 100); do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$program_pid" 2>/dev/null; then fail "\"Sortie\" did not end the program"; fi
program_pid=""

(cd "$work" && exec "$wine" "$win/bin/show_template.exe" 404) >"$work/templates.log" 2>&1 &
program_pid=$!
progress=$(window_of "PC vers TARVEN") || fail "the progress template did not open"
shoot "$progress" progress
kill "$program_pid" 2>/dev/null || true
wait "$program_pid" 2>/dev/null || true
program_pid=""
echo "Windows window pictures at 144 DPI in $shots"
