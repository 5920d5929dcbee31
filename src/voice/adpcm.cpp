#include "voice/adpcm.h"

#include <cstddef>
#include <cstring>

#include "common/cpu_features.h"
#include "voice/voice_frame.h"

namespace velkorix::voice {

constexpr int16_t kImaStepSize[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

constexpr int8_t kImaIndexAdjust[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

namespace {

constexpr int kMaxStepIndex = 88;

inline int ClampIndex(int index) { return index < 0 ? 0 : index > kMaxStepIndex ? kMaxStepIndex : index; }
inline int ClampSample(int v) { return v < -32768 ? -32768 : v > 32767 ? 32767 : v; }

inline int16_t ReadLe16(const uint8_t *p) { return static_cast<int16_t>(p[0] | p[1] << 8); }
inline void WriteLe16(uint8_t *p, int v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// Encodes `count` samples from the state and packs the codes two per byte,
// the earlier one in the high nibble (or the low nibble with `lowFirst`). The
// code of a final unpaired sample is not stored.
void EncodeCodes(AdpcmState &state, const int16_t *pcm, int count, uint8_t *out, bool lowFirst) {
    int i = 0;
    for (; i + 1 < count; i += 2) {
        const int first = AdpcmEncodeSample(state, pcm[i]);
        const int second = AdpcmEncodeSample(state, pcm[i + 1]);
        *out++ = static_cast<uint8_t>(lowFirst ? (second << 4 | first) : (first << 4 | second));
    }
    if (i < count) AdpcmEncodeSample(state, pcm[i]);
}

// The decoder's arithmetic by table: for every step index and code, the
// signed amount the predictor moves (step/8 plus step, step/2 and step/4 as
// the code's bits 2, 1 and 0 say, negated by bit 3), computed at compile time.
struct DecodeTable {
    int32_t delta[89][16];
    constexpr DecodeTable() : delta() {
        for (int index = 0; index < 89; ++index) {
            const int step = kImaStepSize[index];
            for (int code = 0; code < 16; ++code) {
                int vpdiff = step >> 3;
                if (code & 4) vpdiff += step;
                if (code & 2) vpdiff += step >> 1;
                if (code & 1) vpdiff += step >> 2;
                delta[index][code] = (code & 8) ? -vpdiff : vpdiff;
            }
        }
    }
};
constexpr DecodeTable kDecodeTable{};

// How far the step index moves per code, in bytes of the delta table (16
// entries of 4 bytes per step index).
struct AdjustTable {
    std::ptrdiff_t bytes[16];
    constexpr AdjustTable() : bytes() {
        for (int code = 0; code < 16; ++code) bytes[code] = kImaIndexAdjust[code] * 16 * 4;
    }
};
constexpr AdjustTable kAdjustBytes{};

#if defined(__GNUC__) || defined(__clang__)
#define VELKORIX_RARELY(x) __builtin_expect(!!(x), 0)
#else
#define VELKORIX_RARELY(x) (x)
#endif

// The decoder's state in registers: the predictor, and the step index as the
// byte offset of its row in the delta table (an unsigned offset, so that one
// comparison finds both ends of the range).
struct DecoderRegisters {
    std::size_t row;
    int32_t predictor;

    static const unsigned char *Table() { return reinterpret_cast<const unsigned char *>(&kDecodeTable.delta[0][0]); }
    DecoderRegisters(int32_t p, int index) : row(static_cast<std::size_t>(index) * 64), predictor(p) {}
    int Index() const { return static_cast<int>(row / 64); }

    // One code. The limits are rarely reached, so they are branches the
    // processor learns to skip rather than selects that every next sample
    // would wait for.
    VELKORIX_ALWAYS_INLINE int32_t Step(std::size_t code) {
        int32_t delta;
        std::memcpy(&delta, Table() + row + 4 * code, 4);
        predictor += delta;
        row += static_cast<std::size_t>(kAdjustBytes.bytes[code]);
        if (VELKORIX_RARELY(row > kMaxStepIndex * 64))
            row = static_cast<std::ptrdiff_t>(row) < 0 ? 0 : kMaxStepIndex * 64;
        if (VELKORIX_RARELY(static_cast<uint32_t>(predictor + 32768) > 65535)) predictor = predictor < 0 ? -32768 : 32767;
        return predictor;
    }
};

// Decodes `bytes` code bytes, two samples from each, the earlier one in the
// low nibble when `LowFirst`.
template <bool LowFirst>
void DecodeCodes(AdpcmState &state, const uint8_t *codes, int bytes, int16_t *pcm) {
    DecoderRegisters r(state.predictor, state.stepIndex);
    for (int i = 0; i < bytes; ++i) {
        const std::size_t byte = codes[i];
        pcm[2 * i] = static_cast<int16_t>(r.Step(LowFirst ? byte & 15 : byte >> 4));
        pcm[2 * i + 1] = static_cast<int16_t>(r.Step(LowFirst ? byte >> 4 : byte & 15));
    }
    state.predictor = static_cast<int16_t>(r.predictor);
    state.stepIndex = static_cast<uint8_t>(r.Index());
}

void DecodeCodes(AdpcmState &state, const uint8_t *codes, int bytes, int16_t *pcm, bool lowFirst) {
    if (lowFirst)
        DecodeCodes<true>(state, codes, bytes, pcm);
    else
        DecodeCodes<false>(state, codes, bytes, pcm);
}

}  // namespace

int AdpcmEncodeSample(AdpcmState &state, int x) {
    int step = kImaStepSize[state.stepIndex];
    int diff = x - state.predictor;
    int sign = 0;
    if (diff < 0) {
        sign = 8;
        diff = -diff;
    }
    int code = 0;
    int vpdiff = step >> 3;
    if (diff >= step) {
        code = 4;
        diff -= step;
        vpdiff += step;
    }
    step >>= 1;
    if (diff >= step) {
        code |= 2;
        diff -= step;
        vpdiff += step;
    }
    step >>= 1;
    if (diff >= step) {
        code |= 1;
        vpdiff += step;
    }
    state.predictor = static_cast<int16_t>(ClampSample(sign ? state.predictor - vpdiff : state.predictor + vpdiff));
    code |= sign;
    state.stepIndex = static_cast<uint8_t>(ClampIndex(state.stepIndex + kImaIndexAdjust[code]));
    return code;
}

int16_t AdpcmDecodeSample(AdpcmState &state, int code) {
    const int step = kImaStepSize[state.stepIndex];
    state.stepIndex = static_cast<uint8_t>(ClampIndex(state.stepIndex + kImaIndexAdjust[code]));
    int vpdiff = step >> 3;
    if (code & 4) vpdiff += step;
    if (code & 2) vpdiff += step >> 1;
    if (code & 1) vpdiff += step >> 2;
    state.predictor = static_cast<int16_t>(ClampSample((code & 8) ? state.predictor - vpdiff : state.predictor + vpdiff));
    return state.predictor;
}

int AdpcmFrameLength(int type, int count) {
    switch (type) {
        case 3: return count / 4 + 2;
        case 35: return (count - 1) / 4 + 2;
        default: return count / 4;
    }
}

int AdpcmFrameSamples(int type, int length) {
    switch (type) {
        case 3: return 4 * (length - 2);
        case 35: return 4 * (length - 2) + 1;
        default: return 4 * length;
    }
}

int AdpcmEncodeFrame(int type, AdpcmState &state, const int16_t *pcm, int count, uint8_t *frame) {
    uint8_t *payload = frame + kFrameHeaderBytes;
    const int length = AdpcmFrameLength(type, count);
    WriteFrameHeader(frame, length);
    switch (type) {
        case 3:
            WriteLe16(payload, state.predictor);
            payload[2] = state.stepIndex;
            payload[3] = 0;
            EncodeCodes(state, pcm, count, payload + 4, false);
            break;
        case 35:
            // The first sample travels verbatim and seeds the predictor; the
            // rest follow with the earlier sample of each pair in the low nibble.
            state.predictor = pcm[0];
            WriteLe16(payload, state.predictor);
            payload[2] = state.stepIndex;
            payload[3] = 0;
            EncodeCodes(state, pcm + 1, count - 1, payload + 4, true);
            break;
        default: EncodeCodes(state, pcm, count, payload, false); break;
    }
    return length;
}

int AdpcmDecodeFirstPayload(AdpcmState &state, const uint8_t *payload, int words, int16_t *pcm) {
    state.predictor = ReadLe16(payload);
    state.stepIndex = static_cast<uint8_t>(ClampIndex(payload[2]));
    pcm[0] = state.predictor;
    DecodeCodes(state, payload + 4, 2 * (words - 2), pcm + 1, true);
    return 4 * (words - 2) + 1;
}

int AdpcmDecodeFrame(int type, AdpcmState &state, const uint8_t *frame, int16_t *pcm) {
    const uint8_t *payload = frame + kFrameHeaderBytes;
    const int length = frame[2];
    switch (type) {
        case 3:
            // Every frame decodes on its own from its header. A step index the
            // encoder never writes (above 88) is clamped to the table.
            state.predictor = ReadLe16(payload);
            state.stepIndex = static_cast<uint8_t>(ClampIndex(payload[2]));
            DecodeCodes(state, payload + 4, 2 * (length - 2), pcm, false);
            return 4 * (length - 2);
        case 35: return AdpcmDecodeFirstPayload(state, payload, length, pcm);
        default: DecodeCodes(state, payload, 2 * length, pcm, false); return 4 * length;
    }
}

}  // namespace velkorix::voice
