#!/usr/bin/env bash
# Builds the optimised preset with the benchmark and runs it: this project's
# codecs against spandsp, libavcodec and bcg729 on espeak-ng speech and noise.
# Extra arguments go to velkorix_bench (e.g. --rounds 9, --only G.711).
# With --batch first it measures the tool's batch decoding instead: files per
# second with 1 and 2 worker threads (bench/batch.sh; --files N, --rounds N).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
[[ $jobs -gt 2 ]] && jobs=2
cmake --preset bench >/dev/null
if [[ ${1:-} == --batch ]]; then
  shift
  cmake --build --preset bench -j"$jobs" --target velkorix >/dev/null
  exec bench/batch.sh build/bench/velkorix build/bench/batch "$@"
fi
cmake --build --preset bench -j"$jobs" --target velkorix_bench >/dev/null

speech=build/bench/speech.raw
args=()
if command -v espeak-ng >/dev/null && command -v sox >/dev/null; then
  if [[ ! -s $speech ]]; then
    espeak-ng -v en -s 160 -w build/bench/speech.wav \
      "The benchmark decodes this speech with every codec of the library and with the peer libraries. \
       Each row runs the same input through both, in turns, and reports the median rate. \
       Speed never buys error: every row also checks that its output is what it must be." 2>/dev/null
    sox build/bench/speech.wav -r 8000 -c 1 -b 16 -e signed-integer -t raw "$speech" vol 0.8
  fi
  args+=(--speech "$speech")
else
  echo "bench: espeak-ng or sox missing, using the generated speech-like signal" >&2
fi
exec build/bench/bench/velkorix_bench "${args[@]}" "$@"
