#!/usr/bin/env bash
# velkorix pack -> velkorix decode for formats 0, 1, 2 and 6: record layout,
# record count, decoded length and fidelity, and the joins of format 6.
#   usage: pack_roundtrip_test.sh CLI WORKDIR
source "$(dirname "$0")/support/shell_test.sh"

# Three seconds of a speech-like test signal: gliding tones with a syllable
# rhythm, 8000 Hz mono 16-bit, no dither (reproducible).
sox -D -n -r 8000 -c 1 -b 16 -e signed-integer input.wav \
  synth 3.01 sine 150-900 sine 700-2500 sine 2600-1800 tremolo 4 90 vol 0.4
samples=$(soxi -s input.wav)
records_expected=$(( (samples + 319) / 320 ))

raw() { sox "$1" -t raw -e signed-integer -b 16 -; }
# Signal-to-noise ratio of $2 against $1 in dB (over the length of $1).
snr() {
  local signal noise
  signal=$(sox "$1" -n stat 2>&1 | awk '/RMS +amplitude/{print $3}')
  noise=$(sox -m -v 1 "$1" -v -1 "$2" -n trim 0 "$(soxi -s "$1")s" stat 2>&1 | awk '/RMS +amplitude/{print $3}')
  awk -v s="$signal" -v n="$noise" 'BEGIN { if (n == 0) print 999; else printf "%.1f\n", 20 * log(s / n) / log(10) }'
}

# format  payload-bytes  minimum-SNR
for row in "0 120 12" "1 320 30" "2 320 30" "6 164 15"; do
  read -r format payload minimum <<<"$row"
  "$cli" pack --format "$format" input.wav -o "f$format.vks" 2>"pack$format.log" || { cat "pack$format.log" >&2; fail "pack --format $format"; }

  # Every record: bytes 0-12 zero, byte 13 the format, bytes 14-17 the payload length.
  size=$(stat -c %s "f$format.vks")
  record=$(( 18 + payload ))
  (( size == records_expected * record )) || fail "format $format: $size bytes, expected $records_expected records of $record"
  headers=$(od -An -v -t u1 -w"$record" "f$format.vks" | awk -v f="$format" -v p="$payload" '
    { for (i = 1; i <= 13; ++i) if ($i != 0) bad = 1
      if ($14 != f || $15 + 256 * $16 != p || $17 != 0 || $18 != 0) bad = 1 }
    END { print bad ? "bad" : "ok" }')
  [[ "$headers" == ok ]] || fail "format $format: a record header is not as expected"

  "$cli" decode "f$format.vks" -o "f$format.wav" 2>"decode$format.log" || { cat "decode$format.log" >&2; fail "decode format $format"; }
  grep -q "decode failures: 0, truncated samples: 0" "decode$format.log" || { cat "decode$format.log" >&2; fail "format $format: decode reported trouble"; }
  decoded=$(soxi -s "f$format.wav")
  (( decoded == records_expected * 320 )) || fail "format $format: $decoded samples decoded, expected $(( records_expected * 320 ))"
  ratio=$(snr input.wav "f$format.wav")
  awk -v r="$ratio" -v m="$minimum" 'BEGIN { exit !(r >= m) }' || fail "format $format: SNR $ratio dB, expected at least $minimum"
  echo "format $format: $records_expected records, SNR $ratio dB"
done

# Format 6 carries each record's first sample verbatim: the decoded stream
# holds the input exactly at every multiple of 320, so records join with no
# gap and no repeated sample.
paste <(raw input.wav | od -An -v -t d2 -w2) <(raw f6.wav | od -An -v -t d2 -w2) | awk '
  NR % 320 == 1 && $1 != "" { ++checked; if ($1 != $2) { print "sample " NR - 1 ": " $1 " != " $2; bad = 1 } }
  END { if (checked < 10) bad = 1; exit bad }' || fail "format 6: record starts are not the input samples"

# Formats the voice library cannot encode are refused, and nothing is written.
for format in 3 4 5 7; do
  if "$cli" pack --format "$format" input.wav -o "refused.vks" 2>/dev/null; then fail "pack accepted format $format"; fi
  status=0
  "$cli" pack --format "$format" input.wav -o "refused.vks" 2>/dev/null || status=$?
  (( status == 2 )) || fail "pack --format $format: status $status, expected 2"
  [[ ! -e refused.vks ]] || fail "pack --format $format wrote a file"
done

# Standard input and output.
"$cli" pack --format 1 - -o - <input.wav 2>/dev/null | cmp - f1.vks || fail "pack through pipes differs"

# Input that is not 8000 Hz mono 16-bit is refused with what it is and what is needed.
sox -D -n -r 16000 -c 2 -b 16 -e signed-integer stereo16k.wav synth 0.5 sine 440
status=0
"$cli" pack --format 0 stereo16k.wav -o wrong.vks 2>wrong.log || status=$?
(( status == 1 )) || fail "16 kHz stereo input: status $status, expected 1"
grep -q "16000 Hz, 2 channels" wrong.log && grep -q "8000 Hz, 1 channel (mono), 16-bit PCM" wrong.log ||
  { cat wrong.log >&2; fail "the refusal does not say what the input is and what is needed"; }
[[ ! -e wrong.vks ]] || fail "a refused input left an output file"

echo "pack round trips ok"
