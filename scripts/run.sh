#!/usr/bin/env bash
# Builds the updater and starts it with COM1 mapped to a fresh simulated
# receiver that reports preset versions. The simulator stops with the window.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j 2 --target tarven-updater tarven-receiver-sim tarven-link

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != offscreen ]; then
    echo "No display: tarven-updater is a desktop window and needs an X11 or Wayland session." >&2
    echo "Run it from a desktop terminal, or under a virtual display: xvfb-run -a bash scripts/run.sh" >&2
    exit 1
fi

workdir=$(mktemp -d -t tarven-demo-XXXXXX)
out="$workdir/sim.out"
build/bin/tarven-receiver-sim --hardware "HW-DEMO-2" --software "SW 2.41 DEMO" \
    --upload-output "$workdir/received.bin" >"$out" &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null; rm -rf "$workdir"' EXIT
for _ in $(seq 100); do [ -s "$out" ] && break; sleep 0.05; done
device=$(head -n 1 "$out")
[ -n "$device" ] || { echo "the simulated receiver did not start" >&2; exit 1; }
echo "Simulated receiver on $device (COM1). Images received are kept in $workdir while the window is open."
TARVEN_COM1="$device" build/bin/tarven-updater
