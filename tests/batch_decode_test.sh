#!/usr/bin/env bash
# `velkorix decode IN... -d OUTDIR`: good, damaged, empty and unreadable
# inputs together, with 1, 2 and 4 workers: the statuses (the worst wins),
# the outputs byte for byte against single decodes, every file's own counts
# of the filter's messages, nothing partial left (also when interrupted), the
# refusals before anything is decoded, and the progress display only on a
# terminal.
#   usage: batch_decode_test.sh CLI WORKDIR
source "$(dirname "$0")/support/shell_test.sh"
sample=$root/data/sample-speech.vks

# record FORMAT LENGTH [PRESENT]: one record with LENGTH declared and PRESENT
# (default LENGTH) bytes of payload.
record() {
  local format=$1 length=$2 present=${3:-$2}
  printf '%026d%02x%08x' 0 "$format" $((length & 0xFFFFFFFF)) |
    sed 's/\(..\)\(..\)\(..\)\(..\)$/\4\3\2\1/' | xxd -r -p
  head -c "$present" /dev/urandom
}

# The set: streams of every packable format, streams with K invalid-format
# records (K differs per file, so counts that mixed between workers show),
# damaged ones (the complete records before the damage are decoded), and
# inputs that give nothing.
mkdir set
cp "$sample" set/speech0.vks
"$cli" decode "$sample" -o speech.wav -q
for format in 1 2 6; do "$cli" pack --format $format speech.wav -o set/speech$format.vks 2>/dev/null; done
for k in 1 2 3 4 5; do
  { for i in $(seq 1 $((3 * k))); do record 0 120; [[ $i -le $k ]] && record 4 30; done; record 3 40; } >set/mixed$k.vks
done
{ head -c 2000 "$sample"; } >set/cut.vks
{ head -c 1380 "$sample"; record 0 -6 6; } >set/negative.vks
: >set/empty.vks
head -c 9 "$sample" >set/headonly.vks
mkdir set/directory.vks
good=(speech0 speech1 speech2 speech6 mixed1 mixed2 mixed3 mixed4 mixed5)
warned=(cut negative)
failed=(empty headonly directory missing)

# What each input gives alone.
mkdir single
declare -A expected
for name in "${good[@]}" "${warned[@]}" "${failed[@]}"; do
  s=0
  "$cli" decode "set/$name.vks" -o "single/$name.wav" 2>"single/$name.txt" || s=$?
  expected[$name]=$s
done
for name in "${good[@]}"; do [[ ${expected[$name]} == 0 ]] || fail "$name alone: status ${expected[$name]}"; done
for name in "${warned[@]}"; do [[ ${expected[$name]} == 3 ]] || fail "$name alone: status ${expected[$name]}"; done
for name in "${failed[@]}"; do [[ ${expected[$name]} == 1 ]] || fail "$name alone: status ${expected[$name]}"; done

inputs=()
for name in "${good[@]}" "${warned[@]}" "${failed[@]}"; do inputs+=("set/$name.vks"); done
for jobs in 1 2 4; do
  out=out$jobs
  s=0
  "$cli" decode "${inputs[@]}" -d "$out" -j "$jobs" 2>"$out.txt" || s=$?
  [[ $s == 1 ]] || fail "-j $jobs: status $s, expected 1 (a failed input)"
  for name in "${good[@]}" "${warned[@]}"; do
    cmp -s "$out/$name.wav" "single/$name.wav" || fail "-j $jobs: $name.wav differs from its single decode"
  done
  for name in "${failed[@]}"; do [[ ! -e $out/$name.wav ]] || fail "-j $jobs: output for failed input $name"; done
  [[ $(ls -A "$out" | wc -l) == $((${#good[@]} + ${#warned[@]})) ]] || fail "-j $jobs: stray files: $(ls -A "$out")"
  for k in 1 2 3 4 5; do
    grep -q "^velkorix: 'set/mixed$k.vks': $((4 * k + 1)) records (format 0: $((3 * k)), format 3: 1, format 4: $k), .*invalid formats: $k, decode failures: 0, truncated samples: 0$" "$out.txt" ||
      fail "-j $jobs: the counts of mixed$k.vks: $(grep "mixed$k" "$out.txt")"
    grep -q "invalid formats: $k," "single/mixed$k.txt" || fail "mixed$k alone: $(cat "single/mixed$k.txt")"
  done
  grep -q "^velkorix: warning: 'set/cut.vks': stream ends at byte offset 1932: the input ends inside a record payload (50 of 120 bytes)$" "$out.txt" ||
    fail "-j $jobs: the warning of cut.vks"
  grep -q "^velkorix: 'set/empty.vks' is empty: it holds no records$" "$out.txt" || fail "-j $jobs: empty.vks"
  grep -q "^velkorix: cannot read 'set/directory.vks': it is a directory$" "$out.txt" || fail "-j $jobs: directory"
  grep -q "^velkorix: cannot read 'set/missing.vks': No such file or directory$" "$out.txt" || fail "-j $jobs: missing"
  grep -q "^velkorix: 15 files: 9 decoded, 2 decoded with warnings, 4 failed$" "$out.txt" ||
    fail "-j $jobs: summary: $(cat "$out.txt")"
  workers=$jobs
  grep -q "($workers\.\?[0-9]* files/s\|[0-9.]* files/s, $workers worker" "$out.txt" || fail "-j $jobs: worker count in the summary"
  grep -q "invalid formats: 15, decode failures: 0, truncated samples: 0$" "$out.txt" || fail "-j $jobs: total counts"
  [[ $(grep -c $'\r' "$out.txt" || true) == 0 ]] || fail "-j $jobs: progress display without a terminal"
done

# `info` on the same set says what the batch decode did: per file the
# records, the samples and the offset of the first damage; the files that
# cannot be read are errors in both, the empty ones hold no records.
s=0
"$cli" decode "${inputs[@]}" -d agree -j 2 -v 2>agree.txt || s=$?
[[ $s == 1 ]] || fail "-v batch: status $s"
s=0
"$cli" info --json "${inputs[@]}" >agree.json 2>/dev/null || s=$?
[[ $s == 1 ]] || fail "info on the set: status $s, expected 1 (unreadable files)"
python3 - "${inputs[@]}" <<'PY' || fail "info and the batch decode disagree"
import json, re, sys
log = open("agree.txt").read()
items = json.load(open("agree.json"))
assert [i["file"] for i in items] == sys.argv[1:], items
for info in items:
    name = re.escape(info["file"])
    done = re.search(r"^velkorix: '%s': (\d+) records \(([^)]*)\), (\d+) samples written" % name, log, re.M)
    damage = re.search(r"^velkorix: (?:warning: '%s': stream ends|'%s' holds no complete record:) at byte offset (\d+)"
                       % (name, name), log, re.M)
    if done:
        assert info["records"] == int(done.group(1)) and info["samples"] == int(done.group(3)), (info, done.group(0))
        formats = dict((f.split(": ")[0][7:], int(f.split(": ")[1])) for f in done.group(2).split(", "))
        assert info["formats"] == formats, (info, formats)
    elif "error" in info:  # unreadable: decode said so too
        assert re.search(r"^velkorix: %s$" % re.escape(info["error"]), log, re.M), info
    else:  # nothing decoded: no complete record
        assert info["records"] == 0 and info["samples"] == 0, info
    if damage:
        assert info["damage"] and info["damage"]["offset"] == int(damage.group(1)), (info, damage.group(0))
    elif "error" not in info and info["records"] > 0:
        assert info["damage"] is None, info
PY

# The worst status wins: success, then a warning, then a failure.
[[ $(status "$cli" decode set/speech0.vks set/speech1.vks -d st0) == 0 ]] || fail "all good: not 0"
[[ $(status "$cli" decode set/speech0.vks set/cut.vks -d st3) == 3 ]] || fail "good and damaged: not 3"
[[ $(status "$cli" decode set/cut.vks set/empty.vks set/speech0.vks -d st1) == 1 ]] || fail "with an empty one: not 1"

# Another type: the same bytes as single decodes to it.
"$cli" decode set/speech0.vks set/mixed3.vks -d flac --type flac -j 2 -q
for name in speech0 mixed3; do
  "$cli" decode "set/$name.vks" -o "single/$name.flac" -q
  cmp -s "flac/$name.flac" "single/$name.flac" || fail "$name.flac differs from its single decode"
done
[[ -z $(ls -A flac | grep -v '\.flac$' || true) ]] || fail "flac: stray files"

# -q: no summary; -v: a line for every file and its debugger messages.
"$cli" decode set/speech0.vks set/mixed2.vks -d quiet -q 2>quiet.txt
[[ ! -s quiet.txt ]] || fail "-q still says: $(cat quiet.txt)"
"$cli" decode set/speech0.vks set/mixed2.vks -d verbose -v -j 2 2>verbose.txt
grep -q "^velkorix: 'set/speech0.vks': 227 records (format 0: 227), 72640 samples written to 'verbose/speech0.wav'; invalid formats: 0" verbose.txt ||
  fail "-v: the line of speech0: $(cat verbose.txt)"
[[ $(grep -c "^velkorix: 'set/mixed2.vks': \[debug\] \*\**INVALID AUDIO FORMAT\**$" verbose.txt) == 2 ]] ||
  fail "-v: the debugger messages of mixed2: $(cat verbose.txt)"
[[ $(grep -c "speech0.vks': \[debug\]" verbose.txt || true) == 0 ]] || fail "-v: messages of mixed2 went to speech0"

# Refused before anything is decoded: status 2, no directory made.
mkdir -p a b
cp set/speech0.vks a/x.vks
cp set/speech1.vks b/x.vks
cp set/speech2.vks a/x.bin
[[ $(status "$cli" decode a/x.vks b/x.vks -d clash) == 2 ]] || fail "two inputs named alike"
"$cli" decode a/x.vks a/x.bin -d clash 2>clash.txt || true
grep -q "'a/x.vks' and 'a/x.bin' would both be decoded to 'clash/x.wav'" clash.txt || fail "clash message: $(cat clash.txt)"
[[ $(status "$cli" decode a/x.vks a/x.vks -d clash) == 2 ]] || fail "an input given twice"
[[ $(status "$cli" decode a/x.vks - -d clash) == 2 ]] || fail "standard input with -d"
[[ ! -e clash ]] || fail "a refused batch made its directory"
cp set/speech0.vks a/y.raw
before=$(md5sum <a/y.raw)
[[ $(status "$cli" decode a/y.raw -d a --type raw) == 2 ]] || fail "an output that would replace its input"
[[ $(md5sum <a/y.raw) == "$before" ]] || fail "the input was replaced"
[[ $(status "$cli" decode a/x.vks -o x.wav -d clash) == 2 ]] || fail "-o with -d"
[[ $(status "$cli" decode a/x.vks b/x.vks -o x.wav) == 2 ]] || fail "two inputs with -o"
[[ $(status "$cli" decode a/x.vks -o x.wav -j 2) == 2 ]] || fail "-j without -d"
[[ $(status "$cli" decode a/x.vks -d clash -j 0) == 2 ]] || fail "-j 0"
[[ $(status "$cli" decode -d clash) == 2 ]] || fail "-d without inputs"
[[ ! -e clash && ! -e x.wav ]] || fail "usage errors left files"
# A directory that is a file cannot be written into; a missing one is made.
: >afile
[[ $(status "$cli" decode a/x.vks -d afile) == 1 ]] || fail "-d onto a file"
"$cli" decode a/x.vks -d new/deeper -q || fail "-d into a directory to be made"
cmp -s new/deeper/x.wav single/speech0.wav || fail "the output in the new directory"

# Progress: on a terminal (a pseudo-terminal from script) the line is
# redrawn with the files and records done, the rate and the time left; with
# -q nothing.
command -v script >/dev/null || fail "script (util-linux) is needed for the terminal checks"
# Long enough for several redraws (one each 200 ms).
mkdir long
for i in $(seq 1 30); do cat "$sample" "$sample" "$sample" "$sample" "$sample" "$sample" >"long/l$i.vks"; done
script -qec "'$cli' decode long/*.vks -d tty -j 1" /dev/null >tty.txt 2>&1 || true
grep -q $'\r''velkorix: [0-9]*/30 files, [0-9]* records, [0-9]* records/s, [0-9]*:[0-9][0-9] left' tty.txt ||
  fail "no progress line on a terminal: $(od -c tty.txt | head)"
grep -q "files: .* decoded" tty.txt || fail "no summary on a terminal"
script -qec "'$cli' decode long/*.vks -d ttyq -j 1 -q" /dev/null >ttyq.txt 2>&1 || true
! grep -q "records/s\|files: " ttyq.txt || fail "-q on a terminal: $(cat ttyq.txt)"
# The same run into a file: the summary, no progress line.
"$cli" decode long/*.vks -d piped -j 1 2>piped.txt
grep -q "files: .* decoded" piped.txt || fail "no summary on a pipe"
! grep -q $'records/s\|\r' piped.txt || fail "progress display without a terminal: $(od -c piped.txt | head)"

# Interrupted: the worker reads a pipe that delivers records, then waits;
# SIGINT ends the run with 130, finished outputs stay, the unfinished one
# leaves no temporary file and counts as not decoded, the inputs after it
# are not started.
mkfifo set/live.vks
{ cat "$sample"; exec sleep 60; } >set/live.vks &
writer=$!
"$cli" decode set/speech0.vks set/live.vks set/speech1.vks -d stopped -j 1 2>stopped.txt &
decoder=$!
for i in $(seq 1 100); do
  ls -A stopped 2>/dev/null | grep -q '^\.live\.wav\.tmp\.' && break
  sleep 0.05
done
ls -A stopped | grep -q '^\.live\.wav\.tmp\.' || { kill "$decoder" "$writer"; fail "the pipe's output never began"; }
kill -INT "$decoder"
s=0
wait "$decoder" || s=$?
kill "$writer" 2>/dev/null || true
wait "$writer" 2>/dev/null || true
[[ $s == 130 ]] || fail "interrupted: status $s, expected 130: $(cat stopped.txt)"
[[ $(ls -A stopped) == speech0.wav ]] || fail "interrupted: left $(ls -A stopped)"
cmp -s stopped/speech0.wav single/speech0.wav || fail "interrupted: the finished output is not whole"
# The file whose read the signal broke off was interrupted, not failed.
grep -q "^velkorix: interrupted: 1 files decoded, 0 failed, 2 not decoded (no partial output left)$" stopped.txt ||
  fail "interrupted: $(cat stopped.txt)"
! grep -q "cannot read 'set/live.vks'" stopped.txt || fail "interrupted: the broken-off read reported as a failure"

[[ -z $(find . -name '*.tmp.*') ]] || fail "temporary files left: $(find . -name '*.tmp.*')"
echo "batch decode: pass"
