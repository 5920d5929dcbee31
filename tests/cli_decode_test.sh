#!/usr/bin/env bash
# End-to-end checks of `velkorix decode`: output, exit statuses, damaged and
# hostile input, and that failures leave no file behind.
# Usage: cli_decode_test.sh VELKORIX WORKDIR
set -u
cli=$1
work=$2
root=$(cd "$(dirname "$0")/.." && pwd)
rm -rf "$work"
mkdir -p "$work"
cd "$work"
failures=0
passes=0

check() {  # check NAME EXPECTED ACTUAL
  if [[ "$2" == "$3" ]]; then passes=$((passes + 1)); else echo "FAIL: $1: expected '$2', got '$3'"; failures=$((failures + 1)); fi
}
status() { "$@" >/dev/null 2>&1; echo $?; }

# record FORMAT PAYLOAD_HEX [DECLARED_LENGTH]: one framed record on stdout
record() {
  local format=$1 hex=$2 len=${3:-}
  local bytes=$(( ${#hex} / 2 ))
  [[ -z "$len" ]] && len=$bytes
  printf '%026d' 0 | xxd -r -p
  printf '%02x' "$format" | xxd -r -p
  printf '%08x' $(( len & 0xFFFFFFFF )) | sed 's/\(..\)\(..\)\(..\)\(..\)/\4\3\2\1/' | xxd -r -p
  printf '%s' "$hex" | xxd -r -p
}
payload() { head -c "$1" /dev/urandom | xxd -p | tr -d '\n'; }

# Help and usage.
check "top-level help" 0 "$(status "$cli" --help)"
check "decode help" 0 "$(status "$cli" decode --help)"
"$cli" decode --help | grep -- "-o OUTPUT" >/dev/null || { echo "FAIL: decode help text"; failures=$((failures + 1)); }
check "no command" 2 "$(status "$cli")"
check "unknown command" 2 "$(status "$cli" frobnicate)"
check "missing output" 2 "$(status "$cli" decode "$root/data/sample-speech.vks")"
check "unknown option" 2 "$(status "$cli" decode "$root/data/sample-speech.vks" -o x.wav --bogus)"
check "bad rate" 2 "$(status "$cli" decode "$root/data/sample-speech.vks" -o x.wav --rate 0)"
check "no file after usage errors" "" "$(ls)"

# The bundled sample: 227 records of 120 bytes, 320 samples each.
check "sample decodes" 0 "$(status "$cli" decode "$root/data/sample-speech.vks" -o speech.wav)"
check "sample WAV size" $((44 + 227 * 640)) "$(stat -c %s speech.wav)"
check "WAV header" "RIFF" "$(head -c 4 speech.wav)"
"$cli" decode "$root/data/sample-speech.vks" -o - 2>summary.txt >piped.wav
check "piped WAV has unknown sizes" "ffffffff" "$(head -c 8 piped.wav | tail -c 4 | xxd -p)"
check "piped PCM equals file PCM" "$(tail -c +45 speech.wav | md5sum)" "$(tail -c +45 piped.wav | md5sum)"
grep -q "227 records (format 0: 227), 72640 samples written to standard output" summary.txt ||
  { echo "FAIL: summary: $(cat summary.txt)"; failures=$((failures + 1)); }
"$cli" decode - -o stdin.wav <"$root/data/sample-speech.vks" 2>/dev/null
check "standard input" "$(md5sum <speech.wav)" "$(md5sum <stdin.wav)"
"$cli" decode "$root/data/sample-speech.vks" -o stereo.wav --rate 16000 --channels 2 2>/dev/null
check "format block rate" "803e0000" "$(head -c 28 stereo.wav | tail -c 4 | xxd -p)"
check "format block channels" "0200" "$(head -c 24 stereo.wav | tail -c 2 | xxd -p)"

# Invalid formats and a damaged stream.
{ record 0 "$(payload 120)"; record 4 "$(payload 30)"; record 9 "$(payload 6)"; record 0 "$(payload 120)"; } >mixed.vks
"$cli" decode mixed.vks -o mixed.wav -v 2>mixed.txt
check "mixed stream" 0 $?
grep -q "invalid formats: 1," mixed.txt || { echo "FAIL: invalid format count: $(cat mixed.txt)"; failures=$((failures + 1)); }
grep -q "INVALID AUDIO FORMAT" mixed.txt || { echo "FAIL: -v shows debugger messages"; failures=$((failures + 1)); }
check "mixed output size" $((44 + 640 + 160 + 32 + 640)) "$(stat -c %s mixed.wav)"

{ record 0 "$(payload 120)"; record 0 "$(payload 120)"; record 0 "$(payload 50)" 120; } >cut.vks
"$cli" decode cut.vks -o cut.wav 2>cut.txt
check "payload cut short" 3 $?
check "complete records written" $((44 + 2 * 640)) "$(stat -c %s cut.wav)"
grep -q "byte offset 276" cut.txt || { echo "FAIL: offset of cut record: $(cat cut.txt)"; failures=$((failures + 1)); }

{ record 0 "$(payload 120)"; head -c 9 /dev/zero; } >header.vks
check "header cut short" 3 "$(status "$cli" decode header.vks -o header.wav)"
{ record 0 "$(payload 120)"; record 0 "$(payload 6)" -6; } >negative.vks
"$cli" decode negative.vks -o negative.wav 2>negative.txt
check "negative length" 3 $?
grep -q "negative payload length" negative.txt || { echo "FAIL: negative length message"; failures=$((failures + 1)); }
record 0 "$(payload 10)" 2147483647 >huge.vks
check "declared length 2^31-1" 1 "$(status "$cli" decode huge.vks -o huge.wav)"
check "no output for a stream without a complete record" "" "$(ls huge.wav 2>/dev/null)"

# Hostile files: nothing written, status 1.
: >empty.vks
check "empty input" 1 "$(status "$cli" decode empty.vks -o empty.wav)"
check "no output for empty input" "" "$(ls empty.wav 2>/dev/null)"
head -c 5000 /dev/urandom >garbage.vks
s=$(status "$cli" decode garbage.vks -o garbage.wav)
[[ "$s" == 1 || "$s" == 3 ]] || { echo "FAIL: garbage status $s"; failures=$((failures + 1)); }
check "missing input" 1 "$(status "$cli" decode no-such-file.vks -o x.wav)"
mkdir -p adir
check "directory as input" 1 "$(status "$cli" decode adir -o x.wav)"
check "directory as output" 1 "$(status "$cli" decode "$root/data/sample-speech.vks" -o adir)"
check "unwritable output" 1 "$(status "$cli" decode "$root/data/sample-speech.vks" -o no-such-dir/out.wav)"
check "no temporary files left" "" "$(ls -A | grep '\.tmp\.' || true)"
check "no stray outputs" "" "$(ls x.wav 2>/dev/null)"

echo "$passes passed, $failures failed"
[[ $failures -eq 0 ]]
