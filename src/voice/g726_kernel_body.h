// The body of the G.726 block kernels, a template over the code width and
// the predictor's form (portable or vector). Every definition is local to
// the translation unit that includes this file: each kernel file compiles it
// for its own instruction set. Include the standard and shared headers first
// (as this file does at its top) so that only the kernels themselves fall
// under a kernel file's target pragma.
#pragma once

#include <cstdint>
#include <cstring>

#include "common/g726_core.h"
#include "voice/g726.h"
#include "voice/g726_tables.h"

namespace velkorix::voice::g726k {
namespace {

using g726::Registers;
using g726tables::KernelRate;

template <int Width>
constexpr const KernelRate &RateTables() {
    if constexpr (Width == 2)
        return g726tables::kKernel16;
    else if constexpr (Width == 3)
        return g726tables::kKernel24;
    else if constexpr (Width == 4)
        return g726tables::kKernel32;
    else
        return g726tables::kKernel40;
}

// The voice state keeps DQ and SR forms with the sign in bit 10; the
// registers carry it extended over the upper bits.
inline Registers ToRegisters(const G726State &s) {
    Registers r;
    r.yl = s.YL;
    r.yu = s.YU;
    r.dms = s.DMS;
    r.dml = s.DML;
    r.ap = s.AP;
    r.a1 = s.A1;
    r.a2 = s.A2;
    r.pk1 = s.PK1;
    r.pk2 = s.PK2;
    r.td = s.TD;
    for (int k = 0; k < 6; ++k) {
        r.b[k] = s.B[k];
        r.dq[k] = g726::SignExtendForm(s.DQ[k]);
    }
    r.sr1 = g726::SignExtendForm(s.SR1);
    r.sr2 = g726::SignExtendForm(s.SR2);
    return r;
}

inline void FromRegisters(const Registers &r, G726State &s) {
    s.YL = r.yl & 524287;  // 19 bits, as the per-sample coder keeps it
    s.YU = r.yu;
    s.DMS = r.dms;
    s.DML = r.dml;
    s.AP = r.ap;
    s.A1 = r.a1;
    s.A2 = r.a2;
    s.PK1 = r.pk1;
    s.PK2 = r.pk2;
    s.TD = r.td;
    for (int k = 0; k < 6; ++k) {
        s.B[k] = r.b[k];
        s.DQ[k] = r.dq[k] & 2047;
    }
    s.SR1 = r.sr1 & 2047;
    s.SR2 = r.sr2 & 2047;
}

// The predictor in general-purpose registers, with the interface of
// g726::VectorPredictor.
struct PortablePredictor {
    VELKORIX_ALWAYS_INLINE void Load(const Registers &) {}
    VELKORIX_ALWAYS_INLINE void Store(Registers &) const {}
    VELKORIX_ALWAYS_INLINE g726::Estimate Predict(const Registers &r) const { return g726::EstimatePortable(r); }
    VELKORIX_ALWAYS_INLINE void Adapt(Registers &r, const g726::Sample &s, uint32_t quantized, bool tr, int leak) {
        g726::AdaptHistoryPortable(r, s, quantized, tr, leak);
    }
};

// The rest of a sample once its codeword and the inverse quantizer's answer
// (g726::InverseQuantize) are known; returns SR.
template <int Width, class Predictor>
VELKORIX_ALWAYS_INLINE int32_t Reconstruct(Registers &r, Predictor &p, int code, uint32_t quantized, int32_t y,
                                           g726::Estimate e) {
    constexpr const KernelRate &rate = RateTables<Width>();
    constexpr int leak = Width == 5 ? 9 : 8;  // the zero coefficients leak by 2^-9 at 40 kbit/s
    const g726::Sample s = g726::Reconstruct(code, (code >> (Width - 1)) != 0, y, quantized, e);
    const bool tr = g726::AdaptScalars(r, rate.w32, rate.f512, s);
    p.Adapt(r, s, quantized, tr, leak);
    return s.sr;
}

// One sample through the encoder; returns its codeword.
template <int Width, class Predictor>
VELKORIX_ALWAYS_INLINE int EncodeSample(Registers &r, Predictor &p, int16_t x) {
    constexpr const KernelRate &rate = RateTables<Width>();
    constexpr int ones = (1 << Width) - 1;
    const g726::Estimate e = p.Predict(r);
    const int32_t y = g726::ScaleFactor(r);
    // Adaptive quantizer: the log of |D| (exponent and 7 fraction bits)
    // less Y/4 against the rate's decision levels.
    const int32_t d = (x >> 2) - e.se;
    const auto dqm = static_cast<uint32_t>(d < 0 ? -d : d);
    int magnitude;
    uint32_t quantized;
    if constexpr (Width <= 3) {
        // Few intervals: compare |D| with each level's threshold on the
        // linear scale (the smallest |D| whose log reaches the level plus
        // Y/4, known before the estimate is), and take the inverse
        // quantizer's answer from candidates looked up as early.
        const int16_t *levels = Width == 2 ? g726tables::kDecision16 : g726tables::kDecision24;
        const auto reaches = [&](int k) {
            const int32_t t = levels[k] + (y >> 2);  // the log |D| must reach
            const uint32_t threshold =
                t <= 0 ? 0 : ((static_cast<uint32_t>(128 + (t & 127)) << (t >> 7)) + 127) >> 7;
            return dqm >= threshold;
        };
        quantized = g726::InverseQuantize(rate.dqln[0], y);
        magnitude = 0;
        for (int k = 0; k < ones / 2; ++k) {
            const uint32_t next = g726::InverseQuantize(rate.dqln[k + 1], y);
            const bool up = reaches(k);
            magnitude += up;
            quantized = up ? next : quantized;
        }
    } else {
        const int32_t exp = g726::FloorLog2(dqm | 1);  // 0 for 0 and 1
        const auto dl = static_cast<int32_t>((static_cast<uint32_t>(exp) << 7) + (((dqm << 7) >> exp) & 127));
        const int32_t interval = rate.interval[(dl - (y >> 2) + 2048) & 4095];
        magnitude = interval & 0xFF;
        quantized = g726::InverseQuantize(interval >> 16, y);
    }
    int code = magnitude ^ (ones & -static_cast<int>(d < 0));  // negative: ones - magnitude
    // Above 16 kbit/s the all-zero codeword is not sent: the smallest
    // interval uses the all-ones codeword for both signs (and its DQLN).
    if constexpr (Width > 2) code = code == 0 ? ones : code;
    Reconstruct<Width>(r, p, code, quantized, y, e);
    return code;
}

// One codeword through the decoder; returns the output sample (SR limited
// to 14 bits, times 4).
template <int Width, class Predictor>
VELKORIX_ALWAYS_INLINE int32_t DecodeSample(Registers &r, Predictor &p, int code) {
    const g726::Estimate e = p.Predict(r);
    const int32_t y = g726::ScaleFactor(r);
    const int32_t sr = Reconstruct<Width>(r, p, code, g726::InverseQuantize(RateTables<Width>().dqln[code], y), y, e);
    return (sr < -8192 ? -8192 : sr > 8191 ? 8191 : sr) * 4;
}

template <int Width, class Predictor>
VELKORIX_ALWAYS_INLINE void EncodeBlock(G726State &state, const int16_t *pcm, uint8_t *payload, int count) {
    Registers r = ToRegisters(state);
    Predictor p;
    p.Load(r);
    int i = 0;
    // Eight codewords fill `Width` bytes exactly.
    for (; i + 8 <= count; i += 8, payload += Width) {
        uint64_t bits = 0;
        for (int k = 0; k < 8; ++k)
            bits |= static_cast<uint64_t>(EncodeSample<Width>(r, p, pcm[i + k])) << (Width * k);
        for (int b = 0; b < Width; ++b) payload[b] = static_cast<uint8_t>(bits >> (8 * b));
    }
    // The rest: every byte the codewords reach, the last one padded with zero bits.
    uint32_t bits = 0;
    int held = 0;
    for (; i < count; ++i) {
        bits |= static_cast<uint32_t>(EncodeSample<Width>(r, p, pcm[i])) << held;
        held += Width;
        for (; held >= 8; held -= 8, bits >>= 8) *payload++ = static_cast<uint8_t>(bits);
    }
    if (held > 0) *payload = static_cast<uint8_t>(bits);
    p.Store(r);
    FromRegisters(r, state);
}

template <int Width, class Predictor>
VELKORIX_ALWAYS_INLINE int DecodeBlock(G726State &state, const uint8_t *payload, int16_t *pcm, int bytes) {
    constexpr int ones = (1 << Width) - 1;
    const int codes = 8 * bytes / Width;
    Registers r = ToRegisters(state);
    Predictor p;
    p.Load(r);
    int i = 0;
    for (; i + 8 <= codes; i += 8, payload += Width) {
        uint64_t bits = 0;
        for (int b = 0; b < Width; ++b) bits |= static_cast<uint64_t>(payload[b]) << (8 * b);
        for (int k = 0; k < 8; ++k)
            pcm[i + k] = static_cast<int16_t>(DecodeSample<Width>(r, p, static_cast<int>(bits >> (Width * k)) & ones));
    }
    // The rest, reading only the bytes the codewords need.
    uint32_t bits = 0;
    int held = 0;
    for (; i < codes; ++i) {
        if (held < Width) {
            bits |= static_cast<uint32_t>(*payload++) << held;
            held += 8;
        }
        pcm[i] = static_cast<int16_t>(DecodeSample<Width>(r, p, static_cast<int>(bits) & ones));
        bits >>= Width;
        held -= Width;
    }
    p.Store(r);
    FromRegisters(r, state);
    return codes;
}

}  // namespace
}  // namespace velkorix::voice::g726k
