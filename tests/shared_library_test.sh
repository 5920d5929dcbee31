#!/usr/bin/env bash
# libvelkorix.so: exports exactly the QX_VOICE_ functions and the codec-slot
# API, carries its SONAME, and installs (cmake --install --prefix) into a tree
# from which a C program builds through pkg-config and a CMake project through
# find_package(Velkorix), and both run.
#   usage: shared_library_test.sh CLI WORKDIR   (the library sits beside the CLI)
set -euo pipefail
cli=$1
work=$2
build=$(cd "$(dirname "$cli")" && pwd)
rm -rf "$work"
mkdir -p "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }

library="$build/libvelkorix.so"
[[ -e "$library" ]] || fail "no $library"

# ---- Exported symbols and SONAME ----
expected="CodecSlotCreate
CodecSlotDecode
CodecSlotDestroy
CodecSlotGetFrame
CodecSlotGetFrameSize
CodecSlotQueryDecoder
CodecSlotSetDecoderFlag
CodecSlotSetDelay
CodecSlotSetOutputOptions
QX_VOICE_DecReset
QX_VOICE_DecodeFrame
QX_VOICE_EncReset
QX_VOICE_EncodeFrame
QX_VOICE_GetVersion
QX_VOICE_TransCodeFrame
QX_VOICE_TransCodeReset"
actual=$(nm -D --defined-only "$library" | awk '{print $3}' | sort)
if [[ "$actual" != "$expected" ]]; then
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  fail "exported symbols differ (< expected, > exported)"
fi
# Every export is a function with C linkage (no mangled names).
nm -D --defined-only "$library" | awk '$2 != "T" {exit 1}' || fail "an export is not a function"

soname=$(readelf -d "$library" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[[ "$soname" == "libvelkorix.so.1" ]] || fail "SONAME is '$soname', expected libvelkorix.so.1"

# ---- Install into a private prefix ----
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || { cat "$work/install.log" >&2; fail "install"; }
pc=$(find "$prefix" -name velkorix.pc)
[[ -n "$pc" ]] || fail "no velkorix.pc installed"
for header in qx_voice.h qx_voice_names.h codec_slot.h velkorix_export.h; do
  [[ -f "$prefix/include/velkorix/$header" ]] || fail "header $header not installed"
done
libdir=$(dirname "$(find "$prefix" -name 'libvelkorix.so.1' | head -n1)")
[[ -f "$libdir/libvelkorix.so.1" && -L "$libdir/libvelkorix.so" ]] || fail "library or its link not installed"
find "$prefix" -name VelkorixConfig.cmake | grep . >/dev/null || fail "no VelkorixConfig.cmake"
find "$prefix" -name VelkorixConfigVersion.cmake | grep . >/dev/null || fail "no VelkorixConfigVersion.cmake"

# A sanitizer build of the library needs its runtime loaded first in programs
# that are not instrumented themselves.
run() {
  local asan
  if readelf -d "$library" | grep 'NEEDED.*libasan' >/dev/null; then
    asan=$(gcc -print-file-name=libasan.so)
    LD_PRELOAD="$asan" ASAN_OPTIONS=detect_leaks=0 "$@"
  else
    "$@"
  fi
}

# ---- A C program against the installed headers, through pkg-config ----
cat >"$work/client.c" <<'EOF'
#include <stdio.h>
#include <string.h>
#include <velkorix/codec_slot.h>
#include <velkorix/qx_voice.h>
#include <velkorix/qx_voice_names.h>

static int failures = 0;
#define CHECK(cond) do { if (!(cond)) { fprintf(stderr, "check failed: %s (line %d)\n", #cond, __LINE__); ++failures; } } while (0)

int main(void) {
    char version[VOICE_VERSION_BYTES];
    static VoiceState encoder, decoder;
    static VoiceFrame frame;
    static CodecSlot slot;
    int16_t pcm[VOICE_MAX_SAMPLES], out[VOICE_MAX_SAMPLES];
    int16_t count = 0;
    uint8_t payload[164], output[642];
    int i;

    CHECK(QX_VOICE_GetVersion(version) == VOICE_OK);
    CHECK(strcmp(version, VOICE_VERSION_STRING) == 0);
    CHECK(QX_VOICE_GetVersion(NULL) == -1);

    for (i = 0; i < VOICE_MAX_SAMPLES; ++i) pcm[i] = (int16_t)((i % 40 - 20) * 500);
    CHECK(QX_VOICE_EncReset(&encoder, G726_32) == VOICE_OK);
    CHECK(QX_VOICE_DecReset(&decoder, G726_32) == VOICE_OK);
    CHECK(QX_VOICE_EncodeFrame(&encoder, pcm, &frame, 160) == VOICE_OK);
    CHECK(frame.length == 40);
    CHECK(QX_VOICE_DecodeFrame(&decoder, &frame, out, &count) == VOICE_OK);
    CHECK(count == 160);
    CHECK(QX_VOICE_EncReset(&encoder, 8) == VOICE_ERR_ENC_TYPE);
    CHECK(QX_VOICE_EncodeFrame(&encoder, pcm, &frame, 160) == VOICE_ERR_ENC_TYPE);
    frame.length = 16;
    CHECK(QX_VOICE_DecReset(&decoder, G726_24) == VOICE_OK);
    CHECK(QX_VOICE_DecodeFrame(&decoder, &frame, out, &count) == VOICE_ERR_DEC_LEN);
    CHECK(strcmp(VoiceResultName(VOICE_ERR_DEC_LEN), "VOICE_ERR_DEC_LEN") == 0);
    CHECK(strcmp(VoiceResultName(12345), "unknown result") == 0);

    /* An ADPCM_FIRST payload through a codec slot of type 6. */
    CHECK(QX_VOICE_EncReset(&encoder, ADPCM_FIRST) == VOICE_OK);
    CHECK(QX_VOICE_EncodeFrame(&encoder, pcm, &frame, 321) == VOICE_OK);
    CHECK(frame.length == 82);
    memcpy(payload, frame.payload, sizeof(payload));
    CHECK(CodecSlotCreate(&slot, 0, 0, CODEC_TYPE_VOICE_ADPCM) == 1);
    slot.input = payload;
    slot.inputLength = (int32_t)sizeof(payload);
    slot.output = output;
    CHECK(CodecSlotDecode(&slot) == 1);
    CHECK((int16_t)(output[0] | output[1] << 8) == pcm[0]);
    CHECK(CodecSlotDestroy(&slot) == 1);

    if (failures == 0) printf("client ok\n");
    return failures == 0 ? 0 : 1;
}
EOF
export PKG_CONFIG_PATH="$(dirname "$pc")"
cflags=$(pkg-config --cflags velkorix)
libs=$(pkg-config --libs velkorix)
gcc -std=c99 -Wall -Wextra -pedantic -Werror $cflags "$work/client.c" -o "$work/client" $libs ||
  fail "the C client does not build against the installed tree"
# The runtime loader finds the installed library, not the build tree's.
LD_LIBRARY_PATH="$libdir" run "$work/client" | grep -x "client ok" >/dev/null || fail "the C client failed"
LD_LIBRARY_PATH="$libdir" ldd "$work/client" | grep "$libdir/libvelkorix.so.1" >/dev/null || fail "client not linked to the installed library"
# The headers are usable from C++ as well.
g++ -std=c++17 -Wall -Wextra -pedantic -Werror -x c++ $cflags "$work/client.c" -o "$work/client_cpp" $libs ||
  fail "the client does not build as C++"
LD_LIBRARY_PATH="$libdir" run "$work/client_cpp" | grep -x "client ok" >/dev/null || fail "the C++ client failed"

# ---- A CMake project through find_package ----
mkdir -p "$work/consumer"
cp "$work/client.c" "$work/consumer/client.c"
cat >"$work/consumer/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.20)
project(VelkorixConsumer C)
find_package(Velkorix 1.0 REQUIRED)
add_executable(client client.c)
target_link_libraries(client PRIVATE Velkorix::velkorix)
EOF
cmake -S "$work/consumer" -B "$work/consumer/build" -DCMAKE_PREFIX_PATH="$prefix" >"$work/consumer.log" 2>&1 ||
  { cat "$work/consumer.log" >&2; fail "find_package(Velkorix) failed"; }
cmake --build "$work/consumer/build" >>"$work/consumer.log" 2>&1 || { cat "$work/consumer.log" >&2; fail "consumer build"; }
run "$work/consumer/build/client" | grep -x "client ok" >/dev/null || fail "the CMake consumer failed"
# A request for another major version is refused.
mkdir -p "$work/consumer2"
cp "$work/consumer/client.c" "$work/consumer2/"
sed 's/find_package(Velkorix 1.0 REQUIRED)/find_package(Velkorix 2.0 REQUIRED)/' "$work/consumer/CMakeLists.txt" \
  >"$work/consumer2/CMakeLists.txt"
if cmake -S "$work/consumer2" -B "$work/consumer2/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null 2>&1; then
  fail "find_package(Velkorix 2.0) accepted version 1"
fi

echo "shared library: exports, SONAME, install, pkg-config and CMake package ok"
