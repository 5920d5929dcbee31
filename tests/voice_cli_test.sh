#!/usr/bin/env bash
# velkorix voice: encode and decode with every codec (by name and number),
# rejected and truncated frames, transcoding, pipes, refusals and help.
#   usage: voice_cli_test.sh CLI WORKDIR
source "$(dirname "$0")/support/shell_test.sh"

sox -D -n -r 8000 -c 1 -b 16 -e signed-integer input.wav synth 1.3 sine 200-3000 sine 440 tremolo 5 80 vol 0.4
samples=$(soxi -s input.wav)  # 10400

# ---- --list and help ----
list=$("$cli" voice --list)
for name in g711a g711u g711a-swap g711u-swap adpcm-pred adpcm-first adpcm-bare g726-16 g726-24 g726-32 g726-40 \
            g726-16-msb g726-24-msb g726-32-msb g726-40-msb adpcm2; do
  grep -qE "^  $name +[0-9]+ " <<<"$list" || fail "--list lacks codec $name"
done
for selector in "g711a +97" "g711u +98" "adpcm +99" "adpcm2 +100"; do
  grep -qE "^  $selector " <<<"$list" || fail "--list lacks selector $selector"
done
for command in "voice --help" "voice encode --help" "voice decode --help" "voice transcode --help" "pack --help"; do
  # shellcheck disable=SC2086
  "$cli" $command | grep -q "^usage: velkorix" || fail "'$command' prints no usage"
done
(( $(status "$cli" voice) == 2 )) || fail "voice without a command is not a usage error"
(( $(status "$cli" voice frobnicate) == 2 )) || fail "an unknown voice command is not a usage error"
(( $(status "$cli" voice encode --codec g729 input.wav -o x.v) == 2 )) || fail "an unknown codec is not a usage error"
(( $(status "$cli" voice encode --codec 8 input.wav -o x.v) == 2 )) || fail "codec number 8 is accepted"
(( $(status "$cli" voice encode input.wav -o x.v) == 2 )) || fail "encode without --codec is not a usage error"
(( $(status "$cli" voice transcode --selector 101 x -o y) == 2 )) || fail "selector 101 is accepted"

# ---- Every codec: encode, decode; names and numbers agree ----
while read -r name number frame words; do
  "$cli" voice encode --codec "$name" input.wav -o "$name.v" 2>/dev/null || fail "encode $name"
  "$cli" voice encode --codec "$number" input.wav -o "$number.v" 2>/dev/null || fail "encode codec $number"
  cmp -s "$name.v" "$number.v" || fail "codec $name and number $number encode differently"
  frames=$(( (samples + frame - 1) / frame ))
  size=$(stat -c %s "$name.v")
  (( size == frames * (4 + 2 * words) )) || fail "$name: $size bytes, expected $frames frames of $words words"
  "$cli" voice decode --codec "$name" "$name.v" -o "$name.wav" 2>"$name.log" || { cat "$name.log" >&2; fail "decode $name"; }
  grep -q "velkorix: $frames frames (0 rejected)" "$name.log" || { cat "$name.log" >&2; fail "$name: decode summary"; }
  [[ "$(soxi -r "$name.wav")" == 8000 && "$(soxi -c "$name.wav")" == 1 ]] || fail "$name: WAV is not 8000 Hz mono"
  (( $(soxi -s "$name.wav") == frames * frame )) || fail "$name: $(soxi -s "$name.wav") samples decoded"
done <<'EOF'
g711a 1 160 80
g711u 2 160 80
g711a-swap 65 160 80
g711u-swap 66 160 80
adpcm-pred 3 160 42
adpcm-first 35 161 42
adpcm-bare 67 160 40
g726-16 4 160 20
g726-24 5 160 30
g726-32 6 160 40
g726-40 7 160 50
g726-16-msb 36 160 20
g726-24-msb 37 160 30
g726-32-msb 38 160 40
g726-40-msb 39 160 50
adpcm2 68 160 20
EOF
# The swapped and MSB-first types decode to the same audio as their plain twins.
cmp -s g711a.wav g711a-swap.wav || fail "g711a-swap decodes differently from g711a"
cmp -s g726-24.wav g726-24-msb.wav || fail "g726-24-msb decodes differently from g726-24"

# --frame
"$cli" voice encode --codec g726-32 --frame 480 input.wav -o big.v 2>/dev/null || fail "--frame 480"
(( $(stat -c %s big.v) == 22 * (4 + 240) )) || fail "--frame 480 frame sizes"
for bad in "g726-32 100" "g711a 81" "adpcm-first 160" "adpcm-pred 162" "g726-16 482" "g726-16 0"; do
  read -r name n <<<"$bad"
  (( $(status "$cli" voice encode --codec "$name" --frame "$n" input.wav -o bad.v) == 2 )) || fail "--frame $n accepted for $name"
done
[[ ! -e bad.v ]] || fail "a refused encode left a file"

# ---- Rejected frames: reported with offset and result code, decoding goes on ----
cp g726-32.v damaged.v
# Second frame (offset 84): flags word 0x0200.
printf '\x00\x02' | dd of=damaged.v bs=1 seek=84 conv=notrunc status=none
# Fifth frame (offset 336): flags word 0x0300.
printf '\x00\x03' | dd of=damaged.v bs=1 seek=336 conv=notrunc status=none
status=0
"$cli" voice decode --codec g726-32 damaged.v -o damaged.wav 2>damaged.log || status=$?
(( status == 3 )) || fail "decoding rejected frames: status $status, expected 3"
grep -q "frame at byte offset 84 rejected: VOICE_ERR_DEC_HEADER" damaged.log || { cat damaged.log >&2; fail "report of offset 84"; }
grep -q "frame at byte offset 336 rejected: VOICE_ERR_DEC_HEADER" damaged.log || { cat damaged.log >&2; fail "report of offset 336"; }
frames=$(( (samples + 159) / 160 ))
(( $(soxi -s damaged.wav) == (frames - 2) * 160 )) || fail "the other frames were not all decoded"
# A frame the codec does not accept by length: G.711 frames decoded as G.726 at 24 kbit/s.
status=0
"$cli" voice decode --codec g726-24 g711a.v -o wrongcodec.wav 2>wrong.log || status=$?
(( status == 3 )) || fail "wrong codec: status $status"
grep -q "frame at byte offset 0 rejected: VOICE_ERR_DEC_LEN" wrong.log || { cat wrong.log >&2; fail "DEC_LEN report"; }

# ---- A file that ends inside a frame ----
head -c $(( $(stat -c %s g711u.v) - 7 )) g711u.v >cut.v
status=0
"$cli" voice decode --codec g711u cut.v -o cut.wav 2>cut.log || status=$?
(( status == 3 )) || fail "truncated input: status $status"
grep -q "ends at byte offset" cut.log || { cat cut.log >&2; fail "truncation not reported"; }
(( $(soxi -s cut.wav) == (frames - 1) * 160 )) || fail "complete frames before the cut were not all decoded"
: >empty.v
(( $(status "$cli" voice decode --codec g711u empty.v -o empty.wav) == 1 )) || fail "an empty voice file is not a failure"
[[ ! -e empty.wav ]] || fail "an empty voice file left output"

# ---- Transcoding ----
"$cli" voice transcode --selector g711a g711a-swap.v -o t711.v 2>/dev/null || fail "transcode g711a"
cmp -s t711.v g711a.v || fail "transcoded g711a-swap frames differ from g711a frames"
"$cli" voice transcode --selector 98 g711u-swap.v -o t711u.v 2>/dev/null || fail "transcode 98"
cmp -s t711u.v g711u.v || fail "transcoded g711u-swap frames differ from g711u frames"
"$cli" voice transcode --selector adpcm adpcm-bare.v -o tadpcm.v 2>/dev/null || fail "transcode adpcm"
(( $(stat -c %s tadpcm.v) == $(stat -c %s adpcm-bare.v) + 4 * frames )) || fail "adpcm frames did not grow by 2 words"
"$cli" voice decode --codec adpcm-pred tadpcm.v -o tadpcm.wav 2>/dev/null || fail "transcoded adpcm frames do not decode"
"$cli" voice transcode --selector adpcm2 adpcm2.v -o tadpcm2.v 2>/dev/null || fail "transcode adpcm2"
(( $(stat -c %s tadpcm2.v) == $(stat -c %s adpcm2.v) )) || fail "adpcm2 frames changed length"
"$cli" voice decode --codec g726-16 tadpcm2.v -o tadpcm2.wav 2>/dev/null || fail "transcoded adpcm2 frames do not decode"
# A frame the decoding side rejects is reported and left out.
cp adpcm2.v damaged2.v
printf '\x00\x02' | dd of=damaged2.v bs=1 seek=44 conv=notrunc status=none
status=0
"$cli" voice transcode --selector adpcm2 damaged2.v -o tdamaged2.v 2>tdamaged.log || status=$?
(( status == 3 )) || fail "transcoding a rejected frame: status $status"
grep -q "frame at byte offset 44 rejected: VOICE_ERR_DEC_HEADER" tdamaged.log || { cat tdamaged.log >&2; fail "transcode report"; }
(( $(stat -c %s tdamaged2.v) == $(stat -c %s adpcm2.v) - 44 )) || fail "the rejected frame was not left out"

# ---- Pipes ----
"$cli" voice encode --codec g711u - -o - <input.wav 2>/dev/null | cmp -s - g711u.v || fail "encode through pipes differs"
"$cli" voice encode --codec g711u - -o - <input.wav 2>/dev/null | "$cli" voice decode --codec g711u - -o - 2>/dev/null >piped.wav
[[ "$(sox piped.wav -t raw - 2>/dev/null | md5sum)" == "$(sox g711u.wav -t raw - | md5sum)" ]] || fail "decode through pipes differs"

# ---- Input that is not 8000 Hz mono 16-bit ----
sox -D -n -r 44100 -c 1 -b 16 -e signed-integer cd.wav synth 0.2 sine 440
sox -D -n -r 8000 -c 1 -b 24 -e signed-integer deep.wav synth 0.2 sine 440
for file in cd.wav deep.wav; do
  status=0
  "$cli" voice encode --codec g711a "$file" -o refused.v 2>refused.log || status=$?
  (( status == 1 )) || fail "$file: status $status, expected 1"
  grep -q "need 8000 Hz, 1 channel (mono), 16-bit PCM" refused.log || { cat refused.log >&2; fail "$file: refusal text"; }
  [[ ! -e refused.v ]] || fail "$file: a refused input left output"
done
grep -q "44100 Hz" <("$cli" voice encode --codec g711a cd.wav -o refused.v 2>&1 || true) || fail "the refusal does not give the rate"
grep -q "24 bit" <("$cli" voice encode --codec g711a deep.wav -o refused.v 2>&1 || true) || fail "the refusal does not give the sample format"

echo "voice commands ok"
