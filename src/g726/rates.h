// The per-rate tables of ITU-T G.726 (16, 24, 32 and 40 kbit/s: 2, 3, 4 and
// 5 bits per codeword), and the forms the coders use them in, derived at
// compile time.
#pragma once

#include <cstdint>

namespace velkorix::g726 {

// Per-rate tables of ITU-T G.726, indexed by the full codeword I (sign
// included) except the decision levels, which bound the magnitude intervals
// of the normalized log difference (7 fractional bits). Units are the
// Recommendation's: DQLN with 7 fractional bits (-2048: zero difference),
// W(I) with 4 fractional bits, F(I) whole.
inline constexpr int16_t kDecision16[] = {261};
inline constexpr int16_t kDqln16[] = {116, 365, 365, 116};
inline constexpr int16_t kW16[] = {-22, 439, 439, -22};
inline constexpr int16_t kF16[] = {0, 7, 7, 0};

inline constexpr int16_t kDecision24[] = {8, 218, 331};
inline constexpr int16_t kDqln24[] = {-2048, 135, 273, 373, 373, 273, 135, -2048};
inline constexpr int16_t kW24[] = {-4, 30, 137, 582, 582, 137, 30, -4};
inline constexpr int16_t kF24[] = {0, 1, 2, 7, 7, 2, 1, 0};

inline constexpr int16_t kDecision32[] = {-124, 80, 178, 246, 300, 349, 400};
inline constexpr int16_t kDqln32[] = {-2048, 4,   135, 213, 273, 323, 373, 425,
                               425,   373, 323, 273, 213, 135, 4,   -2048};
inline constexpr int16_t kW32[] = {-12, 18, 41, 64, 112, 198, 355, 1122, 1122, 355, 198, 112, 64, 41, 18, -12};
inline constexpr int16_t kF32[] = {0, 0, 0, 1, 1, 1, 3, 7, 7, 3, 1, 1, 1, 0, 0, 0};

inline constexpr int16_t kDecision40[] = {-122, -16, 68, 139, 198, 250, 298, 339, 378, 413, 445, 475, 502, 528, 553};
inline constexpr int16_t kDqln40[] = {-2048, -66, 28,  104, 169, 224, 274, 318, 358, 395, 429, 459, 488, 514, 539, 566,
                               566,   539, 514, 488, 459, 429, 395, 358, 318, 274, 224, 169, 104, 28,  -66, -2048};
inline constexpr int16_t kW40[] = {14,  14,  24,  39,  40,  41,  58,  100, 141, 179, 219, 280, 358, 440, 529, 696,
                            696, 529, 440, 358, 280, 219, 179, 141, 100, 58,  41,  40,  39,  24,  14,  14};
inline constexpr int16_t kF40[] = {0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 2, 3, 4, 5, 6, 6,
                            6, 6, 5, 4, 3, 2, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};

// The tables of one rate as the coders use them: W(I) x 32 and
// F(I) x 512 (the scales of YU and DMS), and the quantizer's decision as a
// lookup from the normalized log difference DLN (index DLN + 2048; DLN lies
// within -1280..1919) to the magnitude interval m (0..levels, low byte) and
// DQLN of that interval (upper 16 bits; the table is the same for both signs
// and for the all-ones codeword of the smallest interval).
struct RateTables {
    int16_t dqln[32];
    int32_t w32[32];  // 1122 x 32 does not fit 16 bits
    int32_t f512[32];
    int32_t interval[4096];
};

constexpr RateTables MakeRateTables(int width, const int16_t *decision, int levels, const int16_t *dqln,
                                    const int16_t *w, const int16_t *f) {
    RateTables k{};
    for (int i = 0; i < (1 << width); ++i) {
        k.dqln[i] = dqln[i];
        k.w32[i] = w[i] * 32;
        k.f512[i] = f[i] * 512;
    }
    for (int dln = -2048; dln < 2048; ++dln) {
        int magnitude = 0;
        while (magnitude < levels && dln >= decision[magnitude]) ++magnitude;
        k.interval[dln + 2048] = magnitude | dqln[magnitude] * 65536;
    }
    return k;
}

inline constexpr RateTables kRate16 = MakeRateTables(2, kDecision16, 1, kDqln16, kW16, kF16);
inline constexpr RateTables kRate24 = MakeRateTables(3, kDecision24, 3, kDqln24, kW24, kF24);
inline constexpr RateTables kRate32 = MakeRateTables(4, kDecision32, 7, kDqln32, kW32, kF32);
inline constexpr RateTables kRate40 = MakeRateTables(5, kDecision40, 15, kDqln40, kW40, kF40);

// The tables of the rate with `Width`-bit codewords (2..5).
template <int Width>
constexpr const RateTables &RateOf() {
    static_assert(Width >= 2 && Width <= 5, "G.726 codewords have 2 to 5 bits");
    if constexpr (Width == 2)
        return kRate16;
    else if constexpr (Width == 3)
        return kRate24;
    else if constexpr (Width == 4)
        return kRate32;
    else
        return kRate40;
}

}  // namespace velkorix::g726
