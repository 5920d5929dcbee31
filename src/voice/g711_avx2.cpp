// AVX2 expansion of G.711 codes: sixteen codes at a time by the arithmetic
// of the expansion tables (segment, mantissa and sign of each code), bit for
// bit the table's values (the tests compare them on every code).
#include "voice/g711_kernel.h"

#if VELKORIX_X86_KERNELS

#include <immintrin.h>

namespace velkorix::voice {
namespace {

// Sixteen 8-bit codes, zero-extended to 16-bit lanes, to their 16-bit values.
template <G711Law law>
VELKORIX_TARGET_AVX2 VELKORIX_ALWAYS_INLINE __m256i Expand(__m256i u) {
    // Per segment s (0..7), as bytes for the shuffles; the high byte of each
    // 16-bit control is 0x80, which gives 0 there.
    if constexpr (law == G711Law::Mu) {
        // Codes are bit-inverted; magnitude ((2m + 33) << s) - 33 on the
        // 14-bit scale, times 4; negative when bit 7 of the inverted code is set.
        const __m256i c = _mm256_xor_si256(u, _mm256_set1_epi16(0xFF));
        const __m256i segment = _mm256_and_si256(_mm256_srli_epi16(c, 4), _mm256_set1_epi16(7));
        const __m256i mantissa = _mm256_and_si256(c, _mm256_set1_epi16(15));
        const __m256i powers = _mm256_setr_epi8(1, 2, 4, 8, 16, 32, 64, static_cast<char>(128), 0, 0, 0, 0, 0, 0, 0, 0,
                                                1, 2, 4, 8, 16, 32, 64, static_cast<char>(128), 0, 0, 0, 0, 0, 0, 0, 0);
        const __m256i scale = _mm256_shuffle_epi8(powers, _mm256_or_si256(segment, _mm256_set1_epi16(static_cast<short>(0x8000))));
        const __m256i base = _mm256_add_epi16(_mm256_slli_epi16(mantissa, 1), _mm256_set1_epi16(33));
        const __m256i magnitude = _mm256_sub_epi16(_mm256_mullo_epi16(base, scale), _mm256_set1_epi16(33));
        // +1 for codes with bit 7 set (positive), -1 otherwise.
        const __m256i sign = _mm256_sub_epi16(_mm256_and_si256(_mm256_srli_epi16(u, 6), _mm256_set1_epi16(2)),
                                              _mm256_set1_epi16(1));
        return _mm256_sign_epi16(_mm256_slli_epi16(magnitude, 2), sign);
    } else {
        // Even bits inverted; magnitude 2m + 1 in segment 0, else
        // (2m + 33) << (s - 1), on the 13-bit scale, times 8; positive when
        // bit 7 of the code (after the inversion) is set.
        const __m256i c = _mm256_xor_si256(u, _mm256_set1_epi16(0x55));
        const __m256i segment = _mm256_and_si256(_mm256_srli_epi16(c, 4), _mm256_set1_epi16(7));
        const __m256i mantissa = _mm256_and_si256(c, _mm256_set1_epi16(15));
        const __m256i control = _mm256_or_si256(segment, _mm256_set1_epi16(static_cast<short>(0x8000)));
        const __m256i powers = _mm256_setr_epi8(1, 1, 2, 4, 8, 16, 32, 64, 0, 0, 0, 0, 0, 0, 0, 0,
                                                1, 1, 2, 4, 8, 16, 32, 64, 0, 0, 0, 0, 0, 0, 0, 0);
        const __m256i offsets = _mm256_setr_epi8(1, 33, 33, 33, 33, 33, 33, 33, 0, 0, 0, 0, 0, 0, 0, 0,
                                                 1, 33, 33, 33, 33, 33, 33, 33, 0, 0, 0, 0, 0, 0, 0, 0);
        const __m256i base = _mm256_add_epi16(_mm256_slli_epi16(mantissa, 1), _mm256_shuffle_epi8(offsets, control));
        const __m256i magnitude = _mm256_mullo_epi16(base, _mm256_shuffle_epi8(powers, control));
        const __m256i sign = _mm256_sub_epi16(_mm256_and_si256(_mm256_srli_epi16(c, 6), _mm256_set1_epi16(2)),
                                              _mm256_set1_epi16(1));
        return _mm256_sign_epi16(_mm256_slli_epi16(magnitude, 3), sign);
    }
}

template <G711Law law>
VELKORIX_TARGET_AVX2 int Decode(const uint8_t *payload, int count, int16_t *pcm) {
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m256i u = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(payload + i)));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(pcm + i), Expand<law>(u));
    }
    return i;
}

}  // namespace

VELKORIX_TARGET_AVX2 int G711ExpandAvx2(G711Law law, const uint8_t *payload, int count, int16_t *pcm) {
    return law == G711Law::A ? Decode<G711Law::A>(payload, count, pcm) : Decode<G711Law::Mu>(payload, count, pcm);
}

}  // namespace velkorix::voice

#endif
