#!/usr/bin/env bash
# Compiles the serial port component against the real Windows headers (mingw-w64), so that it
# keeps to what the Win32 interface offers and stays the same source on both systems.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cxx=${MINGW_CXX:-x86_64-w64-mingw32-g++}
if ! command -v "$cxx" >/dev/null 2>&1; then
  echo "check-windows-build: $cxx not found (Debian package g++-mingw-w64-x86-64)" >&2
  exit 1
fi
status=0
for source in "$top"/serial/*.cpp; do
  if ! "$cxx" -std=c++20 -Wall -Wextra -Werror -fsyntax-only \
      -I"$top/serial" -I"$top/platform" "$source"; then
    status=1
  fi
done
if [ "$status" -eq 0 ]; then
  echo "check-windows-build: serial/ compiles against <windows.h>"
fi
exit "$status"
