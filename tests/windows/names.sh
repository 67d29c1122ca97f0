#!/usr/bin/env bash
# File names beyond the ANSI code page under wine, against the simulator
# behind COM1, from a folder whose own name has accents: the window lists
# "mise à jour é.bin" and uploads it byte for byte; tarven-link.exe takes the
# same name from its command line, uploads it and reads an image back into
# another accented name; a file whose full path is over 259 characters
# uploads as well.
# The image is 1 MiB, a size the window's default kind accepts.
# Run by scripts/test-windows.sh in its private mount namespace with
# WINEPREFIX set up; arguments: wine, the Windows build folder, the simulator,
# the path COM1 stands for.
set -euo pipefail
wine=$1 win=$2 sim=$3 line=$4
shots=$win/screenshots
work="$win/wine-names/dossier à é"
rm -rf "$win/wine-names"
mkdir -p "$work" "$shots"
fail() { echo "Windows file names FAILED: $*" >&2; exit 1; }
# Wine hands a program its Unix arguments and file names through the locale's
# character set: UTF-8 here, whatever the caller's locale was.
export LC_ALL=C.UTF-8

. "$(dirname "$0")/window-common.sh"
start_display
program_pid="" sim_pid=""
finish() {
    if [ -n "$program_pid" ]; then kill "$program_pid" 2>/dev/null || true; fi
    if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
    kill "$xvfb" 2>/dev/null || true
}
trap finish EXIT
start_sim() {
    rm -f "$line"
    "$sim" --link "$line" "$@" >"$work/../sim.log" 2>&1 &
    sim_pid=$!
    for _ in $(seq 100); do [ -L "$line" ] && return 0; sleep 0.1; done
    fail "the simulator did not start"
}
end_sim() {  # once the receiver has written what it rebuilt and gone
    for _ in $(seq 300); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.1; done
    kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; sim_pid=""
}
texts() { (cd "$work" && "$wine" "$win/bin/window_texts.exe" "$1") | tr -d '\r'; }
link() { (cd "$work" && timeout 300 "$wine" "$win/bin/tarven-link.exe" "$@"); }
name="mise à jour é.bin"
head -c 1048576 /dev/urandom >"$work/$name"

echo "-- the window: \"Mise a jour\" with \"$name\""
start_sim --upload-output "$work/../window.bin" --exit-after-upload
(cd "$work" && exec "$wine" "$win/bin/tarven-updater.exe") >"$work/../updater.log" 2>&1 &
program_pid=$!
main=$(window_of "TARVEN Updater V1.0") || fail "the main window did not open"
sleep 2
click_du "$main" 444 282 163 110 160 8  # the image list's first (and only) row
shoot "$main" names-listed
click_du "$main" 444 282 103 258 83 18  # "Mise a jour"
for _ in $(seq 300); do texts "TARVEN Updater V1.0" | grep -q 'Transfer Successfully!' && break; sleep 0.2; done
texts "TARVEN Updater V1.0" | grep -q 'Transfer Successfully!' ||
    fail "no \"Transfer Successfully!\": $(texts "TARVEN Updater V1.0")"
end_sim
kill "$program_pid" 2>/dev/null || true; wait "$program_pid" 2>/dev/null || true; program_pid=""
cmp "$work/$name" "$work/../window.bin" || fail "the window's upload differs from \"$name\""

echo "-- tarven-link.exe upload \"$name\""
start_sim --upload-output "$work/../link.bin" --exit-after-upload
status=0
link --port COM1 upload --kind software "$name" >"$work/../upload.log" 2>&1 || status=$?
end_sim
case $status in 0|5) ;; *) fail "upload (exit $status): $(tr -d '\r' <"$work/../upload.log")" ;; esac
cmp "$work/$name" "$work/../link.bin" || fail "tarven-link's upload differs from \"$name\""

echo "-- tarven-link.exe readback --output \"relu à é.bin\""
start_sim --readback-image "$work/$name"
link --port COM1 readback --kind fdd --output "relu à é.bin" >"$work/../readback.log" 2>&1 ||
    fail "read-back (exit $?): $(tr -d '\r' <"$work/../readback.log")"
end_sim
cmp "$work/$name" "$work/relu à é.bin" || fail "the read-back into \"relu à é.bin\" differs from the image"

echo "-- tarven-link.exe upload of a file whose full path is over 259 characters"
deep=$work
for part in a b c d; do deep="$deep/$(printf "%s%.0s" "$part" $(seq 70))"; done
mkdir -p "$deep"
cp "$work/$name" "$deep/$name"
windows_path="Z:$(tr / '\\' <<<"$deep/$name")"
[ "${#windows_path}" -gt 259 ] || fail "the long path is only ${#windows_path} characters"
start_sim --upload-output "$work/../long.bin" --exit-after-upload
status=0
link --port COM1 upload --kind software "$windows_path" >"$work/../long.log" 2>&1 || status=$?
end_sim
case $status in 0|5) ;; *) fail "upload of a ${#windows_path}-character path (exit $status): $(tr -d '\r' <"$work/../long.log")" ;; esac
cmp "$work/$name" "$work/../long.bin" || fail "the upload from a ${#windows_path}-character path differs"
echo "Windows file names passed"
