#!/usr/bin/env bash
# Speed of tarven-link's upload and read-back against the paced simulated
# receiver at 115,200 baud, compared with the time the bytes need on the line.
# Builds the two programs (Release, build-bench/) when needed, then runs
# bench/bench.py, which prints the tables and writes them into bench/RESULTS.md.
# Every paced case also runs with tarven-link as it was at --before (40740f9
# by default, built once into build-bench/before-<commit>/), in the same run.
#
#   bash bench/run.sh                 # everything, about 35 minutes
#   bash bench/run.sh --sizes 1 --no-unpaced   # the before/after table, about 10 minutes
#   bash bench/run.sh --serial        # paced cases one at a time, about twice as long
#   bash bench/run.sh --latencies ''  # without the rows behind a USB adapter
#   bash bench/run.sh --before ''     # the current program only
#   bash bench/run.sh --sizes 1 --no-write   # a shorter look, RESULTS.md untouched
#   bash bench/run.sh --tables-from build-bench/bench-work/last-run.json   # tables again, no run
#   bash bench/run.sh --help
#
# Hold the machine's bench lock: flock /tmp/tarven-bench.lock bash bench/run.sh ...
# BENCH_BUILD_DIR chooses another build folder (default: build-bench).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BENCH_BUILD_DIR:-$root/build-bench}"

tables_only=0
for arg in "$@"; do
    [[ "$arg" == --tables-from* ]] && tables_only=1
done

if [[ $tables_only == 0 ]]; then
    if [[ ! -f "$build/build.ninja" && ! -f "$build/Makefile" ]]; then
        flags=(-DTARVEN_BUILD_UI=OFF -DCMAKE_BUILD_TYPE=Release -DTARVEN_WERROR=ON)
        command -v ninja >/dev/null && flags+=(-G Ninja)
        command -v ccache >/dev/null && flags+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
        cmake -S "$root" -B "$build" "${flags[@]}" >/dev/null
    fi
    # Incremental: only what changed is rebuilt. Two jobs at most: the machine is shared.
    cmake --build "$build" --target tarven-link tarven-receiver-sim -j2 >/dev/null
fi

BENCH_BUILD_DIR="$build" exec python3 -B "$root/bench/bench.py" "$@"
