#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time
# (seconds per fuzzer, default 60). A crash is saved under fuzz/regressions/,
# where every later build replays it as a test, and fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DTARVEN_FUZZ=ON -DTARVEN_BUILD_UI=OFF \
    -DTARVEN_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j 2 --target fuzz_ReceiveFrame fuzz_VersionText
status=0
for target in ReceiveFrame:receive_frame VersionText:version_text; do
    name=${target%%:*}; dir=${target##*:}
    corpus=build-fuzz/corpus/$dir
    mkdir -p "$corpus" "fuzz/regressions/$dir"
    cp -n fuzz/regressions/$dir/* "$corpus"/ 2>/dev/null || true
    echo "fuzz_$name for ${seconds}s"
    if ! build-fuzz/bin/fuzz_$name "$corpus" -max_total_time="$seconds" -max_len=70000 \
            -artifact_prefix="fuzz/regressions/$dir/" -print_final_stats=1 2>build-fuzz/$dir.log; then
        tail -n 40 build-fuzz/$dir.log
        status=1
    else
        grep -E 'stat::number_of_executed_units|stat::new_units_added' build-fuzz/$dir.log | tr '\n' ' '; echo
    fi
done
exit $status
