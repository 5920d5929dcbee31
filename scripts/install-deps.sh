#!/usr/bin/env bash
# Installs the Debian packages the project needs, when any is missing.
#   scripts/install-deps.sh          build, CLI and native tests
#   scripts/install-deps.sh --build  only building the library and the tool (scripts/run-sample.sh)
#   scripts/install-deps.sh --all    also the Windows cross toolchains, wine and Xvfb
set -euo pipefail

packages=(build-essential cmake pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          libsndfile1-dev libspandsp-dev libavcodec-dev libbcg729-dev espeak-ng sox)
if [[ "${1:-}" == "--build" ]]; then
  packages=(build-essential cmake pkg-config libsndfile1-dev)
fi
if [[ "${1:-}" == "--all" ]]; then
  packages+=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools binutils-mingw-w64
             wine wine64 wine32:i386 xvfb xauth clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -ne 0 ]]; then
  echo "install-deps: missing packages: ${missing[*]}; run this script as root" >&2
  exit 1
fi
echo "install-deps: installing ${missing[*]}" >&2
if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q >/dev/null
apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
