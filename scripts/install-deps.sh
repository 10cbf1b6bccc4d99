#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running, testing and packaging the station need.
# apt runs without Recommends, so every package a step uses is named here, even when another one
# only recommends it (python3-pymodbus's serial transport needs python3-serial-asyncio).
set -euo pipefail
packages=(
  cmake g++ make pkg-config
  qt6-base-dev libgl-dev libjpeg62-turbo-dev qt6-translations-l10n libqt6svg6 qt6-svg-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libmodbus-dev mbpoll ser2net nftables iproute2 util-linux
  socat xvfb xauth x11-apps imagemagick xdotool poppler-utils
  python3 python3-pymodbus python3-serial python3-serial-asyncio
  fonts-liberation fonts-dejavu-core
  g++-mingw-w64-x86-64
  clang libclang-rt-14-dev
  dpkg-dev file lintian devscripts desktop-file-utils
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
