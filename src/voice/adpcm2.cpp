#include "voice/adpcm2.h"

#include <algorithm>
#include <bit>

#include "voice/voice_frame.h"

namespace velkorix::voice {
namespace {

// Tables indexed by the 2-bit code: 0 and 3 are the small level, 1 and 2 the
// large one; 2 and 3 are negative.
constexpr int16_t kDqln[4] = {116, 365, 365, 116};
constexpr int16_t kF[4] = {0, 7, 7, 0};
constexpr int16_t kW[4] = {-22, 439, 439, -22};

inline int16_t S16(int32_t v) { return static_cast<int16_t>(v); }
inline int Sgn(int v) { return v < 0 ? -1 : 1; }
inline int Clamp(int v, int low, int high) { return v < low ? low : v > high ? high : v; }

// Products and sums of the predictor wrap around in 32 bits.
inline int32_t Mul32(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b)); }
inline int32_t Add32(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)); }
inline int32_t Sub32(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b)); }

struct Estimate {
    int32_t z;  // zero-predictor estimate (13 fractional bits)
    int32_t p;  // full estimate
    int y;      // scale factor
};

inline Estimate Predict(const Adpcm2State &s) {
    int32_t z = 0;
    // DQ is stored oldest first: B1 pairs with DQ1, the latest.
    for (int i = 0; i < 6; ++i) z = Add32(z, Mul32(s.B[i], s.DQ[5 - i]));
    const int32_t p = Add32(z, Add32(Mul32(s.A1, s.SR1), Mul32(s.A2, s.SR2)));
    const int al = s.AP < 256 ? s.AP >> 2 : 64;
    const int16_t dif = S16(s.YU - (s.YL >> 6));
    const int y = S16(static_cast<int32_t>((static_cast<int64_t>(s.YL) + dif * al) >> 6));
    return {z, p, y};
}

// Code of the sample x against the estimate: small or large magnitude, sign.
inline int Quantize(const Estimate &e, int x) {
    const int32_t d = Sub32(8192 * x, e.p) >> 13;
    // A difference beyond 16 bits is held to the 16-bit range with its true
    // sign. A full-scale jump against the estimate gets there (32767 after an
    // estimate of -363 is +33129): taken modulo 2^16 it would read as a large
    // step the other way. Within 16 bits nothing changes.
    const int32_t d16 = std::clamp<int32_t>(d, -32768, 32767);
    const int m = d16 < 0 ? -d16 : d16;
    int log;
    if (m == 0) {
        log = -128;
    } else {
        const int e = static_cast<int>(std::bit_width(static_cast<unsigned>(m))) - 1;
        log = 128 * e + (((m * 128) >> e) & 127);
    }
    const int dln = S16(log - (e.y >> 2));
    const bool large = dln > 260;
    if (d16 >= 0) return large ? 1 : 0;
    return large ? 2 : 3;
}

// The per-sample update shared by encoder and decoder. Returns the
// reconstructed sample before limiting.
int32_t Update(Adpcm2State &s, const Estimate &e, int code) {
    const int y = e.y;
    const bool negative = code >= 2;

    // Inverse quantizer.
    const int dql = S16((y >> 2) + kDqln[code]);
    // Every state the coder reaches keeps dql within 252..1645 (a shift of 2
    // to 13); a damaged state can put it anywhere, so the shift is held to
    // the range where it is defined.
    const int shift = 14 - (dql >> 7);
    int dq = shift < 0 ? 32767 : shift > 30 ? 0 : (((dql & 127) + 128) * 128) >> shift;
    if (negative) dq = -dq;

    // Transition, on the previous YL.
    const bool tr = s.TD == 1 && static_cast<int64_t>(7147) * dql > s.YL;

    // Speed averages.
    s.DMS = S16(s.DMS + ((kF[code] * 512 - s.DMS) >> 5));
    s.DML = S16(s.DML + ((kF[code] * 2048 - s.DML) >> 7));

    // Scale factors.
    const int yu = Clamp(S16(y + ((kW[code] * 32 - y) >> 5)), 544, 5120);
    s.YU = S16(yu);
    s.YL = Add32(s.YL, s.YU - (s.YL >> 6));

    // Reconstruction.
    const int32_t sr = Add32(e.p >> 13, dq);
    s.SR2 = s.SR1;
    s.SR1 = S16(sr >> 1);

    // Sign history.
    const int16_t pk0 = S16((e.z >> 13) + dq);
    const int s0 = pk0 < 0 ? -1 : pk0 > 0 ? 1 : 0;
    const int oldPk1 = s.PK1, oldPk2 = s.PK2;
    s.PK2 = s.PK1;
    s.PK1 = pk0;

    // Pole coefficients and tone.
    const int fa1 = Clamp(s.A1, -8192, 8192);
    const int h = Sgn(oldPk2) * 4096 - Sgn(oldPk1) * fa1;
    const int a2p = Clamp(S16(s.A2 - (s.A2 >> 7) + ((s0 * h) >> 5)), -12288, 12288);
    const int a1Limit = 15360 - a2p;
    const int a1p = Clamp(S16(s.A1 + s0 * Sgn(oldPk1) * 192 - (s.A1 >> 8)), -a1Limit, a1Limit);
    const bool tdp = a2p < -11776;
    s.A2 = S16(tr ? 0 : a2p);
    s.A1 = S16(tr ? 0 : a1p);
    s.TD = (!tr && tdp) ? 1 : 0;

    // Speed control on the new averages.
    const int diff = 4 * s.DMS - s.DML;
    const bool ax = (diff < 0 ? -diff : diff) >= (s.DML >> 3) || y < 1536 || tdp;
    s.AP = tr ? 256 : S16(s.AP - (s.AP >> 4) + (ax ? 32 : 0));

    // Zero coefficients against the history before this sample.
    const int step = dq > 0 ? 64 : dq < 0 ? -64 : 0;
    for (int i = 0; i < 6; ++i) {
        const int history = s.DQ[5 - i];
        s.B[i] = tr ? 0 : S16(s.B[i] - (s.B[i] >> 8) + (history >= 0 ? step : -step));
    }

    // History: DQ6..DQ2 take DQ5..DQ1, DQ1 the new difference.
    for (int i = 0; i < 5; ++i) s.DQ[i] = s.DQ[i + 1];
    s.DQ[5] = S16(dq);
    return sr;
}

inline int16_t LimitSample(int32_t v) { return static_cast<int16_t>(v < -32768 ? -32768 : v > 32767 ? 32767 : v); }

}  // namespace

void Adpcm2Reset(Adpcm2State &s) {
    s.SR1 = s.SR2 = 16;
    s.A1 = s.A2 = 0;
    for (int i = 0; i < 6; ++i) {
        s.B[i] = 0;
        s.DQ[i] = 32;
    }
    s.DMS = s.DML = 0;
    s.AP = 0;
    s.YU = 544;
    s.TD = 0;
    s.PK1 = s.PK2 = 0;
    s.YL = 34816;
}

int Adpcm2EncodeSample(Adpcm2State &s, int16_t x) {
    const Estimate e = Predict(s);
    const int code = Quantize(e, x);
    Update(s, e, code);
    return code;
}

int16_t Adpcm2DecodeSample(Adpcm2State &s, int code) {
    const Estimate e = Predict(s);
    return LimitSample(Update(s, e, code & 3));
}

int Adpcm2EncodeFrame(Adpcm2State &s, const int16_t *pcm, int count, uint8_t *frame) {
    const int length = count / 8;
    WriteFrameHeader(frame, length);
    uint8_t *payload = frame + kFrameHeaderBytes;
    int i = 0;
    for (int word = 0; word < length; ++word) {
        unsigned value = 0;
        for (int k = 0; k < 8; ++k, ++i) value = (value << 2) | static_cast<unsigned>(Adpcm2EncodeSample(s, pcm[i]));
        payload[2 * word] = static_cast<uint8_t>(value);
        payload[2 * word + 1] = static_cast<uint8_t>(value >> 8);
    }
    // Samples that do not fill a word still advance the state.
    for (; i < count; ++i) Adpcm2EncodeSample(s, pcm[i]);
    return length;
}

void Adpcm2DecodePayload(Adpcm2State &s, const uint8_t *payload, int length, int16_t *pcm) {
    for (int word = 0; word < length; ++word) {
        const unsigned value = static_cast<unsigned>(payload[2 * word] | payload[2 * word + 1] << 8);
        for (int k = 0; k < 8; ++k) *pcm++ = Adpcm2DecodeSample(s, static_cast<int>(value >> (14 - 2 * k)) & 3);
    }
}

}  // namespace velkorix::voice
