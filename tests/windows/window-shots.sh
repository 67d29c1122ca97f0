#!/usr/bin/env bash
# The Windows window under wine on a virtual display: tarven-updater.exe opens
# its main window, "Note" opens the About box, and every other dialog
# template opens on its own; each is kept as a picture in $shots.
# Run by scripts/test-windows.sh inside its private mount namespace, with
# WINEPREFIX set up; arguments: wine, wineserver, the Windows build folder.
set -euo pipefail
wine=$1 wineserver=$2 win=$3
shots=$win/screenshots
work=$win/wine-window
rm -rf "$shots" "$work"
mkdir -p "$shots" "$work"
fail() { echo "Windows window FAILED: $*" >&2; exit 1; }

# A display of our own; wine draws the title bars itself, so no window manager is needed.
exec {display_fd}<> <(:)
Xvfb -displayfd "$display_fd" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
read -r -t 20 display <&"$display_fd" || fail "Xvfb did not start"
export DISPLAY=:$display
program_pid=""
finish() {
    if [ -n "$program_pid" ]; then kill "$program_pid" 2>/dev/null || true; fi
    kill "$xvfb" 2>/dev/null || true
}
trap finish EXIT
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1

window_of() {  # window_of TITLE: waits for the top-level window of that exact title
    local id
    for _ in $(seq 150); do
        id=$(xdotool search --name "^$1\$" 2>/dev/null | tail -1) && [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    return 1
}
shoot() {  # shoot WINDOW NAME: once the window has drawn itself
    sleep 1
    import -window "$1" "$shots/$2.png" || fail "no picture of $2"
}
# Clicks the centre of a control given in dialog units (x, y, w, h) of a
# template w_du x h_du: the font of the templates measures 7/4 pixels per
# horizontal unit and 13/8 per vertical one under wine.
click_du() {  # click_du WINDOW W_DU H_DU X Y W H
    local geometry width height left top
    geometry=$(xdotool getwindowgeometry --shell "$1")
    width=$(sed -n 's/^WIDTH=//p' <<<"$geometry")
    height=$(sed -n 's/^HEIGHT=//p' <<<"$geometry")
    left=$(( (width - $2 * 7 / 4) / 2 ))
    top=$(( height - left - $3 * 13 / 8 ))
    xdotool mousemove --window "$1" $(( left + ($4 + $6 / 2) * 7 / 4 )) $(( top + ($5 + $7 / 2) * 13 / 8 )) click 1
}

echo "-- the main window and its About box"
(cd "$work" && exec "$wine" "$win/bin/tarven-updater.exe") >"$work/updater.log" 2>&1 &
program_pid=$!
main=$(window_of "TARVEN Updater V1.0") || fail "the main window did not open"
shoot "$main" main-window
click_du "$main" 444 282 341 179 83 18  # "Note"
sleep 1
about=$(xdotool search --name "^TARVEN Updater V1.0\$" | grep -vx "$main" | tail -1) || true
[ -n "$about" ] || fail "\"Note\" did not open the About box"
shoot "$about" about
click_du "$about" 267 62 210 7 50 14  # "MERCI"
sleep 1
click_du "$main" 444 282 340 239 83 18  # "Sortie"
for _ in $(seq 100); do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$program_pid" 2>/dev/null; then fail "\"Sortie\" did not end the program"; fi
program_pid=""

echo "-- the other dialog templates"
for entry in "131:MOT DE PASSE :password" "404:PC vers TARVEN:progress" "396:Changer Direction:folder-browser" \
             "399:Creer un nouveau  classeur:new-folder" "400:réécriture:overwrite"; do
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
