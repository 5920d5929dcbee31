#!/usr/bin/env bash
# The video decoders stay out of the audio path: libvelkorix.so and the
# velkorix tool do not link libavcodec (only the video module, loaded on
# demand, does), and the module installs beside the library.
#   usage: video_library_test.sh CLI WORKDIR   (the library sits beside the CLI)
set -euo pipefail
cli=$1
work=$2
build=$(cd "$(dirname "$cli")" && pwd)
rm -rf "$work"
mkdir -p "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }

library="$build/libvelkorix.so"
module="$build/libvelkorix-video.so"
[[ -e "$library" ]] || fail "no $library"
[[ -e "$module" ]] || fail "no $module (libavcodec's development files missing at configure time?)"

needed() { readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'; }
video_libraries='^lib(avcodec|avutil|avformat|swscale|swresample|x264)\.'

# ---- What each file needs at run time ----
# The detector itself: the module does name libavcodec.
needed "$module" | grep -E "$video_libraries" >/dev/null || fail "the check does not see libavcodec in the module"
for file in "$library" "$cli"; do
  if needed "$file" | grep -E "$video_libraries" >&2; then
    fail "$(basename "$file") needs a video library (above)"
  fi
done
# The library needs the C and C++ runtimes only (a sanitizer build adds its runtimes).
extra=$(needed "$library" | grep -vE '^(libstdc\+\+\.so|libm\.so|libgcc_s\.so|libc\.so|ld-linux[-a-z0-9_.]*\.so|libasan\.so|libubsan\.so)' || true)
[[ -z "$extra" ]] || fail "libvelkorix.so needs more than the C and C++ runtimes: $extra"

# ---- Installed beside the library ----
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || { cat "$work/install.log" >&2; fail "install"; }
libdir=$(dirname "$(find "$prefix" -name 'libvelkorix.so.1' | head -n1)")
[[ -f "$libdir/libvelkorix-video.so" ]] || fail "the video module is not installed beside libvelkorix.so"

echo "video library: link dependencies and install ok"
