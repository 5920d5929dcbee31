#!/usr/bin/env bash
# `velkorix decode` into every output type: chosen by the extension or by
# --type, read back by sox with the very samples of the WAV decode (Ogg
# Vorbis is lossy: same length, close in SNR), the rate and channel count in
# the header; standard output for the types that stream and a usage error
# for those that cannot; unknown extensions and impossible combinations are
# usage errors that leave nothing behind.
#   usage: cli_formats_test.sh CLI WORKDIR
source "$(dirname "$0")/support/shell_test.sh"
# The samples of an audio file as sox reads them: 16-bit little-endian.
samples() { sox "$@" -t raw -e signed-integer -b 16 -L - 2>/dev/null | md5sum; }
sample=$root/data/sample-speech.vks

# A stereo 16 kHz stream (the filter writes what the format block says; the
# bundled records become interleaved samples) and the mono sample.
"$cli" decode "$sample" -o ref.wav -q || fail "WAV decode"
"$cli" decode "$sample" -o ref2.wav -q --rate 16000 --channels 2 || fail "stereo WAV decode"
ref=$(samples ref.wav)
ref2=$(samples ref2.wav)
[[ $(soxi -V1 -s ref.wav) == 72640 ]] || fail "the WAV decode holds $(soxi -V1 -s ref.wav) samples"

for name in out.wav out.flac out.FLAC out.aiff out.aif out.caf out.au out.snd; do
  "$cli" decode "$sample" -o "$name" -q || fail "decode to $name"
  [[ $(samples "$name") == "$ref" ]] || fail "$name does not hold the WAV decode's samples"
  [[ $(soxi -V1 -r "$name") == 8000 && $(soxi -V1 -c "$name") == 1 ]] || fail "$name: rate or channels"
  stereo=s-$name
  "$cli" decode "$sample" -o "$stereo" -q --rate 16000 --channels 2 || fail "decode to $stereo"
  [[ $(samples "$stereo") == "$ref2" ]] || fail "$stereo does not hold the stereo WAV decode's samples"
  [[ $(soxi -V1 -r "$stereo") == 16000 && $(soxi -V1 -c "$stereo") == 2 ]] || fail "$stereo: rate or channels"
done
# The header says what the type is, not just the name.
[[ $(head -c 4 out.flac) == fLaC && $(head -c 4 out.aiff) == FORM && $(head -c 4 out.caf) == caff &&
   $(head -c 4 out.au) == .snd && $(head -c 4 out.wav) == RIFF ]] || fail "a header does not match its type"
[[ $(head -c 12 out.aif | tail -c 4) == AIFF ]] || fail ".aif is not AIFF"

# raw: the WAV decode's data chunk, byte for byte.
"$cli" decode "$sample" -o out.raw -q
cmp -s out.raw <(tail -c +45 ref.wav) || fail "raw differs from the WAV data"
[[ $(samples -t raw -r 8000 -c 1 -e signed-integer -b 16 -L out.raw) == "$ref" ]] || fail "raw samples"

# Ogg Vorbis: lossy, so the length and a signal-to-noise floor.
"$cli" decode "$sample" -o out.ogg -q
[[ $(head -c 4 out.ogg) == OggS ]] || fail "out.ogg is not Ogg"
[[ $(soxi -V1 -s out.ogg) == 72640 ]] || fail "out.ogg holds $(soxi -V1 -s out.ogg) samples"
signal=$(sox ref.wav -n stat 2>&1 | awk '/RMS +amplitude/{print $3}')
noise=$(sox -m -v 1 ref.wav -v -1 out.ogg -n stat 2>&1 | awk '/RMS +amplitude/{print $3}')
awk -v s="$signal" -v n="$noise" 'BEGIN { exit !(n > 0 && 20 * log(s / n) / log(10) >= 15) }' ||
  fail "out.ogg: SNR below 15 dB (signal $signal, noise $noise)"

# --type over the extension, in any case.
"$cli" decode "$sample" -o flac-named.wav --type FLAC -q
[[ $(head -c 4 flac-named.wav) == fLaC && $(samples -t flac flac-named.wav) == "$ref" ]] || fail "--type flac"
"$cli" decode "$sample" -o noext -q
[[ $(head -c 4 noext) == RIFF ]] || fail "a name without an extension gets WAV"

# Standard output: wav (sizes unknown), raw, au and ogg stream; flac, aiff
# and caf are refused on a pipe before anything is written.
"$cli" decode "$sample" -o - -q | cat >pipe.wav
[[ $(samples pipe.wav) == "$ref" ]] || fail "WAV through a pipe"
"$cli" decode "$sample" -o - --type raw -q | cmp -s - out.raw || fail "raw through a pipe"
"$cli" decode "$sample" -o - --type au -q | cat >pipe.au
[[ $(samples pipe.au) == "$ref" ]] || fail "AU through a pipe"
"$cli" decode "$sample" -o - --type ogg -q | cat >pipe.ogg
[[ $(soxi -V1 -s pipe.ogg) == 72640 ]] || fail "Ogg through a pipe"
for type in flac aiff caf; do
  s=0
  "$cli" decode "$sample" -o - --type "$type" -q 2>refused.txt | cat >refused.out || s=${PIPESTATUS[0]}
  [[ $s == 2 ]] || fail "--type $type to a pipe: status $s, expected 2"
  [[ ! -s refused.out ]] || fail "--type $type to a pipe wrote something"
  grep -q "types that stream: wav, ogg, au, raw" refused.txt || fail "the refusal does not name the types that stream"
done
mkfifo fifo.flac
[[ $(status "$cli" decode "$sample" -o fifo.flac) == 2 ]] || fail "flac to a named pipe"
# Standard output on a file can seek: every type goes there.
"$cli" decode "$sample" -o - --type flac -q >stdout.flac
[[ $(samples stdout.flac) == "$ref" ]] || fail "flac to standard output on a file"

# Usage errors: nothing written, status 2.
mkdir quiet && cd quiet
[[ $(status "$cli" decode "$sample" -o out.mp3) == 2 ]] || fail "unknown extension"
"$cli" decode "$sample" -o out.mp3 2>err.txt || true
grep -q "cannot tell the output type from the extension '.mp3'" err.txt || fail "unknown extension message"
rm err.txt
[[ $(status "$cli" decode "$sample" -o out.wav --type mp3) == 2 ]] || fail "unknown --type"
[[ $(status "$cli" decode "$sample" -o out.flac --channels 9) == 2 ]] || fail "FLAC with 9 channels"
[[ $(status "$cli" decode "$sample" -o out.flac --rate 768000) == 2 ]] || fail "FLAC at 768 kHz"
[[ $(status "$cli" decode "$sample" -o out.ogg --rate 768000) == 2 ]] || fail "Vorbis at 768 kHz"
[[ -z $(ls -A) ]] || fail "usage errors left files: $(ls -A)"
cd ..
[[ -z $(ls -A | grep '\.tmp\.' || true) ]] || fail "temporary files left"
echo "formats: pass"
