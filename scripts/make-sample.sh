#!/usr/bin/env bash
# Makes data/sample-speech.vks: a few seconds of synthetic speech (espeak-ng),
# resampled to 8 kHz mono 16-bit (sox), as a framed stream of format-0 records.
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
espeak-ng -v en -s 150 -w "$work/speech.wav" \
  "Velkorix decodes captured voice streams. This sample was packed as G seven twenty six at twenty four kilobits per second."
sox "$work/speech.wav" -r 8000 -c 1 -b 16 -e signed-integer -t raw "$work/speech.raw" vol 0.8
g++ -O2 -o "$work/pack" scripts/sample/oracle_pack.cpp $(pkg-config --cflags --libs spandsp)
"$work/pack" < "$work/speech.raw" > data/sample-speech.vks
echo "wrote data/sample-speech.vks ($(stat -c %s data/sample-speech.vks) bytes)"
