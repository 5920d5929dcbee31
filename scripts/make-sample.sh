#!/usr/bin/env bash
# Makes data/sample-speech.vks: a few seconds of synthetic speech (espeak-ng),
# resampled to 8 kHz mono 16-bit (sox, without dither, so that the result is
# reproducible), packed by the velkorix tool as a framed stream of format-0
# records (G.726 24 kbit/s, 120-byte payloads of 320 samples).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset native -DVELKORIX_TESTS=OFF >/dev/null
cmake --build build/native --target velkorix -j"$(nproc)" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
espeak-ng -v en -s 150 -w "$work/speech.wav" \
  "Velkorix decodes captured voice streams. This sample was packed as G seven twenty six at twenty four kilobits per second."
sox -D "$work/speech.wav" -r 8000 -c 1 -b 16 -e signed-integer "$work/speech-8k.wav" vol 0.8
./build/native/velkorix pack --format 0 "$work/speech-8k.wav" -o data/sample-speech.vks
echo "wrote data/sample-speech.vks ($(stat -c %s data/sample-speech.vks) bytes)"
