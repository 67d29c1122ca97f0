#!/usr/bin/env bash
# One walk through tarven-updater.exe under wine, played with the mouse by
# xdotool against the Linux simulator behind wine's COM1: "Lecture de la
# Version" fills the [ Lecture ] fields, "Mise a jour" sends a 1 MiB image
# that the receiver gets byte for byte and "Transfer Successfully!" shows,
# the service password typed in lower case is accepted, the hidden read-back
# button asks before it would write over a file, and "Sortie" ends the
# program. window_texts.exe reads what the window shows.
# Run by scripts/test-windows.sh in its private mount namespace; arguments:
# wine, the Windows build folder, the simulator, the path COM1 stands for.
set -euo pipefail
wine=$1 win=$2 sim=$3 line=$4
shots=$win/screenshots
work=$win/wine-walk
rm -rf "$work"
mkdir -p "$shots" "$work"
fail() { echo "Windows window walk FAILED: $*" >&2; exit 1; }

. "$(dirname "$0")/window-common.sh"
start_display
program_pid="" sim_pid=""
finish() {
    if [ -n "$program_pid" ]; then kill "$program_pid" 2>/dev/null || true; fi
    # A simulator removes its link as it ends: it must be gone before the next one starts.
    if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
    kill "$xvfb" 2>/dev/null || true
}
trap finish EXIT
texts() { (cd "$work" && "$wine" "$win/bin/window_texts.exe" "$1") | tr -d '\r'; }
wait_text() {  # wait_text TITLE PATTERN: until a control of that window matches
    for _ in $(seq 120); do texts "$1" | grep -q -- "$2" && return 0; sleep 0.2; done
    return 1
}

# A 1 MiB image with its version texts where the window looks for them.
head -c 1048576 /dev/urandom >"$work/main.bin"
head -c 65536 /dev/urandom >"$work/Def_Data.bin"
cp "$work/Def_Data.bin" "$work/Def_Data.orig"
# The record's software field is its bytes 12 to 27, the hardware field 28 to 35.
printf '\377\377SW-IMAGE-3\0\0\0\0\377\377HW-IMG\0\0' |
    dd of="$work/main.bin" bs=1 seek=$((913328 + 10)) conv=notrunc status=none
rm -f "$line"
"$sim" --link "$line" --hardware HW-WALK-1 --software SW-WALK-2 --upload-output "$work/received.bin" \
    --exit-after-upload >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [ -L "$line" ] && break; sleep 0.1; done
[ -L "$line" ] || fail "the simulator did not start"

(cd "$work" && exec "$wine" "$win/bin/tarven-updater.exe") >"$work/updater.log" 2>&1 &
program_pid=$!
main=$(window_of "TARVEN Updater V1.0") || fail "the main window did not open"
wait_text "TARVEN Updater V1.0" $'^11973\t' >/dev/null || true
texts "TARVEN Updater V1.0" >"$work/start.txt"

echo "-- \"Lecture de la Version\""
click_du "$main" 444 282 191 259 83 18
wait_text "TARVEN Updater V1.0" $'^1000\tSW-WALK-2$' || fail "the software version never showed: $(texts "TARVEN Updater V1.0" | grep -E '^100[01]')"
texts "TARVEN Updater V1.0" | grep -q $'^1001\tHW-WALK-1$' || fail "the hardware version did not show"
texts "TARVEN Updater V1.0" | grep -q $'^1007\tSW-IMAGE-3$' || fail "the image's software version did not show"
texts "TARVEN Updater V1.0" | grep -q $'^1008\tHW-IMG$' || fail "the image's hardware version did not show"
shoot "$main" main-window-versions

echo "-- \"Mise a jour\" with a 1 MiB image"
click_du "$main" 444 282 103 258 83 18
progress=$(window_of "PC vers TARVEN") || fail "the progress dialog did not open"
# The run may end before the picture is taken; only its end is required.
if wait_text "PC vers TARVEN" 'KB'; then import -window "$progress" "$shots/progress-running.png" 2>/dev/null || true; fi
wait_text "TARVEN Updater V1.0" 'Transfer Successfully!' || fail "no \"Transfer Successfully!\": $(texts "TARVEN Updater V1.0")"
box=$(window_of "TARVEN Updater V1.0" "$main") || fail "the message box has no window"
shoot "$box" upload-done
for _ in $(seq 300); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.1; done
cmp "$work/main.bin" "$work/received.bin" || fail "the receiver's image differs from the file"
xdotool windowfocus --sync "$box" key Return
sleep 1

echo "-- \"Mot de passe\" with the service password typed in lower case"
click_du "$main" 444 282 341 207 83 18
password=$(window_of "MOT DE PASSE ") || fail "the password window did not open"
# From "OK", two tabs reach the password's edit, which turns letters into capitals.
xdotool windowfocus --sync "$password" key Tab Tab type kolwe
xdotool key Return
wait_text "TARVEN Updater V1.0" $'^11977\tMot de passe\tdisabled$' ||
    fail "an accepted password left \"Mot de passe\" enabled: $(texts "TARVEN Updater V1.0" | grep '^11977')"

echo "-- the hidden \" Reprenez\" over an existing Def_Data.bin: the overwrite question, cancelled"
# The upload's receiver has gone; the read-back checks that its port opens.
rm -f "$line"
"$sim" --link "$line" >"$work/sim2.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [ -L "$line" ] && break; sleep 0.1; done
click_du "$main" 444 282 29 118 99 10  # "FDD (Factory Default Data)"
wait_text "TARVEN Updater V1.0" $'^11982\t' >/dev/null || true
(cd "$work" && "$wine" "$win/bin/window_texts.exe" "TARVEN Updater V1.0" --press 11974)
overwrite=$(window_of "réécriture") || fail "the overwrite question did not open"
texts "réécriture" | grep -q $'^11650\tDef_Data.bin already exists$' || fail "the overwrite question: $(texts "réécriture")"
shoot "$overwrite" overwrite
click_du "$overwrite" 196 134 139 110 55 17  # "Annuler"
sleep 1
cmp -s "$work/Def_Data.bin" "$work/Def_Data.orig" || fail "a cancelled read-back changed Def_Data.bin"

echo "-- \"Sortie\""
click_du "$main" 444 282 340 239 83 18
for _ in $(seq 100); do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$program_pid" 2>/dev/null; then fail "\"Sortie\" did not end the program"; fi
program_pid=""
echo "Windows window walk passed"
