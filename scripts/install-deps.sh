#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the fuzzers, the demo
# and the package step need. Packages already present are skipped, so a
# second run costs nothing and a fresh Debian 12 machine needs nothing else.
set -euo pipefail

packages=(
  build-essential g++ cmake ninja-build pkg-config
  clang libclang-rt-14-dev           # libFuzzer and the sanitizer runtimes
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libqt6svg6                         # icon rendering in the desktop entry
  googletest libgtest-dev libgmock-dev
  zlib1g-dev                         # independent CRC-32 for the frame tests
  xvfb xauth x11-apps imagemagick    # window under a virtual display, screenshots
  xdotool                            # keyboard and mouse for the Windows window under wine
  fonts-dejavu-core
  python3 python3-jsonschema procps util-linux dpkg-dev fakeroot file  # jsonschema: the report schema test
  man-db desktop-file-utils          # package step: man page check, desktop entry check
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}" >&2
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
