#!/usr/bin/env bash
# `velkorix info`: on good, mixed, damaged, empty and unreadable streams it
# reports what `velkorix decode` then does (records, samples at the rate and
# channel count given, the offset of the damage), counts the records of
# formats the filter does not decode, writes JSON that parses whatever the
# file names hold, and ends with the worst status.
#   usage: info_test.sh CLI WORKDIR
source "$(dirname "$0")/support/shell_test.sh"
sample=$root/data/sample-speech.vks

record() {  # record FORMAT LENGTH [PRESENT]
  local format=$1 length=$2 present=${3:-$2}
  printf '%026d%02x%08x' 0 "$format" $((length & 0xFFFFFFFF)) |
    sed 's/\(..\)\(..\)\(..\)\(..\)$/\4\3\2\1/' | xxd -r -p
  head -c "$present" /dev/urandom
}

mkdir set
cp "$sample" set/speech.vks
# Every format the filter takes, formats it does not (4, 5, 9, 255), odd
# lengths whose output ends mid-sample, an empty payload and a G.711 record
# whose output the filter's buffer bounds (2 x 60000 > 100000 bytes).
{ record 0 120; record 1 160; record 2 33; record 3 40; record 6 164; record 4 30; record 5 7; record 9 6
  record 255 0; record 0 7; record 0 1; record 3 25; record 1 60000; record 6 0; record 0 120; } >set/mixed.vks
{ head -c 2000 "$sample"; } >set/cut.vks
{ head -c 1380 "$sample"; record 0 -6 6; } >set/negative.vks
{ head -c 1380 "$sample"; head -c 5 "$sample"; } >set/header.vks
: >set/empty.vks
names=(speech mixed cut negative header empty)

# Against decode, at two rates and channel counts (stereo: whole frames).
for shape in "8000 1" "16000 2"; do
  read -r rate channels <<<"$shape"
  for name in "${names[@]}"; do
    "$cli" decode "set/$name.vks" -o "$name.wav" --rate "$rate" --channels "$channels" 2>"$name.txt" || true
    "$cli" info "set/$name.vks" --json --rate "$rate" --channels "$channels" >"$name.json" || true
  done
  python3 - "$rate" "$channels" "${names[@]}" <<'EOF' || fail "info and decode disagree at $shape"
import json, re, sys
rate, channels = int(sys.argv[1]), int(sys.argv[2])
for name in sys.argv[3:]:
    info = json.load(open(name + ".json"))
    assert isinstance(info, list) and len(info) == 1, info
    info = info[0]
    log = open(name + ".txt").read()
    assert info["file"] == "set/%s.vks" % name and info["rate"] == rate and info["channels"] == channels, info
    m = re.search(r"(\d+) records \(([^)]*)\), (\d+) samples written", log)
    if m:
        records, formats, samples = int(m.group(1)), m.group(2), int(m.group(3))
        assert info["records"] == records, (name, info, log)
        assert info["samples"] == samples, (name, info, log)
        want = dict((f.split(": ")[0].split(" ")[1], int(f.split(": ")[1])) for f in formats.split(", "))
        assert info["formats"] == want, (name, info["formats"], want)
        assert abs(info["seconds"] - samples / channels / rate) < 1e-6, (name, info)
    else:  # nothing decodable: decode fails, info finds no record
        assert info["records"] == 0 and info["samples"] == 0, (name, info, log)
    m = re.search(r"byte offset (\d+):? (.*)", log)
    if m:
        assert info["damage"] is not None and info["damage"]["offset"] == int(m.group(1)), (name, info, log)
        assert info["damage"]["reason"] == m.group(2), (name, info["damage"], m.group(2))
    else:
        assert info["damage"] is None, (name, info, log)
    invalid = re.search(r"invalid formats: (\d+)", log)
    if invalid:  # formats 4 and 5 give the filter's message; info also counts 7 to 255
        assert info["invalid"] >= int(invalid.group(1)), (name, info, log)
EOF
done

# The mixed stream in numbers: 4 of its 15 records are of formats the filter
# does not decode; its output by the length rule, bounded by the buffer.
python3 - <<'EOF' || fail "mixed.vks in numbers"
import json, os
info = json.load(open("mixed.json"))[0]  # 16000 Hz, 2 channels
assert info["records"] == 15 and info["invalid"] == 4, info
assert info["formats"] == {"0": 4, "1": 2, "2": 1, "3": 2, "4": 1, "5": 1, "6": 2, "9": 1, "255": 1}, info
rule = 640 + 320 + 66 + 640 + 640 + 160 + 37 + 32 + 0 + 37 + 5 + 640 + 100000 + 640 + 640
assert info["output_bytes"] == rule, (info["output_bytes"], rule)
assert info["samples"] == rule // 4 * 2 and info["bytes"] == os.path.getsize("set/mixed.vks"), info
EOF

# Several files at once, the text form, statuses.
"$cli" info set/speech.vks set/cut.vks >text.txt || true
grep -q "^Records:  227 (format 0: 227)$" text.txt && grep -q "^Samples:  72640 (9.080 s at 8000 Hz, 1 channel)$" text.txt ||
  fail "text form: $(cat text.txt)"
grep -q "^Damage:   at byte offset 1932: the input ends inside a record payload (50 of 120 bytes)$" text.txt ||
  fail "text form, damage: $(cat text.txt)"
[[ $(status "$cli" info set/speech.vks set/mixed.vks set/empty.vks) == 0 ]] || fail "intact files: not 0"
[[ $(status "$cli" info set/speech.vks set/negative.vks) == 3 ]] || fail "a damaged file: not 3"
mkdir set/dir.vks
s=0
"$cli" info --json set/cut.vks set/dir.vks set/missing.vks set/speech.vks >all.json 2>all.txt || s=$?
[[ $s == 1 ]] || fail "unreadable files: status $s, expected 1"
python3 - <<'EOF' || fail "JSON of unreadable files"
import json
items = json.load(open("all.json"))
assert [i["file"] for i in items] == ["set/cut.vks", "set/dir.vks", "set/missing.vks", "set/speech.vks"], items
assert items[1] == {"file": "set/dir.vks", "error": "cannot read 'set/dir.vks': it is a directory"}, items[1]
assert "error" in items[2] and items[3]["records"] == 227 and items[0]["damage"]["kind"] == "payload_cut", items
EOF
grep -q "cannot read 'set/missing.vks'" all.txt || fail "the error is not on standard error"
"$cli" info - --json <"$sample" | python3 -c 'import json,sys; i=json.load(sys.stdin)[0]; assert i["file"] == "-" and i["records"] == 227, i' ||
  fail "standard input"

# File names that JSON must escape, and bytes that are not UTF-8.
odd=$'set/q"uo\\te\tnew\nline-\xc3\xa9-\xff.vks'
cp "$sample" "$odd"
"$cli" info --json "$odd" set/speech.vks | python3 -c '
import json, sys
items = json.load(sys.stdin)
assert items[0]["file"] == "set/q\"uo\\te\tnew\nline-\u00e9-\ufffd.vks", repr(items[0]["file"])
assert items[0]["records"] == 227 and items[1]["records"] == 227
' || fail "JSON with odd file names"

# Usage errors.
[[ $(status "$cli" info) == 2 ]] || fail "no file"
[[ $(status "$cli" info set/speech.vks --rate 0) == 2 ]] || fail "--rate 0"
[[ $(status "$cli" info set/speech.vks --channels 17) == 2 ]] || fail "--channels 17"
[[ $(status "$cli" info set/speech.vks --bogus) == 2 ]] || fail "unknown option"
echo "info: pass"
