#!/usr/bin/env bash
# The main job: builds the velkorix tool and decodes the bundled sample stream
# (a few seconds of speech as G.726 24 kbit/s format-0 records) to a WAV file.
set -euo pipefail
cd "$(dirname "$0")/.."
# Only what building the tool needs: no test oracles, no benchmark library.
scripts/install-deps.sh --build
cmake --preset native -DVELKORIX_TESTS=OFF >/dev/null
cmake --build build/native --target velkorix -j"$(nproc)" >/dev/null
out="$PWD/build/sample-speech.wav"
./build/native/velkorix decode data/sample-speech.vks -o "$out"
echo "Decoded data/sample-speech.vks to $out"
