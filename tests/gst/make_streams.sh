#!/usr/bin/env bash
# Makes the inputs of the GStreamer plugin's tests, and what `velkorix decode`
# makes of them (the reference every pipeline must give byte for byte):
#   NAME.vks   a framed stream: those of tests/win/streams.list (every format,
#              a mixed stream, the G.729 test vectors), a stream whose later
#              samples straddle records, and damaged and hostile ones
#   NAME.wav   velkorix decode NAME.vks (8000 Hz mono), NAME.pcm its samples,
#              NAME.log the tool's summary
#   NAME.11025x2.wav/.pcm   the same decoded with --rate 11025 --channels 2
#   other/     files that are not framed streams: WAV, MP3, others
# Usage: make_streams.sh VELKORIX TEST_TOOLS_DIR SOURCE_DIR OUT_DIR
set -u
cli=$1
tools=$2
root=$3
out=$4
rm -rf "$out"
mkdir -p "$out/other"
fail() { echo "FAIL: $*" >&2; exit 1; }

# decode NAME [ARGS...]: the reference of NAME.vks; status 0, or 3 for a
# damaged stream (every complete record is still written)
decode() {
  local name=$1 suffix=""
  shift
  [[ $# -gt 0 ]] && suffix=".11025x2"
  "$cli" decode "$out/$name.vks" -o "$out/$name$suffix.wav" "$@" 2>"$out/$name$suffix.log"
  local status=$?
  [[ $status -eq 0 || $status -eq 3 ]] || fail "velkorix decode $name: status $status ($(cat "$out/$name$suffix.log"))"
  "$tools/wav_data" "$out/$name$suffix.wav" "$out/$name$suffix.pcm" || fail "wav_data $name$suffix.wav"
}

# ---- the streams of the wine tests ----
names=()
while read -r name how rest; do
  [[ -z ${name:-} || $name == \#* ]] && continue
  file=$out/$name.vks
  rest=${rest//@SRC@/$root}
  rest=${rest//@OUT@/$file}
  rest=${rest//@STREAMS@/$out}
  case $how in
    file) cp "$root/$rest" "$file" ;;
    tool) read -r tool args <<<"$rest"; "$tools/$tool" $args ;;
    cli) "$cli" $rest 2>/dev/null ;;
    *) false ;;
  esac
  [[ $? -eq 0 && -s $file ]] || fail "stream $name ($how $rest)"
  decode "$name"
  names+=("$name")
done <"$root/tests/win/streams.list"

# ---- later samples straddling records, codec changes at odd bytes ----
"$tools/make_stream" odd "$root/data/sample-speech.vks" "$out/odd.vks" || fail "make_stream odd"
decode odd
names+=(odd)
for name in odd mixed speech-g726; do decode "$name" --rate 11025 --channels 2; done

# ---- damaged and hostile streams ----
sample=$out/speech-g726.vks  # 227 records of 138 bytes
head -c $((10 * 138 + 80)) "$sample" >"$out/cut-payload.vks"   # record 10 ends after 62 of 120 payload bytes
head -c $((10 * 138 + 9)) "$sample" >"$out/cut-header.vks"     # record 10 ends after 9 header bytes
# record FORMAT LENGTH: a header declaring LENGTH (any 32-bit value)
record() { printf '%026d%02x%08x' 0 "$1" $(($2 & 0xFFFFFFFF)) | sed 's/\(..\)\(..\)\(..\)\(..\)$/\4\3\2\1/' | xxd -r -p; }
{ head -c $((5 * 138)) "$sample"; record 0 -6; head -c 300 "$sample"; } >"$out/negative.vks"
{ head -c $((5 * 138)) "$sample"; record 0 2147483647; head -c 3000 "$sample"; } >"$out/huge.vks"
{ head -c $((3 * 138)) "$sample"; record 3 -2147483648; } >"$out/most-negative.vks"
for name in cut-payload cut-header negative huge most-negative; do decode "$name"; done
# Streams without a single complete record (velkorix decode fails on them).
: >"$out/empty.vks"
head -c 9 "$sample" >"$out/short.vks"
{ record 0 -1; head -c 500 "$sample"; } >"$out/negative-first.vks"
{ record 1 1000000; head -c 5000 "$sample"; } >"$out/huge-first.vks"

# ---- not framed streams ----
cp "$out/speech-g726.wav" "$out/other/speech.wav"
cp "$out/mixed.wav" "$out/other/mixed.wav"
launch() { gst-launch-1.0 -q "$@" >/dev/null 2>&1; }
launch audiotestsrc num-buffers=200 ! audio/x-raw,rate=44100,channels=2 ! lamemp3enc ! filesink location="$out/other/tone.mp3" ||
  fail "making an MP3 file with lamemp3enc"
launch audiotestsrc wave=silence num-buffers=100 ! audio/x-raw,rate=8000,channels=1 ! lamemp3enc bitrate=8 cbr=true ! \
  filesink location="$out/other/silence.mp3" || fail "making an MP3 file of silence"
launch audiotestsrc num-buffers=50 ! lamemp3enc ! id3v2mux ! filesink location="$out/other/tagged.mp3" ||
  fail "making a tagged MP3 file"
launch audiotestsrc num-buffers=50 ! audio/x-raw,rate=8000,channels=1 ! wavenc ! filesink location="$out/other/tone.wav" ||
  fail "making a WAV file"
head -c 65536 /dev/zero >"$out/other/zeros.bin"
cp "$root/README.md" "$out/other/readme.txt"

printf '%s\n' "${names[@]}" >"$out/streams.txt"
echo "made $(wc -l <"$out/streams.txt") streams and their references in $out"
