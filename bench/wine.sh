#!/usr/bin/env bash
# tarven-link.exe under wine beside tarven-link on Linux, both against the
# paced simulator at 115,200 baud: upload and read-back of 1 MiB, the cases
# interleaved, two rounds, medians (bench/wine_bench.py). Wake-ups a second,
# CPU and the ratio to the wire bound, for this tree's tarven-link.exe and,
# with --before, for the one of an earlier commit.
#
#   bash bench/wine.sh --build-only --before 8237ac9      # builds only: no lock needed
#   flock /tmp/tarven-bench.lock bash bench/wine.sh --no-build --before 8237ac9 --write
#
#   --before REV   also run tarven-link.exe built from REV (git archive; repeatable)
#   --rounds N     rounds (default 2)      --size MIB   image size, 1 or 2 (the software kind takes those; default 1)
#   --modes LIST   upload,readback (default both)
#   --wine-push-ms MS  when the simulator starts a read-back under wine (default
#                  300, as on Linux: with its server running, wine starts the
#                  program in about 40 ms)
#   --write        puts the table into bench/RESULTS.md between its wine markers
#   --build-only, --no-build
# Every benchmark run holds the machine-wide lock (flock /tmp/tarven-bench.lock).
# TARVEN_BENCH_WINEDEBUG=+server shows where the wake-ups go: each request the
# programs make of wine's server, on this script's standard error (large).
# As the Windows stage does, wine runs in a private mount namespace where the
# machine's serial device nodes are /dev/null, with a prefix of its own whose
# COM1 is a link to the simulator's pseudo-terminal and COM2 to COM6 empty.
# Builds: Linux Release in build-bench/ (BENCH_BUILD_DIR), the Windows one in
# build-windows/ (TARVEN_WINDOWS_BUILD, by scripts/build-windows.sh), earlier
# commits and the prefix in build-wine-bench/.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
linux=${BENCH_BUILD_DIR:-$root/build-bench}
win=${TARVEN_WINDOWS_BUILD:-$root/build-windows}
here=$root/build-wine-bench

befores=() pass=() build=1 measure=1 write=0 wine_push=300
# Inside the namespace the arguments are wine_bench.py's.
while [ -z "${TARVEN_BENCH_NAMESPACE:-}" ] && [ $# -gt 0 ]; do
    case $1 in
        --before) befores+=("$2"); shift 2 ;;
        --rounds|--size|--modes) pass+=("$1" "$2"); shift 2 ;;
        --wine-push-ms) wine_push=$2; shift 2 ;;
        --write) write=1; shift ;;
        --build-only) measure=0; shift ;;
        --no-build) build=0; shift ;;
        -h|--help) sed -n '2,27p' "$0"; exit 0 ;;
        *) echo "bench/wine.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache); fi

before_dir() { echo "$here/before-$(git -C "$root" rev-parse --short "$1")"; }

build_all() {
    if [ ! -f "$linux/build.ninja" ]; then
        cmake -S "$root" -B "$linux" -G Ninja -DTARVEN_BUILD_UI=OFF -DCMAKE_BUILD_TYPE=Release -DTARVEN_WERROR=ON \
            "${launcher[@]}" >/dev/null
    fi
    cmake --build "$linux" --target tarven-link tarven-receiver-sim -j2 >/dev/null
    if [ ! -f "$win/build.ninja" ]; then
        TARVEN_WERROR=ON TARVEN_WINDOWS_BUILD=$win bash "$root/scripts/build-windows.sh" --with-wine >/dev/null
    fi
    cmake --build "$win" --target tarven-link -j2 >/dev/null
    for rev in "${befores[@]}"; do
        local dir
        dir=$(before_dir "$rev")
        [ -x "$dir/build/bin/tarven-link.exe" ] && continue
        rm -rf "$dir"
        mkdir -p "$dir/src"
        git -C "$root" archive "$rev" | tar -x -C "$dir/src"
        # An older tree may not know the warnings option; then it goes unused.
        cmake -S "$dir/src" -B "$dir/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$dir/src/cmake/mingw-w64.cmake" \
            -DCMAKE_BUILD_TYPE=Release -DTARVEN_WERROR=ON "${launcher[@]}" >/dev/null 2>&1
        cmake --build "$dir/build" --target tarven-link -j2 >/dev/null
    done
}

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
[ -x "$wineserver" ] || wineserver=/usr/lib/wine/wineserver
line=$here/com1-line  # what wine's COM1 stands for; each run points it at its simulator's pseudo-terminal
work=$here/work

if [ -z "${TARVEN_BENCH_NAMESPACE:-}" ]; then
    command_line="bench/wine.sh $*"
    if [ "$build" = 1 ]; then build_all; fi
    [ "$measure" = 1 ] || exit 0
    for tool in "$linux/bin/tarven-link" "$linux/bin/tarven-receiver-sim" "$win/bin/tarven-link.exe" "$wine"; do
        [ -x "$tool" ] || { echo "bench/wine.sh: $tool is missing (run without --no-build)" >&2; exit 1; }
    done
    short() { git -C "$root" rev-parse --short "$1"; }
    head=$(short HEAD)
    git -C "$root" diff --quiet HEAD -- link cli || head+=" with uncommitted changes"
    exes=() builds="Linux tarven-link at $head"
    for rev in "${befores[@]}"; do
        exes+=(--exe "before ($(short "$rev"))=$(before_dir "$rev")/build/bin/tarven-link.exe")
        builds+=", tarven-link.exe at $(short "$rev") (before)"
    done
    exes+=(--exe "after ($head)=$win/bin/tarven-link.exe")
    builds+=", tarven-link.exe at $head (after); all Release"
    write_args=()
    if [ "$write" = 1 ]; then write_args=(--write "$root/bench/RESULTS.md"); fi
    namespace=(unshare -r -m)
    unshare -r -m true 2>/dev/null || namespace=(unshare -m)
    "${namespace[@]}" true 2>/dev/null || { echo "bench/wine.sh: no private mount namespace" >&2; exit 1; }
    exec env TARVEN_BENCH_NAMESPACE=1 "${namespace[@]}" bash "$0" \
        --sim "$linux/bin/tarven-receiver-sim" --linux-link "$linux/bin/tarven-link" --wine "$wine" \
        --line "$line" --work "$work" --wine-push-ms "$wine_push" "${exes[@]}" "${pass[@]}" "${write_args[@]}" \
        --info "builds=$builds" --info "wine_version=$("$wine" --version 2>/dev/null || echo wine)" \
        --info "machine=$(nproc) CPUs, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1), Linux $(uname -r)" \
        --info "command=$command_line"
fi

# Inside the namespace (the arguments are wine_bench.py's): no serial device
# of the machine is reachable.
for node in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM* /dev/ttyAMA* /dev/rfcomm*; do
    if [ -e "$node" ]; then mount --bind /dev/null "$node"; fi
done
export WINEPREFIX=$here/wine-prefix WINEDEBUG=${TARVEN_BENCH_WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
mkdir -p "$here" "$work"
server_pid=""
cleanup() {
    rm -f "$line"
    if [ -n "$server_pid" ]; then "$wineserver" -k >/dev/null 2>&1 || true; wait "$server_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    timeout 300 "$wine" wineboot --init >/dev/null 2>&1 || { echo "bench/wine.sh: wineboot failed" >&2; exit 1; }
fi
{
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
    printf '"COM1"="%s"\r\n' "$line"
    for n in 2 3 4 5 6; do printf '"COM%s"=""\r\n' "$n"; done
} >"$work/ports.reg"
(cd "$work" && timeout 120 "$wine" reg import ports.reg >/dev/null 2>&1) || { echo "bench/wine.sh: reg import failed" >&2; exit 1; }
timeout 120 "$wineserver" -w || true
# One server for the whole run, in the foreground so its counters can be read.
"$wineserver" -f -p &
server_pid=$!
# The first program of a server starts wine's own services: not inside a measured run.
(cd "$work" && timeout 120 "$wine" "$win/bin/tarven-link.exe" --help </dev/null >/dev/null 2>&1) || true
python3 "$root/bench/wine_bench.py" --wineserver-pid "$server_pid" "$@"
