// AVX2 kernel of the G.726 24 kbit/s stream decoder: the six zero-predictor
// products of a sample in one 8-lane block and the two pole products in a
// 4-lane block, the zero predictor update and the histories in vector
// registers, the rest as in the portable kernel. Bit for bit the same as the
// portable kernel (the tests compare the two).
#include "g726_stream/g726_stream_core.h"

#if VELKORIX_X86_KERNELS

#include <immintrin.h>

namespace velkorix::g726s {
namespace {

// The six zero-predictor products of a sample in one 8-lane block:
//   lane     0    1    2    3    4    5    6    7
//   coef     B1   B2   B3   B4   B5   B6   0    0
//   hist     DQ1  DQ2  DQ3  DQ4  DQ5  DQ6  0    0
// Lanes 6 and 7 stay zero and their product is 0 (see Products). The pole
// products have a block of their own: the pole coefficients come out of
// scalar code every sample, and with them in the same register the zero
// products (and so SEZ, the sign PK0 and the next pole coefficients) would
// wait for them; apart, the chains from one sample to the next stay short.

// The FMULT products, lane by lane (see FMult for the arithmetic).
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

// The two pole products, lanes 0 and 1 of a 4-lane block: A1 x SR1 and A2 x SR2.
VELKORIX_TARGET_AVX2 VELKORIX_ALWAYS_INLINE __m128i PoleProducts(__m128i coef, __m128i hist) {
    const __m128i an = _mm_srai_epi32(coef, 2);
    const __m128i anmag = _mm_and_si128(_mm_abs_epi32(an), _mm_set1_epi32(0x1FFF));
    const __m128i biased = _mm_srli_epi32(_mm_castps_si128(_mm_cvtepi32_ps(anmag)), 23);
    const __m128i width = _mm_max_epi32(_mm_sub_epi32(biased, _mm_set1_epi32(126)), _mm_setzero_si128());
    const __m128i anmant = _mm_or_si128(_mm_srlv_epi32(_mm_slli_epi32(anmag, 6), width), _mm_set1_epi32(32));
    const __m128i product = _mm_mullo_epi16(anmant, _mm_and_si128(hist, _mm_set1_epi32(63)));
    const __m128i wanmant = _mm_srli_epi32(_mm_add_epi32(product, _mm_set1_epi32(48)), 4);
    const __m128i shift = _mm_sub_epi32(_mm_sub_epi32(_mm_set1_epi32(38), width),
                                        _mm_and_si128(_mm_srai_epi32(hist, 6), _mm_set1_epi32(15)));
    const __m128i r =
        _mm_and_si128(_mm_srlv_epi32(_mm_slli_epi32(wanmant, 19), shift), _mm_set1_epi32(0x7FFF));
    return _mm_sign_epi32(r, _mm_or_si128(_mm_xor_si128(an, hist), _mm_set1_epi32(1)));
}

}  // namespace

VELKORIX_TARGET_AVX2 void DecodeGroupsAvx2(G726StreamDecoder &d, const uint8_t *input, int32_t groups,
                                           int16_t *output) {
    Registers r = Load(d);
    __m256i coef = _mm256_setr_epi32(r.b[0], r.b[1], r.b[2], r.b[3], r.b[4], r.b[5], 0, 0);
    __m256i hist = _mm256_setr_epi32(r.dq[0], r.dq[1], r.dq[2], r.dq[3], r.dq[4], r.dq[5], 0, 0);
    const __m256i historyShift = _mm256_setr_epi32(0, 0, 1, 2, 3, 4, 6, 7);  // DQk to DQk+1, zero lanes stay
    const __m256i zeroLanes = _mm256_setr_epi32(-1, -1, -1, -1, -1, -1, 0, 0);
    __m128i poleHist = _mm_setr_epi32(r.sr1, r.sr2, 0, 0);

    std::size_t written = 0;
    for (int32_t g = 0; g < groups; ++g, input += 3) {
        const uint32_t group = static_cast<uint32_t>(input[0]) | static_cast<uint32_t>(input[1]) << 8 |
                               static_cast<uint32_t>(input[2]) << 16;
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC unroll 8
#endif
        for (int k = 0; k < 8; ++k) {
            const int code = static_cast<int>(group >> (3 * k)) & 7;

            // Signal estimate: the six zero products summed across the
            // lanes, then the two pole products.
            const __m256i p = Products(coef, hist);
            __m128i sum = _mm_add_epi32(_mm256_castsi256_si128(p), _mm256_extracti128_si256(p, 1));
            sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0x4E));
            sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0xB1));
            const int32_t sezi = S16(_mm_cvtsi128_si32(sum));
            const int32_t sez = sezi >> 1;
            const __m128i poles = PoleProducts(_mm_insert_epi32(_mm_cvtsi32_si128(r.a1), r.a2, 1), poleHist);
            const int32_t poleSum = _mm_cvtsi128_si32(_mm_add_epi32(poles, _mm_shuffle_epi32(poles, 0x55)));
            const int32_t se = S16(sezi + poleSum) >> 1;

            Sample s;
            s.code = code;
            s.negative = (code & 4) != 0;
            s.y = ScaleFactor(r);
            const uint32_t quantized = InverseQuantize(d, code, s.y);
            s.mag = static_cast<int32_t>(quantized & 0xFFFF);
            s.sr = S16(s.negative ? se - s.mag : se + s.mag);
            s.dqsez = S16((s.negative ? -s.mag : s.mag) + sez);  // SR - SE + SEZ, without waiting for SE

            if (AdaptScalars(r, d, s)) {
                coef = _mm256_setzero_si256();
            } else {
                // Zero predictor: leak, then step by 128 towards the sign
                // agreement of DQ with each DQk (none when DQ is zero).
                const int32_t step = (128 - ((code & 4) << 6)) & -static_cast<int32_t>(s.mag != 0);
                const __m256i towards = _mm256_and_si256(
                    _mm256_sign_epi32(_mm256_set1_epi32(step), _mm256_or_si256(hist, _mm256_set1_epi32(1))),
                    zeroLanes);
                const __m256i b = _mm256_add_epi32(_mm256_sub_epi32(coef, _mm256_srai_epi32(coef, 8)), towards);
                coef = _mm256_srai_epi32(_mm256_slli_epi32(b, 16), 16);  // to 16 bits
            }

            // Histories: the new form of DQ enters lane 0.
            const int32_t dqForm = static_cast<int32_t>(quantized >> 16) - ((code & 4) << 8);  // minus 1024 if negative
            hist = _mm256_blend_epi32(_mm256_permutevar8x32_epi32(hist, historyShift),
                                      _mm256_castsi128_si256(_mm_cvtsi32_si128(dqForm)), 0x01);
            // SR1 and SR2 in lanes 0 and 1 (lanes 2 and 3 are not summed).
            poleHist = _mm_unpacklo_epi32(_mm_cvtsi32_si128(SignalForm(s.sr)), poleHist);

            Put(output, written++, S16(s.sr * 4));
        }
    }

    // Unaligned stores: 64-bit Windows compilers do not align the stack to 32 bytes.
    int32_t lanes[8];
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(lanes), coef);
    for (int k = 0; k < 6; ++k) r.b[k] = lanes[k];
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(lanes), hist);
    for (int k = 0; k < 6; ++k) r.dq[k] = lanes[k];
    r.sr1 = _mm_cvtsi128_si32(poleHist);
    r.sr2 = _mm_extract_epi32(poleHist, 1);
    Store(r, d);
}

}  // namespace velkorix::g726s

#endif
