#!/usr/bin/env bash
# Speed of tarven-link's upload and read-back against the paced simulated
# receiver at 115,200 baud, compared with the time the bytes need on the line.
# Builds the two programs (Release, build-bench/) when needed, then runs
# bench/bench.py, which prints the tables and writes them into bench/RESULTS.md.
#
#   bash bench/run.sh                 # everything, about 15 minutes
#   bash bench/run.sh --serial        # paced cases one at a time, about 30 minutes
#   bash bench/run.sh --latencies ''  # without the rows behind a USB adapter
#   bash bench/run.sh --sizes 1 --no-write   # a shorter look, RESULTS.md untouched
#   bash bench/run.sh --help
#
# BENCH_BUILD_DIR chooses another build folder (default: build-bench).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BENCH_BUILD_DIR:-$root/build-bench}"

if [[ ! -f "$build/build.ninja" && ! -f "$build/Makefile" ]]; then
    generator=()
    command -v ninja >/dev/null && generator=(-G Ninja)
    cmake -S "$root" -B "$build" "${generator[@]}" -DTARVEN_BUILD_UI=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
# Incremental: only what changed is rebuilt. Two jobs at most: the machine is shared.
cmake --build "$build" --target tarven-link tarven-receiver-sim -j2 >/dev/null

BENCH_BUILD_DIR="$build" exec python3 "$root/bench/bench.py" "$@"
