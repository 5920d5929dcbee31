#!/usr/bin/env bash
# Seeds the fuzz corpora in fuzz/corpus/ from streams the project's own tools
# make (the bundled sample and small mixed streams).
set -euo pipefail
cd "$(dirname "$0")/.."
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
PY
echo "corpora in fuzz/corpus/: $(ls fuzz/corpus | tr '\n' ' ')"
