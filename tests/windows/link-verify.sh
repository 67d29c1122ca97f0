#!/usr/bin/env bash
# tarven-link.exe upload --verify under wine against the simulator behind
# COM1: a receiver that keeps what it was sent verifies identical (exit 0); one
# that serves another copy is found different at the first byte that differs
# (exit 6). Either way the receiver's copy, read into a temporary file, is
# gone afterwards, wherever the program put it.
# Run by scripts/test-windows.sh in its private mount namespace with
# WINEPREFIX set up; arguments: wine, the Windows build folder, the simulator,
# the path COM1 stands for.
set -euo pipefail
wine=$1 win=$2 sim=$3 line=$4
work=$win/wine-verify
rm -rf "$work"
mkdir -p "$work"
fail() { echo "Windows upload --verify FAILED: $*" >&2; exit 1; }
sim_pid=""
finish() { if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi; }
trap finish EXIT
start_sim() {
    rm -f "$line"
    "$sim" --link "$line" "$@" >"$work/sim.log" 2>&1 &
    sim_pid=$!
    for _ in $(seq 100); do [ -L "$line" ] && return 0; sleep 0.1; done
    fail "the simulator did not start"
}
stop_sim() { kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; sim_pid=""; }
# The folders a temporary file can land in: the Windows temporary folder, the
# working folder, or TMPDIR, here a folder of the test's own (/tmp is shared
# with other programs). TMPDIR is set for tarven-link alone: wine itself
# finds its server through it.
mkdir -p "$work/tmp"
{
    printf '@set TMPDIR=Z:%s\r\n' "$(tr / '\\' <<<"$work/tmp")"
    printf '@"Z:%s" %%*\r\n' "$(tr / '\\' <<<"$win/bin/tarven-link.exe")"
} >"$work/link.bat"
link() { (cd "$work" && timeout 300 "$wine" cmd /c link.bat "$@"); }
leftovers() {
    find "$WINEPREFIX/drive_c/users" "$WINEPREFIX/drive_c/windows/temp" "$work" -maxdepth 6 \
        -name 'tarven-verify*' 2>/dev/null | sort || true
}
before=$(leftovers)

head -c 65536 /dev/urandom >"$work/fdd.bin"
echo "-- a receiver that keeps the image"
start_sim --readback-upload
status=0
link --port COM1 upload --verify --kind fdd fdd.bin >"$work/same.log" 2>&1 || status=$?
stop_sim
[ "$status" = 0 ] || fail "a receiver with the same image: exit $status: $(tr -d '\r' <"$work/same.log")"
grep -q 'identical' "$work/same.log" || fail "no \"identical\": $(tr -d '\r' <"$work/same.log")"

echo "-- a receiver that serves another copy"
cp "$work/fdd.bin" "$work/other.bin"
printf '\x5a' | dd of="$work/other.bin" bs=1 seek=40000 conv=notrunc status=none
cmp -s "$work/fdd.bin" "$work/other.bin" && printf '\xa5' | dd of="$work/other.bin" bs=1 seek=40000 conv=notrunc status=none
start_sim --readback-image "$work/other.bin"
status=0
link --port COM1 upload --verify --kind fdd fdd.bin >"$work/other.log" 2>&1 || status=$?
stop_sim
[ "$status" = 6 ] || fail "a receiver with another copy: exit $status, not 6: $(tr -d '\r' <"$work/other.log")"
grep -q 'at offset 40000 ' "$work/other.log" || fail "the difference is not at offset 40000: $(tr -d '\r' <"$work/other.log")"

[ "$(leftovers)" = "$before" ] || fail "the receiver's copy was left behind: $(comm -13 <(echo "$before") <(leftovers))"
echo "Windows upload --verify passed"
