#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the plain
# build first, then the whole suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, the link and simulator tests under
# ThreadSanitizer, and each fuzzer for a bounded time. After the plain build,
# the Windows stage (scripts/test-windows.sh) cross-builds tarven-link.exe and
# tests it under wine64 against the simulator.
#   TARVEN_QUICK=1   only the plain build and its tests
#   TARVEN_FUZZ_SECONDS=N   time per fuzzer (default 60)
#   TARVEN_SKIP_WINDOWS=1   skip the Windows stage (without it, a stage that cannot run fails)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
jobs=2
stage() { printf '\n==== %s ====\n' "$*"; }

# Every build here, product and tests, the Windows one included, fails on a
# warning, narrowing conversions and shadowed names among them.
export TARVEN_WERROR=ON
build() {  # build DIR [cmake options...]
    local dir=$1; shift
    cmake -S . -B "$dir" -G Ninja -DTARVEN_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
}

stage "build and test"
build build
(cd build && ctest -j "$jobs" --output-on-failure --timeout 600)

if [ "${TARVEN_QUICK:-0}" = 1 ]; then exit 0; fi

stage "Windows: tarven-link.exe and the link tests under wine64"
bash scripts/test-windows.sh build

stage "AddressSanitizer + UndefinedBehaviorSanitizer: whole suite"
build build-asan -DTARVEN_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
# Qt and fontconfig keep caches for the life of the process; only our own leaks matter.
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# The package is made from the plain build only: a sanitizer build is no product.
(cd build-asan && ctest -j "$jobs" --output-on-failure --timeout 900 -LE 'soak|package')
# The fault soak too, at a fifth of its runs: every fault and mix still runs.
(cd build-asan && TARVEN_SOAK_SCALE=0.2 ctest --output-on-failure --timeout 900 -L soak)

stage "ThreadSanitizer: link engine and simulator"
build build-tsan -DTARVEN_TSAN=ON -DTARVEN_BUILD_UI=OFF -DCMAKE_BUILD_TYPE=Debug
(cd build-tsan && TSAN_OPTIONS="halt_on_error=1" ctest -j "$jobs" --output-on-failure --timeout 900 -L 'link|sim')

if [ -f fuzz/CMakeLists.txt ]; then
    stage "fuzzing"
    bash scripts/fuzz.sh "${TARVEN_FUZZ_SECONDS:-60}"
fi
