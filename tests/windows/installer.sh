#!/usr/bin/env bash
# The installer under wine: a silent install (/S) puts both programs and the
# README under Program Files, a Start-menu entry and an uninstall entry for
# Apps & Features; the Start-menu entry starts the installed window in the
# shared Documents folder; a silent uninstall leaves none of it behind.
# Run by scripts/test-windows.sh in its private mount namespace with
# WINEPREFIX set up; arguments: wine, the Windows build folder, the installer.
set -euo pipefail
wine=$1 win=$2 setup=$3
shots=$win/screenshots
work=$win/wine-installer
rm -rf "$work"
mkdir -p "$shots" "$work"
fail() { echo "Windows installer FAILED: $*" >&2; exit 1; }
# Wine would copy the Start-menu entry into this machine's own desktop menus.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}winemenubuilder.exe=d"

program_files="$WINEPREFIX/drive_c/Program Files/TARVEN Updater"
shortcut_dos='C:\ProgramData\Microsoft\Windows\Start Menu\Programs\TARVEN Updater.lnk'
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/TARVEN Updater.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\TARVEN Updater'
version=$(sed -n 's/.*tarven-updater-\(.*\)-setup\.exe$/\1/p' <<<"$setup")
reg_value() { "$wine" reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$1 *REG_[A-Z]* *//p"; }

. "$(dirname "$0")/window-common.sh"
start_display
finish() { kill "$xvfb" 2>/dev/null || true; }
trap finish EXIT

echo "-- silent install"
(cd "$work" && timeout 120 "$wine" "$setup" /S) >"$work/install.log" 2>&1 || fail "the installer failed (exit $?)"
for file in tarven-updater.exe tarven-link.exe README.txt uninstall.exe; do
    [ -f "$program_files/$file" ] || fail "$file is not under Program Files"
done
cmp "$program_files/tarven-updater.exe" "$win/bin/tarven-updater.exe" || fail "the installed tarven-updater.exe is another"
cmp "$program_files/tarven-link.exe" "$win/bin/tarven-link.exe" || fail "the installed tarven-link.exe is another"
[ -f "$shortcut" ] || fail "no Start-menu entry"
[ "$(reg_value DisplayName)" = "TARVEN Updater" ] || fail "Apps & Features has no entry: $("$wine" reg query "$key" 2>&1)"
[ "$(reg_value DisplayVersion)" = "$version" ] || fail "the uninstall entry's version is $(reg_value DisplayVersion), not $version"
[ "$(reg_value UninstallString)" = '"C:\Program Files\TARVEN Updater\uninstall.exe"' ] ||
    fail "the uninstall entry runs $(reg_value UninstallString)"
# The programs' version resource carries the project's version.
strings -el "$program_files/tarven-updater.exe" | grep -qx "$version" || fail "tarven-updater.exe has no version $version"
out=$(cd "$work" && "$wine" "C:\\Program Files\\TARVEN Updater\\tarven-link.exe" --help | tr -d '\r') ||
    fail "the installed tarven-link.exe does not run"
grep -q '^Usage: tarven-link' <<<"$out" || fail "the installed tarven-link.exe: $out"

echo "-- the Start-menu entry starts the installed window"
(cd "$work" && "$wine" start "$shortcut_dos") >"$work/start.log" 2>&1 || fail "the Start-menu entry does not start"
main=$(window_of "TARVEN Updater V1.0") || fail "the installed window did not open"
shoot "$main" installed-window
texts=$( (cd "$work" && "$wine" "$win/bin/window_texts.exe" "TARVEN Updater V1.0") | tr -d '\r')
grep -qi $'^11975\tC:\\\\users\\\\Public\\\\Documents$' <<<"$texts" ||
    fail "the installed window did not start in the shared Documents: $(grep '^11975' <<<"$texts")"
click_du "$main" 444 282 340 239 83 18  # "Sortie"
for _ in $(seq 100); do xdotool search --name '^TARVEN Updater V1.0$' >/dev/null 2>&1 || break; sleep 0.1; done
if xdotool search --name '^TARVEN Updater V1.0$' >/dev/null 2>&1; then fail "\"Sortie\" did not close the installed window"; fi

echo "-- silent uninstall"
# The uninstaller runs from a copy of itself in the temporary folder, so that
# it can delete itself: what it leaves is checked once that copy has ended.
(cd "$work" && timeout 120 "$wine" "C:\\Program Files\\TARVEN Updater\\uninstall.exe" /S) >"$work/uninstall.log" 2>&1 ||
    fail "the uninstaller failed (exit $?)"
for _ in $(seq 300); do
    [ -e "$program_files" ] || [ -e "$shortcut" ] || "$wine" reg query "$key" >/dev/null 2>&1 || break
    sleep 0.2
done
[ ! -e "$program_files" ] || fail "left under Program Files: $(ls -A "$program_files")"
[ ! -e "$shortcut" ] || fail "the Start-menu entry is left"
if "$wine" reg query "$key" >/dev/null 2>&1; then fail "the uninstall entry is left"; fi
echo "Windows installer passed"
