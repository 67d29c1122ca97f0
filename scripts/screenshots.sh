#!/usr/bin/env bash
# Starts the window under a virtual display against the simulated receiver,
# walks the main flows and saves a picture of each (default: docs/screenshots).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/screenshots}
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j 2 --target tarven-screenshot-tour
mkdir -p "$out"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24 -dpi 96" build/bin/tarven-screenshot-tour "$(realpath "$out")"
