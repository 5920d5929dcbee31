#!/usr/bin/env bash
# Batch decoding with the velkorix tool: files per second with 1 and 2
# worker threads (`velkorix decode FILES... -d OUTDIR -j N`) over a few
# hundred captured stream files, the whole run timed on the wall clock as a
# user waits for it. The rounds alternate the worker counts and the median
# of each is shown, with the processor time the runs took and the load of
# the machine before and after (other processes take cores from the workers,
# so a loaded machine lowers the ratio). Both worker counts must write the
# same bytes.
#   usage: bench/batch.sh VELKORIX WORKDIR [--files N] [--rounds N] [--jobs "1 2"]
set -euo pipefail
cli=$(realpath "$1")
work=$2
shift 2
files=300
rounds=5
jobs_list="1 2"
while [[ $# -gt 0 ]]; do
  case $1 in
    --files) files=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --jobs) jobs_list=$2; shift 2 ;;
    *) echo "bench/batch.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
sample=$(cd "$(dirname "$0")/.." && pwd)/data/sample-speech.vks
rm -rf "$work"
mkdir -p "$work/set"
cd "$work"

# The captured files: the sample speech packed in the four formats the tool
# packs (G.726 24k stream, G.711 A-law and u-law, IMA ADPCM), each file one
# to three recordings long, as a day of short calls would give.
"$cli" decode "$sample" -o speech.wav -q
for format in 0 1 2 6; do "$cli" pack --format "$format" speech.wav -o "f$format.vks" 2>/dev/null; done
formats=(0 1 2 6)
for i in $(seq 1 "$files"); do
  f=f${formats[$((i % 4))]}.vks
  case $((i % 3)) in
    0) cat "$f" ;;
    1) cat "$f" "$f" ;;
    2) cat "$f" "$f" "$f" ;;
  esac >"set/call$(printf %04d "$i").vks"
done
bytes=$(cat set/*.vks | wc -c)
"$cli" info set/*.vks --json >set.json
records=$(python3 -c 'import json,sys; print(sum(i["records"] for i in json.load(open("set.json"))))')
seconds=$(python3 -c 'import json,sys; print(round(sum(i["seconds"] for i in json.load(open("set.json")))))')
echo "batch: $files files, $bytes bytes, $records records, $seconds s of audio; $(nproc) processors"
echo "batch: load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

# One warm-up run, then the rounds.
"$cli" decode set/*.vks -d warm -q -j 1
declare -A walls cpus
TIMEFORMAT='%R %U %S'
for round in $(seq 1 "$rounds"); do
  for jobs in $jobs_list; do
    rm -rf "out$jobs"
    t=$({ time "$cli" decode set/*.vks -d "out$jobs" -q -j "$jobs" >/dev/null 2>&1; } 2>&1)
    read -r wall user sys <<<"$t"
    walls[$jobs]+="$wall "
    cpus[$jobs]+="$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }') "
  done
done
for jobs in $jobs_list; do
  diff -r warm "out$jobs" >/dev/null || { echo "batch: -j $jobs wrote other bytes than -j 1" >&2; exit 1; }
done
echo "batch: load average after:  $(cut -d' ' -f1-3 /proc/loadavg)"

median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
first=
for jobs in $jobs_list; do
  wall=$(median <<<"${walls[$jobs]}")
  cpu=$(median <<<"${cpus[$jobs]}")
  rate=$(awk -v n="$files" -v t="$wall" 'BEGIN { printf "%.1f", n / t }')
  [[ -z $first ]] && first=$rate
  ratio=$(awk -v r="$rate" -v f="$first" 'BEGIN { printf "%.2f", r / f }')
  printf 'batch: -j %s: %7.1f files/s (median wall %.2f s of %s rounds: %s; cpu %.2f s), %s x -j %s\n' \
    "$jobs" "$rate" "$wall" "$rounds" "${walls[$jobs]% }" "$cpu" "$ratio" "${jobs_list%% *}"
done
