#!/usr/bin/env bash
# The GStreamer plugin through GStreamer's own tools: it loads and lists its
# three features, exports only its descriptor, installs; and for every stream
# that make_streams.sh made, what gst-launch-1.0 and gst-play-1.0 write is
# what `velkorix decode` writes, byte for byte (the WAV data chunk): through
# velkorixparse ! velkorixdec, through decodebin without naming an element,
# in push mode in chunks of several sizes, with rate and channels set.
# Damaged and hostile streams end with a message on the bus.
# Usage: pipelines_test.sh PLUGIN TEST_TOOLS_DIR STREAMS_DIR WORK_DIR BUILD_DIR
# (GST_PLUGIN_PATH and GST_REGISTRY come from the environment.)
set -u
plugin=$1
tools=$2
streams=$3
work=$4
build=$5
rm -rf "$work"
mkdir -p "$work"
failures=0
passes=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { passes=$((passes + 1)); }
check() { if [[ "$2" == "$3" ]]; then pass; else fail "$1: expected '$2', got '$3'"; fi; }

# ---- the plugin loads: a plugin that fails to load fails here ----
# (--exists alone asks for a feature at least as new as GStreamer itself.)
for feature in velkorixparse velkorixdec; do
  gst-inspect-1.0 --exists --atleast-version=1.0.0 "$feature" && pass || fail "gst-inspect-1.0 --exists $feature"
done
gst-inspect-1.0 velkorix >"$work/inspect.txt" 2>&1 || fail "gst-inspect-1.0 velkorix: $(cat "$work/inspect.txt")"
grep -q "Filename *$(readlink -f "$plugin")" "$work/inspect.txt" || fail "the plugin loaded is not the one built: $(grep Filename "$work/inspect.txt")"
grep -q "3 features" "$work/inspect.txt" || fail "three features: $(cat "$work/inspect.txt")"
grep -q "audio/x-velkorix-stream: vks" "$work/inspect.txt" || fail "the type finder is listed"
gst-inspect-1.0 velkorixdec >"$work/dec.txt" 2>&1
for what in "Codec/Decoder/Audio" "audio/x-raw" "S16LE" "rate *: Sample rate" "Integer. Range: 1 - 768000 Default: 8000" \
            "channels *: Channel count" "Range: 1 - 16 Default: 1" "level *: The filter's level" "Range: -128 - 127 Default: 0" \
            "Rank *primary \\(256\\)"; do
  grep -Eq "$what" "$work/dec.txt" || fail "gst-inspect-1.0 velkorixdec shows '$what'"
done
gst-inspect-1.0 velkorixparse >"$work/parse.txt" 2>&1
grep -q "Codec/Parser/Audio" "$work/parse.txt" && grep -q "framed: true" "$work/parse.txt" || fail "gst-inspect-1.0 velkorixparse"
check "exports" "gst_plugin_velkorix_get_desc" "$(nm -D --defined-only "$plugin" | awk '{print $3}')"
readelf -d "$plugin" | grep -q 'NEEDED.*libvelkorix' && fail "the plugin links the layers statically"

# cmake --install --prefix puts the plugin under that prefix, and it loads from there.
cmake --install "$build" --prefix "$work/prefix" --component gstreamer >"$work/install.log" 2>&1 || fail "install: $(cat "$work/install.log")"
installed=$work/prefix/lib/gstreamer-1.0/libgstvelkorix.so
if [[ -f $installed ]]; then
  GST_PLUGIN_PATH=$work/prefix/lib/gstreamer-1.0 GST_REGISTRY=$work/installed.bin gst-inspect-1.0 velkorix 2>&1 |
    grep -q "Filename *$installed" && pass || fail "the installed plugin loads"
else
  fail "cmake --install --prefix put no plugin at $installed: $(cat "$work/install.log")"
fi

# Without --prefix it goes into GStreamer's own plugin directory, where every
# application finds it (staged here under DESTDIR).
pluginsdir=$(pkg-config --variable=pluginsdir gstreamer-1.0)
DESTDIR=$work/staged cmake --install "$build" --component gstreamer >"$work/install-system.log" 2>&1 ||
  fail "install into GStreamer's plugin directory: $(cat "$work/install-system.log")"
if [[ -n $pluginsdir && -f $work/staged$pluginsdir/libgstvelkorix.so ]] &&
  cmp -s "$plugin" "$work/staged$pluginsdir/libgstvelkorix.so"; then
  pass
else
  fail "cmake --install put no plugin into GStreamer's plugin directory '$pluginsdir': $(find "$work/staged" -type f)"
fi

# ---- every stream, byte for byte ----
# pcm_of WAV: the data chunk of a WAV file gst wrote, compared with REF.
same() {  # same WHAT REF_PCM OUT_PCM
  if cmp -s "$2" "$3"; then pass; else fail "$1: output differs from velkorix decode ($(stat -c %s "$3" 2>/dev/null || echo no) bytes, expected $(stat -c %s "$2"))"; fi
}
wav_same() {  # wav_same WHAT REF_PCM OUT_WAV
  if "$tools/wav_data" "$3" "$3.pcm" 2>/dev/null; then same "$1" "$2" "$3.pcm"; else fail "$1: no WAV written"; fi
}
launch() { gst-launch-1.0 -q "$@" >"$work/launch.log" 2>&1; }
sizes=(1 7 100 4096)
n=0
while read -r name; do
  vks=$streams/$name.vks
  ref=$streams/$name.pcm
  launch filesrc location="$vks" ! velkorixparse ! velkorixdec ! filesink location="$work/$name.parse.pcm" ||
    fail "$name: parse ! dec: $(cat "$work/launch.log")"
  same "$name: filesrc ! velkorixparse ! velkorixdec" "$ref" "$work/$name.parse.pcm"
  launch filesrc location="$vks" ! decodebin ! audioconvert ! wavenc ! filesink location="$work/$name.decodebin.wav" ||
    fail "$name: decodebin: $(cat "$work/launch.log")"
  wav_same "$name: filesrc ! decodebin ! audioconvert ! wavenc" "$ref" "$work/$name.decodebin.wav"
  # Push mode: a queue in front of the parser, chunks of every size.
  size=${sizes[$((n % ${#sizes[@]}))]}
  launch filesrc location="$vks" blocksize="$size" ! queue ! velkorixparse ! velkorixdec ! filesink location="$work/$name.push.pcm" ||
    fail "$name: push mode: $(cat "$work/launch.log")"
  same "$name: push mode in chunks of $size bytes" "$ref" "$work/$name.push.pcm"
  n=$((n + 1))
done <"$streams/streams.txt"

# A pipe: push mode from a source that cannot seek, found by decodebin.
launch fdsrc fd=0 ! decodebin ! audioconvert ! wavenc ! filesink location="$work/pipe.wav" <"$streams/mixed.vks" ||
  fail "decodebin from a pipe: $(cat "$work/launch.log")"
wav_same "fdsrc ! decodebin (a pipe)" "$streams/mixed.pcm" "$work/pipe.wav"

# Rate and channels, as velkorix decode --rate 11025 --channels 2.
for name in odd mixed; do
  launch filesrc location="$streams/$name.vks" ! velkorixparse ! velkorixdec rate=11025 channels=2 ! wavenc ! \
    filesink location="$work/$name.11025x2.wav" || fail "$name at 11025 Hz stereo: $(cat "$work/launch.log")"
  wav_same "$name: velkorixdec rate=11025 channels=2" "$streams/$name.11025x2.pcm" "$work/$name.11025x2.wav"
  check "$name: WAV header says 11025 Hz stereo" "$(head -c 28 "$streams/$name.11025x2.wav" | tail -c 6 | xxd -p)" \
    "$(head -c 28 "$work/$name.11025x2.wav" | tail -c 6 | xxd -p)"
done

# gst-play-1.0 finds everything itself; its audio sink here writes a WAV file.
for name in speech-g726 mixed; do
  timeout 60 gst-play-1.0 --no-interactive --audiosink="audioconvert ! wavenc ! filesink location=$work/$name.play.wav" \
    "$streams/$name.vks" >"$work/play.log" 2>&1 || fail "gst-play-1.0 $name: $(cat "$work/play.log")"
  wav_same "$name: gst-play-1.0" "$streams/$name.pcm" "$work/$name.play.wav"
done

# ---- damaged and hostile streams ----
# The damaged tail: every complete record is decoded, a warning names the
# reason and the byte offset, the pipeline ends normally.
damaged() {  # damaged NAME MESSAGE
  local name=$1 message=$2
  gst-launch-1.0 filesrc location="$streams/$name.vks" ! velkorixparse ! velkorixdec ! filesink location="$work/$name.pcm" \
    >"$work/$name.log" 2>&1
  check "$name: gst-launch-1.0 status" 0 $?
  grep -q "WARNING: from element .*velkorixparse.*: $message" "$work/$name.log" ||
    fail "$name: warning '$message' on the bus: $(grep -A1 WARNING "$work/$name.log")"
  same "$name: the complete records" "$streams/$name.pcm" "$work/$name.pcm"
  gst-launch-1.0 filesrc location="$streams/$name.vks" blocksize=50 ! queue ! decodebin ! audioconvert ! wavenc ! \
    filesink location="$work/$name.push.wav" >"$work/$name.push.log" 2>&1
  check "$name: push mode, decodebin: status" 0 $?
  grep -q "WARNING: from element .*velkorixparse.*: $message" "$work/$name.push.log" ||
    fail "$name: push mode: warning '$message' on the bus: $(grep -A1 WARNING "$work/$name.push.log")"
  wav_same "$name: push mode, decodebin: the complete records" "$streams/$name.pcm" "$work/$name.push.wav"
}
damaged cut-payload "stream ends at byte offset 1380: the input ends inside a record payload (62 of 120 bytes)"
damaged cut-header "stream ends at byte offset 1380: the input ends inside a record header (9 of 18 bytes)"
damaged negative "stream ends at byte offset 690: the record declares a negative payload length (-6)"
damaged huge "stream ends at byte offset 690: the input ends inside a record payload (3000 of 2147483647 bytes)"
damaged most-negative "stream ends at byte offset 414: the record declares a negative payload length (-2147483648)"

# Streams without a complete record end in an error on the bus: checked by
# gst_plugin_test (GstStreamErrors), not here. gst-launch-1.0 of GStreamer
# 1.22 can hang when an error comes while the pipeline prerolls (it does so
# with wavparse too), which its own test would only time.

# What the typefind element makes of a file (its caps), in pull mode.
found_type() {
  gst-launch-1.0 -v filesrc location="$1" ! typefind ! fakesink 2>&1 | sed -n 's/.*GstTypeFindElement.*src: caps = //p' | head -n1
}
for name in speech-g726 speech-g729 mixed odd cut-payload; do
  check "$name is found to be a framed stream" "audio/x-velkorix-stream, framed=(boolean)false" "$(found_type "$streams/$name.vks")"
done
# Files that are no framed streams are not taken for one, whatever their name.
for file in "$streams"/other/*; do
  cp "$file" "$work/renamed.vks"
  for path in "$file" "$work/renamed.vks"; do
    found=$(found_type "$path")
    [[ $found == *velkorix* ]] && fail "$(basename "$file") ($path) is taken for a framed stream" || pass
  done
done

echo "$passes checks passed, $failures failed"
[[ $failures -eq 0 ]]
