#!/usr/bin/env bash
# The Windows window under wine on a virtual display: tarven-updater.exe opens
# its main window, and its buttons open the About box, the password window,
# the folder browser and from there the new folder dialog; the progress
# template opens on its own as it looks before a run starts (window-walk.sh
# reaches it and the overwrite question in a run). Each is kept as a picture
# in $shots.
# Run by scripts/test-windows.sh inside its private mount namespace, with
# WINEPREFIX set up; arguments: wine, wineserver, the Windows build folder.
set -euo pipefail
wine=$1 wineserver=$2 win=$3
shots=$win/screenshots
work=$win/wine-window
rm -rf "$shots" "$work"
mkdir -p "$shots" "$work"
fail() { echo "Windows window FAILED: $*" >&2; exit 1; }

. "$(dirname "$0")/window-common.sh"
start_display
program_pid=""
finish() {
    if [ -n "$program_pid" ]; then kill "$program_pid" 2>/dev/null || true; fi
    kill "$xvfb" 2>/dev/null || true
}
trap finish EXIT

echo "-- the main window, its About box, the password window, the folder browser and the new folder dialog"
(cd "$work" && exec "$wine" "$win/bin/tarven-updater.exe") >"$work/updater.log" 2>&1 &
program_pid=$!
main=$(window_of "TARVEN Updater V1.0") || fail "the main window did not open"
shoot "$main" main-window
# The main window's template fits every caption in "MS Sans Serif" 8.
clipped=$( (cd "$work" && "$wine" "$win/bin/window_texts.exe" "TARVEN Updater V1.0" --clipped) | tr -d '\r') ||
    fail "captions clipped in the main window: $clipped"
click_du "$main" 444 282 341 179 83 18  # "Note"
sleep 1
about=$(window_of "TARVEN Updater V1.0" "$main") || fail "\"Note\" did not open the About box"
shoot "$about" about
click_du "$about" 267 62 210 7 50 14  # "MERCI"
sleep 1
click_du "$main" 444 282 341 207 83 18  # "Mot de passe"
password=$(window_of "MOT DE PASSE ") || fail "\"Mot de passe\" did not open the password window"
shoot "$password" password
xdotool windowfocus --sync "$password" key Escape
sleep 1
click_du "$main" 444 282 15 235 83 17  # "Changer Le répertoire"
browser=$(window_of "Changer Direction") || fail "\"Changer Le répertoire\" did not open the folder browser"
shoot "$browser" folder-browser
# Two of its captions are wider than the template's controls even at
# Windows' own metrics; the window gives them the free room beside them.
clipped=$( (cd "$work" && "$wine" "$win/bin/window_texts.exe" "Changer Direction" --clipped) | tr -d '\r') ||
    fail "captions clipped in the folder browser: $clipped"
click_du "$browser" 248 180 146 160 50 14  # "nouveau classeur"
newfolder=$(window_of "Creer un nouveau  classeur") || fail "\"nouveau classeur\" did not open its dialog"
shoot "$newfolder" new-folder
click_du "$newfolder" 144 79 76 58 50 14  # "Annuler"
sleep 1
click_du "$browser" 248 180 146 142 50 14  # "Annuler"
sleep 1
click_du "$main" 444 282 340 239 83 18  # "Sortie"
for _ in $(seq 100); do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$program_pid" 2>/dev/null; then fail "\"Sortie\" did not end the program"; fi
program_pid=""

echo "-- the progress template before any run (window-walk.sh shows it running)"
for entry in "404:PC vers TARVEN:progress"; do
    IFS=: read -r number title name <<<"$entry"
    (cd "$work" && exec "$wine" "$win/bin/show_template.exe" "$number") >>"$work/templates.log" 2>&1 &
    program_pid=$!
    dialog=$(window_of "$title") || fail "template $number ($title) did not open"
    shoot "$dialog" "$name"
    kill "$program_pid" 2>/dev/null || true
    wait "$program_pid" 2>/dev/null || true
    program_pid=""
done
echo "Windows window pictures in $shots"
