// AVX2 form of the G.726 predictor: the six zero-predictor products of a
// sample in one 8-lane block and the two pole products in a 4-lane block, the
// zero predictor update and the histories in vector registers. Bit for bit
// the same as the portable arithmetic of g726/core.h (the tests compare the
// two). Included only by the x86 kernels, whose functions carry the AVX2
// target attribute.
#pragma once

#include "g726/core.h"

#if VELKORIX_X86_KERNELS

#include <immintrin.h>

namespace velkorix::g726 {

// The products, lane by lane (see FMult for the arithmetic); a lane whose
// coefficient and value are both zero gives 0.
VELKORIX_TARGET_AVX2 VELKORIX_ALWAYS_INLINE __m256i Products(__m256i coef, __m256i hist) {
    const __m256i an = _mm256_srai_epi32(coef, 2);
    const __m256i anmag = _mm256_and_si256(_mm256_abs_epi32(an), _mm256_set1_epi32(0x1FFF));
    // Significant bits from the exponent of the exact float conversion
    // (biased exponent 127 + width - 1; 0 for a zero magnitude).
    const __m256i biased = _mm256_srli_epi32(_mm256_castps_si256(_mm256_cvtepi32_ps(anmag)), 23);
    const __m256i width = _mm256_max_epi32(_mm256_sub_epi32(biased, _mm256_set1_epi32(126)), _mm256_setzero_si256());
    const __m256i anmant =
        _mm256_or_si256(_mm256_srlv_epi32(_mm256_slli_epi32(anmag, 6), width), _mm256_set1_epi32(32));
    // Both factors are below 64: a 16-bit multiply of the low halves is exact.
    const __m256i product = _mm256_mullo_epi16(anmant, _mm256_and_si256(hist, _mm256_set1_epi32(63)));
    const __m256i wanmant = _mm256_srli_epi32(_mm256_add_epi32(product, _mm256_set1_epi32(48)), 4);
    const __m256i shift = _mm256_sub_epi32(_mm256_sub_epi32(_mm256_set1_epi32(38), width),
                                           _mm256_and_si256(_mm256_srai_epi32(hist, 6), _mm256_set1_epi32(15)));
    // Counts of 32 and more shift everything out, as the scalar 64-bit shift
    // does; a zero lane (count 38) gives 0.
    const __m256i r = _mm256_and_si256(_mm256_srlv_epi32(_mm256_slli_epi32(wanmant, 19), shift),
                                       _mm256_set1_epi32(0x7FFF));
    // Negative where coefficient and value differ in sign; the OR with 1
    // keeps the sign operand away from zero, which would clear the lane.
    return _mm256_sign_epi32(r, _mm256_or_si256(_mm256_xor_si256(an, hist), _mm256_set1_epi32(1)));
}

// The same for four lanes.
VELKORIX_TARGET_AVX2 VELKORIX_ALWAYS_INLINE __m128i Products(__m128i coef, __m128i hist) {
    const __m128i an = _mm_srai_epi32(coef, 2);
    const __m128i anmag = _mm_and_si128(_mm_abs_epi32(an), _mm_set1_epi32(0x1FFF));
    const __m128i biased = _mm_srli_epi32(_mm_castps_si128(_mm_cvtepi32_ps(anmag)), 23);
    const __m128i width = _mm_max_epi32(_mm_sub_epi32(biased, _mm_set1_epi32(126)), _mm_setzero_si128());
    const __m128i anmant = _mm_or_si128(_mm_srlv_epi32(_mm_slli_epi32(anmag, 6), width), _mm_set1_epi32(32));
    const __m128i product = _mm_mullo_epi16(anmant, _mm_and_si128(hist, _mm_set1_epi32(63)));
    const __m128i wanmant = _mm_srli_epi32(_mm_add_epi32(product, _mm_set1_epi32(48)), 4);
    const __m128i shift = _mm_sub_epi32(_mm_sub_epi32(_mm_set1_epi32(38), width),
                                        _mm_and_si128(_mm_srai_epi32(hist, 6), _mm_set1_epi32(15)));
    const __m128i r = _mm_and_si128(_mm_srlv_epi32(_mm_slli_epi32(wanmant, 19), shift), _mm_set1_epi32(0x7FFF));
    return _mm_sign_epi32(r, _mm_or_si128(_mm_xor_si128(an, hist), _mm_set1_epi32(1)));
}

// The predictor's vector registers:
//   lane      0    1    2    3    4    5    6    7
//   zeros     B1   B2   B3   B4   B5   B6   0    0
//   history   DQ1  DQ2  DQ3  DQ4  DQ5  DQ6  0    0
//   poles     SR1  SR2  -    -                       (A1, A2 come from the scalars)
// Lanes 6 and 7 stay zero and their product is 0. The pole products have a
// block of their own: the pole coefficients come out of scalar code every
// sample, and with them in the same register the zero products (and so SEZ,
// the sign PK0 and the next pole coefficients) would wait for them; apart,
// the chains from one sample to the next stay short.
//
// With `VectorPoles` false the two pole products are scalar (SR1 and SR2
// stay in the registers): fewer instructions through the vector unit and a
// shorter path from one sample's SR to the next sample's estimate, which is
// what limits an encoder, whose codeword waits for the estimate.
template <bool VectorPoles = true>
struct VectorPredictor {
    __m256i zeros, history;
    __m128i poles;

    VELKORIX_TARGET_AVX2 VELKORIX_ALWAYS_INLINE void Load(const Registers &r) {
        zeros = _mm256_setr_epi32(r.b[0], r.b[1], r.b[2], r.b[3], r.b[4], r.b[5], 0, 0);
        history = _mm256_setr_epi32(r.dq[0], r.dq[1], r.dq[2], r.dq[3], r.dq[4], r.dq[5], 0, 0);
        if constexpr (VectorPoles) poles = _mm_setr_epi32(r.sr1, r.sr2, 0, 0);
    }

    VELKORIX_TARGET_AVX2 VELKORIX_ALWAYS_INLINE void Store(Registers &r) const {
        // Unaligned stores: 64-bit Windows compilers do not align the stack to 32 bytes.
        int32_t lanes[8];
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(lanes), zeros);
        for (int k = 0; k < 6; ++k) r.b[k] = lanes[k];
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(lanes), history);
        for (int k = 0; k < 6; ++k) r.dq[k] = lanes[k];
        if constexpr (VectorPoles) {
            r.sr1 = _mm_cvtsi128_si32(poles);
            r.sr2 = _mm_extract_epi32(poles, 1);
        }
    }

    // SEZ and SE with the pole coefficients A1, A2 of `r`.
    VELKORIX_TARGET_AVX2 VELKORIX_ALWAYS_INLINE Estimate Predict(const Registers &r) const {
        const __m256i p = Products(zeros, history);
        __m128i sum = _mm_add_epi32(_mm256_castsi256_si128(p), _mm256_extracti128_si256(p, 1));
        sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0x4E));
        sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0xB1));
        const int32_t sezi = S16(_mm_cvtsi128_si32(sum));
        int32_t poleSum;
        if constexpr (VectorPoles) {
            const __m128i pole = Products(_mm_insert_epi32(_mm_cvtsi32_si128(r.a1), r.a2, 1), poles);
            poleSum = _mm_cvtsi128_si32(_mm_add_epi32(pole, _mm_shuffle_epi32(pole, 0x55)));
        } else {
            poleSum = FMult(r.a2 >> 2, r.sr2) + FMult(r.a1 >> 2, r.sr1);
        }
        return {sezi >> 1, S16(sezi + poleSum) >> 1};
    }

    // The zero predictor update (leak by 2^-leak, then a step of 128 towards
    // the sign agreement of DQ with each DQk, none when DQ is zero) and the
    // shift of both histories.
    VELKORIX_TARGET_AVX2 VELKORIX_ALWAYS_INLINE void Adapt(Registers &r, const Sample &s, uint32_t quantized, bool tr,
                                                           int leak) {
        if (tr) {
            zeros = _mm256_setzero_si256();
        } else {
            const int32_t step = (128 - (static_cast<int32_t>(s.negative) << 8)) & -static_cast<int32_t>(s.mag != 0);
            const __m256i towards = _mm256_and_si256(
                _mm256_sign_epi32(_mm256_set1_epi32(step), _mm256_or_si256(history, _mm256_set1_epi32(1))),
                _mm256_setr_epi32(-1, -1, -1, -1, -1, -1, 0, 0));
            const __m256i leaked = _mm256_sub_epi32(zeros, _mm256_sra_epi32(zeros, _mm_cvtsi32_si128(leak)));
            const __m256i b = _mm256_add_epi32(leaked, towards);
            zeros = _mm256_srai_epi32(_mm256_slli_epi32(b, 16), 16);  // to 16 bits
        }
        const int32_t dqForm = static_cast<int32_t>(quantized >> 16) - (static_cast<int32_t>(s.negative) << 10);
        history = _mm256_blend_epi32(_mm256_permutevar8x32_epi32(history, _mm256_setr_epi32(0, 0, 1, 2, 3, 4, 6, 7)),
                                     _mm256_castsi128_si256(_mm_cvtsi32_si128(dqForm)), 0x01);
        if constexpr (VectorPoles) {
            // SR1 and SR2 in lanes 0 and 1 (lanes 2 and 3 are not summed).
            poles = _mm_unpacklo_epi32(_mm_cvtsi32_si128(SignalForm(s.sr)), poles);
        } else {
            r.sr2 = r.sr1;
            r.sr1 = SignalForm(s.sr);
        }
    }
};

// All eight products in one block, for the encoder: its codeword waits for
// the whole estimate anyway, so the pole coefficients may as well ride with
// the zero coefficients, which saves the separate pole products.
//   lane      0    1    2    3    4    5    6    7
//   coef      A1   B1   A2   B2   B3   B4   B5   B6
//   history   SR1  DQ1  SR2  DQ2  DQ3  DQ4  DQ5  DQ6
struct CombinedPredictor {
    __m256i coef, history;

    VELKORIX_TARGET_AVX2 VELKORIX_ALWAYS_INLINE void Load(const Registers &r) {
        coef = _mm256_setr_epi32(r.a1, r.b[0], r.a2, r.b[1], r.b[2], r.b[3], r.b[4], r.b[5]);
        history = _mm256_setr_epi32(r.sr1, r.dq[0], r.sr2, r.dq[1], r.dq[2], r.dq[3], r.dq[4], r.dq[5]);
    }

    VELKORIX_TARGET_AVX2 VELKORIX_ALWAYS_INLINE void Store(Registers &r) const {
        int32_t lanes[8];
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(lanes), coef);
        r.b[0] = lanes[1];
        for (int k = 1; k < 6; ++k) r.b[k] = lanes[k + 2];
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(lanes), history);
        r.sr1 = lanes[0];
        r.dq[0] = lanes[1];
        r.sr2 = lanes[2];
        for (int k = 1; k < 6; ++k) r.dq[k] = lanes[k + 2];
    }

    VELKORIX_TARGET_AVX2 VELKORIX_ALWAYS_INLINE Estimate Predict(const Registers &) const {
        const __m256i p = Products(coef, history);
        const __m128i low = _mm256_castsi256_si128(p);
        __m128i sum = _mm_add_epi32(low, _mm256_extracti128_si256(p, 1));
        sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0x4E));
        sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0xB1));
        const __m128i poles = _mm_add_epi32(low, _mm_shuffle_epi32(low, 0x4E));  // lane 0: the A1 and A2 products
        const int32_t total = _mm_cvtsi128_si32(sum);
        const int32_t sezi = S16(total - _mm_cvtsi128_si32(poles));
        return {sezi >> 1, S16(total) >> 1};
    }

    VELKORIX_TARGET_AVX2 VELKORIX_ALWAYS_INLINE void Adapt(Registers &r, const Sample &s, uint32_t quantized, bool tr,
                                                           int leak) {
        if (tr) {
            coef = _mm256_setzero_si256();
        } else {
            // The B lanes step as in VectorPredictor; lanes 0 and 2 take the
            // new pole coefficients.
            const int32_t step = (128 - (static_cast<int32_t>(s.negative) << 8)) & -static_cast<int32_t>(s.mag != 0);
            const __m256i towards =
                _mm256_sign_epi32(_mm256_set1_epi32(step), _mm256_or_si256(history, _mm256_set1_epi32(1)));
            const __m256i leaked = _mm256_sub_epi32(coef, _mm256_sra_epi32(coef, _mm_cvtsi32_si128(leak)));
            const __m256i b = _mm256_add_epi32(leaked, towards);
            const __m128i poleLanes = _mm_insert_epi32(_mm_cvtsi32_si128(r.a1), r.a2, 2);
            coef = _mm256_blend_epi32(_mm256_srai_epi32(_mm256_slli_epi32(b, 16), 16),
                                      _mm256_castsi128_si256(poleLanes), 0x05);
        }
        // The new forms of SR and DQ enter lanes 0 and 1; SR1 moves to lane 2, DQk to DQk+1.
        const int32_t dqForm = static_cast<int32_t>(quantized >> 16) - (static_cast<int32_t>(s.negative) << 10);
        const __m128i fresh = _mm_insert_epi32(_mm_cvtsi32_si128(SignalForm(s.sr)), dqForm, 1);
        history = _mm256_blend_epi32(_mm256_permutevar8x32_epi32(history, _mm256_setr_epi32(0, 0, 0, 1, 3, 4, 5, 6)),
                                     _mm256_castsi128_si256(fresh), 0x03);
    }
};

}  // namespace velkorix::g726

#endif
