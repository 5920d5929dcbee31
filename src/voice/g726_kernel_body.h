// The body of the voice library's G.726 block kernels, a template over the
// code width and the predictor's form (g726::PortablePredictor or one of the
// vector predictors of g726/avx2.h): the rate's quantizer, the packing and
// the output limit around the steps of g726/steps.h. Every definition is
// local to the translation unit that includes this file: each kernel file
// compiles it for its own instruction set. Include the standard and shared
// headers first (as this file does at its top, all but g726/steps.h, which
// belongs to the kernels) so that only the kernels fall under a kernel
// file's target pragma.
#pragma once

#include <cstdint>
#include <cstring>

#include "g726/core.h"
#include "g726/rates.h"
#include "g726/steps.h"
#include "voice/g726.h"

namespace velkorix::voice::g726_kernels {
namespace {

using g726::Registers;

// One sample through the encoder; returns its codeword.
template <int Width, class Predictor>
VELKORIX_ALWAYS_INLINE int EncodeSample(Registers &r, Predictor &p, int16_t x) {
    constexpr const g726::RateTables &rate = g726::RateOf<Width>();
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
        const int16_t *levels = Width == 2 ? g726::kDecision16 : g726::kDecision24;
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
    g726::Update<Width>(r, p, code, y, quantized, e, rate.w32, rate.f512);
    return code;
}

// One codeword through the decoder; returns the output sample (SR limited
// to 14 bits, times 4).
template <int Width, class Predictor>
VELKORIX_ALWAYS_INLINE int32_t DecodeSample(Registers &r, Predictor &p, int code) {
    constexpr const g726::RateTables &rate = g726::RateOf<Width>();
    const int32_t sr = g726::DecodeCode<Width>(r, p, code, rate.dqln, rate.w32, rate.f512);
    return (sr < -8192 ? -8192 : sr > 8191 ? 8191 : sr) * 4;
}

template <int Width, class Predictor>
VELKORIX_ALWAYS_INLINE void EncodeBlock(G726State &state, const int16_t *pcm, uint8_t *payload, int count) {
    Registers r = g726::LoadRegisters(state);
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
    g726::StoreRegisters(r, state);
}

template <int Width, class Predictor>
VELKORIX_ALWAYS_INLINE int DecodeBlock(G726State &state, const uint8_t *payload, int16_t *pcm, int bytes) {
    constexpr int ones = (1 << Width) - 1;
    const int codes = 8 * bytes / Width;
    Registers r = g726::LoadRegisters(state);
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
    g726::StoreRegisters(r, state);
    return codes;
}

}  // namespace
}  // namespace velkorix::voice::g726_kernels
