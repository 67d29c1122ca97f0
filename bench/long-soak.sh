#!/usr/bin/env bash
# The fault soak at length, on demand: about RUNS transfers (uploads and
# read-backs) spread over every fault profile in the proportions of the CI
# soak, with every upload that reports success sorted into confirmed and
# unconfirmed and the fdd ones checked by reading the image back.
#
#   bash bench/long-soak.sh 5000              # one process
#   SOAK_JOBS=2 bash bench/long-soak.sh 5000  # two processes, profiles split between them
#   bash bench/long-soak.sh 5000 --write      # also record the matrix in bench/RESULTS.md
#
# SOAK_BUILD_DIR: the build folder holding soak_tests (default: build).
# The log of each process is kept in $SOAK_LOG_DIR (default: a new /tmp folder).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
runs="${1:?usage: long-soak.sh RUNS [--write]}"
write="${2:-}"
build="${SOAK_BUILD_DIR:-$root/build}"
jobs="${SOAK_JOBS:-1}"
logs="${SOAK_LOG_DIR:-$(mktemp -d /tmp/tarven-long-soak-XXXXXX)}"
binary="$build/bin/soak_tests"
[[ -x "$binary" ]] || binary="$build/tests/soak/soak_tests"
[[ -x "$binary" ]] || { echo "no soak_tests in $build: build it first (cmake --build $build --target soak_tests)" >&2; exit 2; }

# Runs of all profiles at scale 1 (tests/soak/FaultSoakTest.cpp), the CI soak's own size.
base=233
scale="$(python3 -c "print($runs / $base)")"
started="$(date -u)"
echo "long soak: about $runs runs (scale $scale), $jobs process(es), logs in $logs" >&2

pids=()
for ((i = 0; i < jobs; i++)); do
    GTEST_TOTAL_SHARDS="$jobs" GTEST_SHARD_INDEX="$i" TARVEN_SOAK_SCALE="$scale" \
        nice "$binary" --gtest_filter='Faults/FaultSoak.*' >"$logs/shard-$i.log" 2>&1 &
    pids+=($!)
done
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
finished="$(date -u)"

# Adds up the per-row machine lines of every process into one markdown matrix.
table="$(cat "$logs"/shard-*.log | python3 "$root/bench/soak_matrix.py" \
    --runs "$runs" --scale "$scale" --jobs "$jobs" --started "$started" --finished "$finished" \
    --commit "$(git -C "$root" rev-parse --short HEAD)" --status "$status")"
echo "$table"
if [[ "$write" == "--write" ]]; then
    python3 "$root/bench/soak_matrix.py" --insert "$root/bench/RESULTS.md" <<<"$table"
    echo "written into bench/RESULTS.md" >&2
fi
exit "$status"
