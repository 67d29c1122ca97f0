#!/usr/bin/env bash
# Builds the updater and starts it in a fresh demo folder holding one image
# per kind, with COM1 mapped to a simulated receiver that reports preset
# versions, accepts uploads and serves a read-back. The simulator stops with
# the window; the demo folder is kept so nothing received is lost.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j 2 --target tarven-updater tarven-receiver-sim tarven-link

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != offscreen ]; then
    echo "No display: tarven-updater is a desktop window and needs an X11 or Wayland session." >&2
    echo "Run it from a desktop terminal, or under a virtual display: xvfb-run -a bash scripts/run.sh" >&2
    exit 1
fi

demo=$(mktemp -d "${TMPDIR:-/tmp}/tarven-demo-XXXXXX")
mkdir "$demo/received"
served=$(python3 scripts/make-demo-folder.py "$demo")
out="$demo/received/sim.out"
build/bin/tarven-receiver-sim --hardware "HW-DEMO-2" --software "SW 2.41 DEMO" \
    --upload-output "$demo/received/uploaded.bin" --readback-image "$demo/$served" >"$out" &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null' EXIT
for _ in $(seq 100); do [ -s "$out" ] && break; sleep 0.05; done
device=$(head -n 1 "$out")
[ -n "$device" ] || { echo "the simulated receiver did not start" >&2; exit 1; }
cat <<MSG
Simulated receiver on $device (COM1). Working folder: $demo
  - the images to send are there, one per kind;
  - the last image the receiver took is kept as $demo/received/uploaded.bin;
  - the window keeps its read-back button hidden; while it is idle, read the
    receiver's image back from another terminal with
    $repo/build/bin/tarven-link --device $device readback --kind fdd --output $demo/Def_Data.bin
The folder stays after the window closes.
MSG
cd "$demo"
TARVEN_COM1="$device" "$repo/build/bin/tarven-updater"
