#!/usr/bin/env bash
# Builds the Windows installer build/Velkorix-Setup.exe from the modules of
# the win32 and win64 presets (cmake --build --preset win32, win64) with
# makensis (Debian package nsis; scripts/install-deps.sh --all installs it).
#
#   scripts/build-installer.sh [OUT_FILE]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELKORIX_BUILD_DIR:-$root/build}
out=${1:-$build/Velkorix-Setup.exe}
for bits in 32 64; do
  for module in Velkorix.ax VelkorixSource.ax; do
    [[ -f $build/win$bits/$module ]] || {
      echo "build-installer: $build/win$bits/$module is missing (cmake --preset win$bits && cmake --build --preset win$bits)" >&2
      exit 1
    }
  done
done
command -v makensis >/dev/null || { echo "build-installer: makensis is not installed (package nsis)" >&2; exit 1; }
makensis -V2 -DWIN32_DIR="$build/win32" -DWIN64_DIR="$build/win64" -DOUT_FILE="$out" "$root/installer/velkorix.nsi"
echo "$out"
