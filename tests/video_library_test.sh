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

# ---- A C program against the installed library ----
# tests/video_library_client.c: MPEG-4 and H.264 pictures through the
# installed library's slot, compared with libavcodec's own decode.
pc=$(find "$prefix" -name velkorix.pc)
export PKG_CONFIG_PATH="$(dirname "$pc")"
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck disable=SC2046
gcc -std=c99 -Wall -Wextra -Werror $(pkg-config --cflags velkorix libavcodec libavutil) "$here/video_library_client.c" \
  -o "$work/video_client" $(pkg-config --libs velkorix libavcodec libavutil) || fail "the video client does not build"
# A sanitizer build of the library needs its runtime loaded first.
run() {
  if readelf -d "$library" | grep 'NEEDED.*libasan' >/dev/null; then
    LD_PRELOAD="$(gcc -print-file-name=libasan.so)" ASAN_OPTIONS=detect_leaks=0 "$@"
  else
    "$@"
  fi
}
# The installed library finds the module beside itself (no VELKORIX_VIDEO_MODULE).
unset VELKORIX_VIDEO_MODULE
out=$(LD_LIBRARY_PATH="$libdir" run "$work/video_client" 2>&1) || { echo "$out" >&2; fail "the video client failed"; }
echo "$out"
for what in "MPEG-4, type 0" "H.264, type 1" "H.264, type 16"; do
  grep -qx "$what: 30 pictures identical" <<<"$out" || fail "$what: not identical"
done
# (ldd's output whole first: grep -q ending the pipe early would fail it.)
linked=$(LD_LIBRARY_PATH="$libdir" ldd "$work/video_client")
grep -q "$libdir/libvelkorix.so.1" <<<"$linked" || fail "the client is not linked to the installed library"
# Without the module beside the library, creation leaves no instance.
rm "$libdir/libvelkorix-video.so"
out=$(LD_LIBRARY_PATH="$libdir" run "$work/video_client" missing 2>&1) ||
  { echo "$out" >&2; fail "the client without the module failed"; }

echo "video library: link dependencies, install, and a C client's pictures identical to libavcodec's"
