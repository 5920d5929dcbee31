#!/usr/bin/env bash
# Installs the Debian packages the project needs, when any is missing.
#   scripts/install-deps.sh          build, CLI, the GStreamer plugin and native tests
#   scripts/install-deps.sh --build  only building the library and the tool (scripts/run-sample.sh)
#   scripts/install-deps.sh --all    also the Windows cross toolchains, wine and Xvfb,
#                                    and a way to run 32-bit programs (see below)
set -euo pipefail

all=false
[[ "${1:-}" == "--all" ]] && all=true

# help2man writes the tool's manual page from its help texts at build time;
# the shell tests build streams with xxd and read JSON with python3; the
# video tests make their streams with ffmpeg.
packages=(build-essential cmake pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          libsndfile1-dev libspandsp-dev libavcodec-dev libavutil-dev ffmpeg libbcg729-dev espeak-ng sox
          help2man python3
          libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-plugins-base
          gstreamer1.0-plugins-good gstreamer1.0-tools gstreamer1.0-plugins-base-apps xxd)
if [[ "${1:-}" == "--build" ]]; then
  packages=(build-essential cmake pkg-config libsndfile1-dev help2man)
fi
if $all; then
  packages+=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools binutils-mingw-w64
             wine wine64 wine32:i386 xvfb xauth clang libclang-rt-14-dev nsis)
  # The x86-64-v3 build of the tool is checked against the plain build; on a
  # CPU without AVX2 and FMA it runs under qemu's x86-64 emulator.
  for flag in avx avx2 bmi1 bmi2 f16c fma abm movbe xsave; do
    grep -qw "$flag" /proc/cpuinfo || { packages+=(qemu-user-static); break; }
  done
fi

is_root() { [[ $(id -u) -eq 0 ]]; }

install_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [[ ${#missing[@]} -eq 0 ]] && return 0
  if ! is_root; then
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
}

install_packages "${packages[@]}"
$all || exit 0

# 32-bit Windows programs run in wine32, itself a 32-bit Linux program. Some
# kernels are built without IA-32 emulation (or boot with it off) and refuse
# every 32-bit program with "Exec format error". There the kernel's
# binfmt_misc can hand such programs to qemu's user-mode emulator for i386:
# install it, mount binfmt_misc when it is not, and register the handler once
# (the F flag opens the emulator at registration, so it also works inside
# containers and chroots). The registration lasts until the next boot.
runs_32bit() { /lib/ld-linux.so.2 --version >/dev/null 2>&1; }
binfmt=/proc/sys/fs/binfmt_misc
i386_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

runs_32bit && [[ ! -e $binfmt/qemu-i386 ]] && exit 0  # the kernel runs them itself
if [[ -e $binfmt/qemu-i386 ]] && grep -qx enabled "$binfmt/qemu-i386" && runs_32bit; then
  echo "install-deps: 32-bit programs run under qemu-i386 (binfmt_misc handler already registered)" >&2
  exit 0
fi
# From here on 32-bit programs cannot run yet. Where this cannot be mended,
# say so and go on: the native tests still run, and tests/win/run.sh reports
# the 32-bit wine checks as not run (a failure with CI=true).
cannot() {
  echo "install-deps: this kernel refuses 32-bit programs and $*; the 32-bit wine checks cannot run" >&2
  exit 0
}
is_root || cannot "registering qemu-i386 for them needs root (run this script as root)"
done_steps=()
if [[ ! -x /usr/bin/qemu-i386-static ]]; then
  install_packages qemu-user-static
  done_steps+=("installed qemu-user-static")
fi
if [[ ! -e $binfmt/register ]]; then
  mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || cannot "binfmt_misc cannot be mounted at $binfmt"
  done_steps+=("mounted binfmt_misc")
fi
if [[ -e $binfmt/qemu-i386 ]]; then
  echo 1 >"$binfmt/qemu-i386" || cannot "its qemu-i386 handler cannot be enabled"
  done_steps+=("enabled the qemu-i386 handler")
else
  printf ':qemu-i386:M::%s:%s:/usr/bin/qemu-i386-static:F' "$i386_magic" "$i386_mask" >"$binfmt/register" ||
    cannot "qemu-i386 cannot be registered with binfmt_misc"
  done_steps+=("registered qemu-i386 with binfmt_misc")
fi
runs_32bit || cannot "they do not start even under qemu-i386"
what=$(printf '%s, ' "${done_steps[@]}")
echo "install-deps: this kernel refuses 32-bit programs: ${what%, }; they now run under qemu-i386" >&2
