#!/usr/bin/env bash
# Cross-builds tarven-link.exe, the window tarven-updater.exe and the link
# tests for 64-bit Windows with Debian's mingw-w64 (static, posix threads) into
# build-windows/bin/, and packs both programs for technicians: into
# build-windows/tarven-link-<version>-windows-x64.zip (unzip and run), and
# into the installer build-windows/tarven-updater-<version>-setup.exe (NSIS:
# Program Files, a Start-menu entry, an uninstaller in Apps & Features).
# Installs the Debian packages it needs first; present ones are skipped.
# --with-wine also installs wine64 and its fonts, which run the results here,
# and the virtual display, input and screenshot tools the window's tests use.
# TARVEN_WERROR=ON builds with the strict warnings, failing on any (as the
# Linux build's option of that name does).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${TARVEN_WINDOWS_BUILD:-$here/build-windows}

packages=(cmake ninja-build g++-mingw-w64-x86-64-posix libz-mingw-w64-dev googletest zip nsis)
if [ "${1:-}" = "--with-wine" ]; then packages+=(wine64 fonts-wine xvfb xdotool imagemagick); fi
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then missing+=("$p"); fi
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}" >&2
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache); fi
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DTARVEN_WERROR="${TARVEN_WERROR:-OFF}" "${launcher[@]}" >/dev/null
cmake --build "$build" --target tarven-link tarven-updater link_tests show_template window_texts -j "${TARVEN_JOBS:-2}"

version=$(sed -n 's/^project(.* VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
name=tarven-link-$version-windows-x64
stage=$build/$name
rm -rf "$stage" "$build/$name.zip"
mkdir -p "$stage"
cp "$build/bin/tarven-link.exe" "$build/bin/tarven-updater.exe" "$stage/"
sed 's/$/\r/' "$here/packaging/windows/README.txt" >"$stage/README.txt"
(cd "$build" && zip -q -r -X "$name.zip" "$name")
setup=$build/tarven-updater-$version-setup.exe
# Windows keeps four version numbers.
quad=$version
while [ "$(tr -cd . <<<"$quad" | wc -c)" -lt 3 ]; do quad=$quad.0; done
makensis -V2 -DVERSION="$version" -DVERSION_QUAD="$quad" -DBIN="$build/bin" -DREADME="$stage/README.txt" \
    -DICON="$here/resources/AppIcon.ico" -DOUTFILE="$setup" "$here/packaging/windows/installer.nsi" >/dev/null
rm -rf "$stage"
echo "$build/bin/tarven-link.exe"
echo "$build/bin/tarven-updater.exe"
echo "$build/$name.zip"
echo "$setup"
