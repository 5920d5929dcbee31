// The one home of the ITU-T G.726 arithmetic: the two-pole six-zero adaptive
// predictor with its floating multiplications, the inverse quantizer, the
// scale factor and speed control, the tone and transition detectors, and the
// state's load into and store out of registers. The voice library's G.726
// codec (every rate) and the 24 kbit/s stream decoder code their samples
// with these steps; the AVX2 predictors of g726/avx2.h and the rate tables of
// g726/rates.h complete the layer. Written for speed: the state lives in
// registers while a block of samples is coded, and nothing branches on the
// signal's random signs. g726/steps.h puts the steps together into one
// sample, for any of the predictors.
#pragma once

#include <cstdint>
#include <cstring>

#include "common/cpu_features.h"

namespace velkorix::g726 {

VELKORIX_ALWAYS_INLINE int32_t S16(int32_t v) { return static_cast<int16_t>(v); }

// Number of significant bits of x (0 for 0). For the magnitudes met here
// (below 2^15) this is the index of the first power of two above x, the
// quantity the recommendation looks up in its table of powers of two.
// 2x + 1 is never zero, so the count needs no test for x = 0.
VELKORIX_ALWAYS_INLINE int32_t BitWidth(uint32_t x) {
    const uint32_t odd = 2 * x + 1;
#if defined(__GNUC__) || defined(__clang__)
    return 31 ^ __builtin_clz(odd);
#else
    int32_t n = 0;
    while (odd >> (n + 1)) ++n;
    return n;
#endif
}

// floor(log2(x)) for x >= 1.
VELKORIX_ALWAYS_INLINE int32_t FloorLog2(uint32_t x) {
#if defined(__GNUC__) || defined(__clang__)
    return 31 ^ __builtin_clz(x);
#else
    int32_t n = 0;
    while (x >> (n + 1)) ++n;
    return n;
#endif
}

// The adaptive state of one coder, held in registers while a block is coded.
// DQ1..DQ6 and SR1, SR2 are in the 11-bit floating form with the sign
// extended over the upper bits (a negative value is negative here).
//
// The adaptation keeps most fields inside ranges where the 16-bit truncation
// of the recommendation never takes effect, and the code leaves it out there:
// YU 544..5120 and so YL/64 and Y within the same range, DQL -1912..1653,
// DMS 0..3584, DML 0..14336, AP 0..512, A2 within +-12288, A1 within
// +-(15360 - A2). Every reset starts inside them. The sums of products, SR,
// DQSEZ and the zero predictor coefficients do wrap and are truncated where
// the recommendation says.
struct Registers {
    int32_t yl, yu, dms, dml, ap, a1, a2, pk1, pk2, td;
    int32_t b[6];
    int32_t dq[6];
    int32_t sr1, sr2;
};

// An 11-bit floating form (sign in bit 10) with its sign extended.
VELKORIX_ALWAYS_INLINE int32_t SignExtendForm(int32_t form) { return static_cast<int32_t>(static_cast<uint32_t>(form) << 21) >> 21; }

// The state of a coder's record in registers and back. Both records name
// their fields after the Recommendation (YL, YU, DMS, DML, AP, A1, A2, PK1,
// PK2, TD, B1..B6, DQ1..DQ6, SR1, SR2) and keep each at a width of their own,
// which decides how a floating form is kept: a 32-bit field (the voice
// library's state) holds the form's 11 bits with the sign in bit 10, as the
// Recommendation writes it; a 16-bit field (the stream decoder's record)
// holds it as a signed 16-bit number, its sign extended.
VELKORIX_ALWAYS_INLINE int32_t LoadForm(int32_t stored) { return SignExtendForm(stored); }
VELKORIX_ALWAYS_INLINE int32_t LoadForm(int16_t stored) { return stored; }
VELKORIX_ALWAYS_INLINE void StoreForm(int32_t &field, int32_t form) { field = form & 2047; }
VELKORIX_ALWAYS_INLINE void StoreForm(int16_t &field, int32_t form) { field = static_cast<int16_t>(form); }

template <class Field>
VELKORIX_ALWAYS_INLINE void StoreField(Field &field, int32_t value) {
    field = static_cast<Field>(value);
}

template <class Record>
VELKORIX_ALWAYS_INLINE Registers LoadRegisters(const Record &s) {
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
        r.dq[k] = LoadForm(s.DQ[k]);
    }
    r.sr1 = LoadForm(s.SR1);
    r.sr2 = LoadForm(s.SR2);
    return r;
}

// YL needs no mask to the Recommendation's 19 bits: every reset starts it
// at 34816, the voice library holds a stored one to 34816..327680 before it
// codes, and the update keeps it there (YL - YL/64 + YU with YU 544..5120).
template <class Record>
VELKORIX_ALWAYS_INLINE void StoreRegisters(const Registers &r, Record &s) {
    StoreField(s.YL, r.yl);
    StoreField(s.YU, r.yu);
    StoreField(s.DMS, r.dms);
    StoreField(s.DML, r.dml);
    StoreField(s.AP, r.ap);
    StoreField(s.A1, r.a1);
    StoreField(s.A2, r.a2);
    StoreField(s.PK1, r.pk1);
    StoreField(s.PK2, r.pk2);
    StoreField(s.TD, r.td);
    for (int k = 0; k < 6; ++k) {
        StoreField(s.B[k], r.b[k]);
        StoreForm(s.DQ[k], r.dq[k]);
    }
    StoreForm(s.SR1, r.sr1);
    StoreForm(s.SR2, r.sr2);
}

// Product of a predictor coefficient (already shifted right by 2) and a value
// in the 4-bit exponent, 6-bit mantissa floating form.
//
// The magnitude of a negative coefficient is taken to 13 bits, as G.726 forms
// it: a coefficient at its lower limit (-2.0, that is -8192 here) has
// magnitude 0. A positive coefficient is below 8192, so the same mask leaves
// it alone.
//
// The coefficient's mantissa is its top six bits (bit 5 set), or 32 for a
// zero coefficient: both come out of one shift and an OR. The two scalings
// of the product (left by WAnEXP and masked to 15 bits, or right by
// -WAnEXP) are one right shift of the product moved up by 19 bits.
VELKORIX_ALWAYS_INLINE int32_t FMult(int32_t an, int32_t srn) {
    const uint32_t anmag = static_cast<uint32_t>(an < 0 ? -an : an) & 0x1FFF;
    const int32_t width = BitWidth(anmag);  // AnEXP + 6
    const uint32_t anmant = ((anmag << 6) >> width) | 32;
    const uint32_t wanmant = (anmant * static_cast<uint32_t>(srn & 63) + 48) >> 4;
    const int32_t shift = 38 - width - ((srn >> 6) & 15);  // 19 - WAnEXP, 10..38
    const auto r = static_cast<int32_t>(((static_cast<uint64_t>(wanmant) << 19) >> shift) & 0x7FFF);
    return (an ^ srn) < 0 ? -r : r;
}

// Floating form of a magnitude below 2^15 with its sign: exponent in bits
// 6..9, the top six bits of the magnitude below it, minus 1024 when
// negative. A zero magnitude gives 32 (0xFC20 when negative) through the
// same expression.
VELKORIX_ALWAYS_INLINE int32_t FloatForm(uint32_t magnitude, bool negative) {
    const int32_t e = BitWidth(magnitude);
    const auto form = static_cast<int32_t>(static_cast<uint32_t>(e) * 64 + (((magnitude << 6) >> e) | 32));
    return form - (static_cast<int32_t>(negative) << 10);
}

// The floating form of a reconstructed signal; |SR| of -32768 masks to 0,
// whose negative form is 0xFC20.
VELKORIX_ALWAYS_INLINE int32_t SignalForm(int32_t sr) {
    return FloatForm(static_cast<uint32_t>(sr < 0 ? -sr : sr) & 0x7FFF, sr < 0);
}

// Quantizer scale factor: with AP at 256 or more the weight AL is 64 and the
// mix gives YU exactly. The product is truncated toward zero.
VELKORIX_ALWAYS_INLINE int32_t ScaleFactor(const Registers &r) {
    const int32_t yls = r.yl >> 6;
    const int32_t dif = r.yu - yls;
    const int32_t al = r.ap >> 2 < 64 ? r.ap >> 2 : 64;  // AP is never negative
    return yls + (dif * al) / 64;
}

// Inverse quantizer by table: for every log magnitude DQL from -2048 to
// 2047 (index DQL + 2048), the magnitude of DQ in the low 16 bits and the
// floating form of that magnitude in the high 16 bits. A negative DQL gives
// magnitude 0 (form 32). Computed at compile time from the antilog of the
// recommendation: DEX = DQL >> 7, DQT = 128 + (DQL AND 127),
// magnitude = (DQT << 7) >> (14 - DEX).
struct InverseQuantizerTable {
    uint32_t entry[4096];
    constexpr InverseQuantizerTable() : entry() {
        for (int32_t dql = -2048; dql < 2048; ++dql) {
            int32_t mag = 0;
            if (dql >= 0) {
                const int32_t dex = (dql >> 7) & 15;
                const int32_t dqt = 128 + (dql & 127);
                mag = dex <= 14 ? (dqt << 7) >> (14 - dex) : 0;  // DEX 15 needs DQL of 1920 and more: unreachable
            }
            int32_t e = 0;
            while (e < 15 && (1 << e) <= mag) ++e;
            const int32_t form = e * 64 + ((mag * 64) >> e) + (mag == 0 ? 32 : 0);
            entry[dql + 2048] = static_cast<uint32_t>(mag) | static_cast<uint32_t>(form) << 16;
        }
    }
};
inline constexpr InverseQuantizerTable kInverseQuantizer{};

// The magnitude of DQ (low 16 bits) and its positive floating form (high 16
// bits) for a log magnitude DQLN(I) + Y/4.
VELKORIX_ALWAYS_INLINE uint32_t InverseQuantize(int32_t dqln, int32_t y) {
    const int32_t dql = dqln + (y >> 2);  // -1912..1653: no 16-bit wrap
    return kInverseQuantizer.entry[(dql + 2048) & 4095];
}

// The values one coded sample leaves for the adaptation.
struct Sample {
    int code;
    bool negative;  // sign of DQ (the code's top bit)
    int32_t y, mag, sr, dqsez;
};

// Everything of the adaptation except the zero predictor and the histories,
// which the kernels hold in their own form: transition detection, scale
// factor, pole predictor, tone detector and speed control. `w32` and `f512`
// are the rate's W(I) x 32 and F(I) x 512 by code (16- or 32-bit entries).
// Returns TR; on a transition the caller clears the zero predictor
// coefficients.
template <class Entry>
VELKORIX_ALWAYS_INLINE bool AdaptScalars(Registers &r, const Entry *w32, const Entry *f512, const Sample &s) {
    const int32_t pk0 = s.dqsez < 0 ? 1 : 0;

    // Transition detection from the old YL.
    bool tr = false;
    if (r.td != 0) {
        const int32_t ylint = r.yl >> 15;
        const int32_t ylfrac = (r.yl >> 10) & 31;
        const int32_t thr1 = S16((32 + ylfrac) << ylint);
        const int32_t thr2 = ylint > 9 ? 31744 : thr1;
        const int32_t dqthr = (thr2 + (thr2 >> 1)) >> 1;
        tr = s.mag > dqthr;
    }

    // Scale factor adaptation.
    int32_t yu = s.y + ((w32[s.code] - s.y) >> 5);
    yu = yu < 544 ? 544 : yu > 5120 ? 5120 : yu;
    r.yu = yu;
    r.yl = r.yl + yu + ((-r.yl) >> 6);

    // Pole predictor, without branches on the signs (they are random).
    int32_t a2p = 0;
    if (tr) {
        r.a1 = r.a2 = 0;
    } else {
        const int32_t pks1 = pk0 ^ r.pk1;
        const int32_t moving = s.dqsez != 0 ? -1 : 0;  // the sign terms apply only when DQSEZ is not 0
        const int32_t fa1 = pks1 ? r.a1 : -r.a1;
        // FA1 / 32 limited to -256..255 is the recommendation's three-way choice.
        int32_t fa1Term = fa1 >> 5;
        fa1Term = fa1Term < -256 ? -256 : fa1Term > 255 ? 255 : fa1Term;
        // Both limit branches of the recommendation are one clamp of A2P -/+ 128.
        int32_t a2m = r.a2 - (r.a2 >> 7) + fa1Term + 128 - ((pk0 ^ r.pk2) << 8);
        a2m = a2m < -12288 ? -12288 : a2m > 12288 ? 12288 : a2m;
        a2p = moving ? a2m : r.a2 - (r.a2 >> 7);
        r.a2 = a2p;
        const int32_t a1 = r.a1 - (r.a1 >> 8) + ((pks1 ? -192 : 192) & moving);
        const int32_t a1ul = 15360 - a2p;
        r.a1 = a1 < -a1ul ? -a1ul : a1 > a1ul ? a1ul : a1;
    }

    r.pk2 = r.pk1;
    r.pk1 = pk0;
    r.td = tr ? 0 : (a2p < -11776 ? 1 : 0);

    // Speed control.
    const int32_t fi = f512[s.code];
    r.dms = r.dms + ((fi - r.dms) >> 5);
    r.dml = r.dml + ((fi * 4 - r.dml) >> 7);
    if (tr) {
        r.ap = 256;
    } else {
        const int32_t spread = r.dms * 4 - r.dml;
        const int32_t absSpread = spread < 0 ? -spread : spread;
        const bool fast = (s.y < 1536) | (r.td == 1) | (absSpread >= (r.dml >> 3));
        r.ap = r.ap + (((static_cast<int32_t>(fast) << 9) - r.ap) >> 4);  // towards 512 or 0
    }
    return tr;
}

// The signal estimate of the portable kernels: SEZ and SE.
struct Estimate {
    int32_t sez, se;
};

VELKORIX_ALWAYS_INLINE Estimate EstimatePortable(const Registers &r) {
    int32_t zeros = 0;
    for (int k = 0; k < 6; ++k) zeros += FMult(r.b[k] >> 2, r.dq[k]);
    const int32_t sezi = S16(zeros);
    const int32_t sei = S16(sezi + FMult(r.a2 >> 2, r.sr2) + FMult(r.a1 >> 2, r.sr1));
    return {sezi >> 1, sei >> 1};
}

// Reconstruction from the signal estimate and the inverse quantizer's answer.
VELKORIX_ALWAYS_INLINE Sample Reconstruct(int code, bool negative, int32_t y, uint32_t quantized, Estimate e) {
    Sample s;
    s.code = code;
    s.negative = negative;
    s.y = y;
    s.mag = static_cast<int32_t>(quantized & 0xFFFF);
    s.sr = S16(negative ? e.se - s.mag : e.se + s.mag);
    s.dqsez = S16((negative ? -s.mag : s.mag) + e.sez);  // SR - SE + SEZ, without waiting for SE
    return s;
}

// The zero predictor update and the history shift of the portable kernels;
// `leak` is 8 (the zero coefficients leak by 2^-8), or 9 at 40 kbit/s.
VELKORIX_ALWAYS_INLINE void AdaptHistoryPortable(Registers &r, const Sample &s, uint32_t quantized, bool tr, int leak) {
    if (tr) {
        for (int k = 0; k < 6; ++k) r.b[k] = 0;
    } else {
        // Towards the sign agreement of DQ with each DQk.
        const int32_t signDq = s.negative ? -1 : 0;
        for (int k = 0; k < 6; ++k) {
            const int32_t agree = (signDq ^ r.dq[k]) >> 31;  // 0 when the signs agree, else -1
            const int32_t step = s.mag != 0 ? (128 ^ agree) - agree : 0;
            r.b[k] = S16(r.b[k] - (r.b[k] >> leak) + step);
        }
    }
    for (int k = 5; k > 0; --k) r.dq[k] = r.dq[k - 1];
    r.dq[0] = static_cast<int32_t>(quantized >> 16) - (static_cast<int32_t>(s.negative) << 10);
    r.sr2 = r.sr1;
    r.sr1 = SignalForm(s.sr);
}

// The predictor in general-purpose registers. The AVX2 predictors of
// g726/avx2.h have the same interface: Load and Store move the parts they
// hold in vector registers, Predict gives SEZ and SE, Adapt updates the zero
// predictor and shifts the histories. g726/steps.h runs a sample through
// any of them.
struct PortablePredictor {
    VELKORIX_ALWAYS_INLINE void Load(const Registers &) {}
    VELKORIX_ALWAYS_INLINE void Store(Registers &) const {}
    VELKORIX_ALWAYS_INLINE Estimate Predict(const Registers &r) const { return EstimatePortable(r); }
    VELKORIX_ALWAYS_INLINE void Adapt(Registers &r, const Sample &s, uint32_t quantized, bool tr, int leak) {
        AdaptHistoryPortable(r, s, quantized, tr, leak);
    }
};

// The zero predictor coefficients leak by 2^-8, and by 2^-9 at 40 kbit/s
// (5-bit codewords).
template <int Width>
inline constexpr int kZeroLeak = Width == 5 ? 9 : 8;

// Writes one 16-bit sample; the output need not be 2-byte aligned (it may be
// a media sample buffer).
VELKORIX_ALWAYS_INLINE void PutSample(int16_t *output, std::size_t index, int32_t sample) {
    const auto value = static_cast<int16_t>(sample);
    std::memcpy(reinterpret_cast<unsigned char *>(output) + 2 * index, &value, 2);
}

}  // namespace velkorix::g726
