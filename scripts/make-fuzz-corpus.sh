#!/usr/bin/env bash
# Seeds the fuzz corpora in fuzz/corpus/ from streams the project's own tools
# make (the bundled sample and small mixed streams).
set -euo pipefail
cd "$(dirname "$0")/.."
# Voice frames for the voice target come from the tool itself.
cli=build/native/velkorix
if [[ ! -x $cli ]]; then
  cmake --preset native >/dev/null
  cmake --build build/native --target velkorix -j"$(nproc)" >/dev/null
fi
frames=$(mktemp -d)
trap 'rm -rf "$frames"' EXIT
"$cli" decode data/sample-speech.vks -o "$frames/speech.wav" 2>/dev/null
for codec in g711a g711u-swap adpcm-pred adpcm-first adpcm-bare g726-16 g726-24 g726-32-msb g726-40 adpcm2; do
  frame=160
  [[ $codec == adpcm-first ]] && frame=161
  "$cli" voice encode --codec "$codec" --frame "$frame" "$frames/speech.wav" -o "$frames/$codec.vf" 2>/dev/null
done
export VELKORIX_FRAMES_DIR=$frames
python3 - <<'PY'
import os, struct, random
random.seed(20261208)
def records(path):
    data = open(path, 'rb').read()
    at, out = 0, []
    while at + 18 <= len(data):
        n = struct.unpack_from('<i', data, at + 14)[0]
        out.append(data[at:at + 18 + n]); at += 18 + n
    return out
def record(fmt, payload, declared=None):
    return bytes(13) + bytes([fmt]) + struct.pack('<i', len(payload) if declared is None else declared) + payload
def sized(recs):
    return b''.join(struct.pack('<H', len(r)) + r for r in recs)
def write(target, name, blob):
    d = f'fuzz/corpus/{target}'; os.makedirs(d, exist_ok=True)
    open(f'{d}/{name}', 'wb').write(blob)
sample = records('data/sample-speech.vks')
extra = sorted(p for p in os.listdir('data') if p.endswith('.vks'))
streams = {p: records('data/' + p) for p in extra}
rnd = lambda n: bytes(random.getrandbits(8) for _ in range(n))
mixed = [sample[0], record(3, rnd(40)), record(6, rnd(164)), record(1, rnd(160)), record(2, rnd(160)),
         record(4, rnd(30)), record(0, rnd(120)), record(3, rnd(25)), record(0, rnd(60), 120)]
write('filter_stream', 'sample', sized(sample[:8]))
write('filter_stream', 'mixed', sized(mixed))
for p, recs in streams.items():
    write('filter_stream', p.replace('.vks', ''), sized(recs[:6]))
write('stream_reader', 'sample', b''.join(sample[:4]))
write('stream_reader', 'mixed', b''.join(mixed))
write('stream_reader', 'cut', b''.join(sample[:2]) + sample[2][:50])
write('g726_stream', 'sample', b''.join(bytes([120]) + r[18:] for r in sample[:6]))
write('g726_stream', 'odd', bytes([1, 0x88, 2, 0xC6, 0xFA, 0, 5]) + rnd(5))

# Voice scripts: state modes for decoder and encoder (a reset type index),
# a transcoding selector, then operations. Decode ops carry frames encoded
# by the tool; encode ops carry a count and samples.
types = [1, 2, 65, 66, 3, 35, 67, 4, 5, 6, 7, 36, 37, 38, 39, 68]
codec_type = {'g711a': 1, 'g711u-swap': 66, 'adpcm-pred': 3, 'adpcm-first': 35, 'adpcm-bare': 67,
              'g726-16': 4, 'g726-24': 5, 'g726-32-msb': 38, 'g726-40': 7, 'adpcm2': 68}
fdir = os.environ['VELKORIX_FRAMES_DIR']
for codec, vtype in codec_type.items():
    blob = open(f'{fdir}/{codec}.vf', 'rb').read()
    frames, at = [], 0
    while at + 4 <= len(blob) and len(frames) < 6:
        n = 4 + 2 * blob[at + 2]; frames.append(blob[at:at + n]); at += n
    idx = types.index(vtype)
    script = bytes([idx, idx, 1 + (vtype in (67, 68)) * (2 if vtype == 67 else 3)])
    for f in frames:
        op = 1 if vtype in (65, 66, 67, 68) and len(script) % 2 else 0
        script += bytes([op, f[2]]) + f[0:2] + bytes([f[3]]) + f[4:]
    pcm = struct.pack('<160h', *[int(3000 * ((i * 37) % 200 - 100) / 100) for i in range(160)])
    script += bytes([2]) + struct.pack('<H', 160) + pcm
    write('voice', codec, script)

# G.729: a few frames of deterministic bits, and the all-zero and all-one frames.
write('g729', 'frames', rnd(400))
write('g729', 'edges', bytes([40]) + bytes(40) + bytes([0xFF]) * 40)
# The GStreamer plugin's splitting and type finding: whole streams, a cut
# one, output lengths that end inside a sample, changes of codec.
odd = [sample[0], sample[1], record(0, rnd(1)), record(3, rnd(40)), sample[2], record(0, rnd(121)),
       record(6, rnd(164)), record(4, rnd(3)), record(1, rnd(80)), record(0, rnd(7)), sample[3]]
write('gst_stream', 'sample', b''.join(sample[:6]))
write('gst_stream', 'mixed', b''.join(mixed))
write('gst_stream', 'odd', b''.join(odd))
write('gst_stream', 'cut', b''.join(sample[:3]) + sample[3][:20])
# One record more than the type finder looks at, ending with the input.
write('gst_stream', 'bound', b''.join(sample[:33]))
PY
echo "corpora in fuzz/corpus/: $(ls fuzz/corpus | tr '\n' ' ')"
