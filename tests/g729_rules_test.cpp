// The decoder's individual rules, each pinned by small cases worked out by
// hand from the decoding steps (the numbers in the comments), and where a
// rule has many inputs, by a comparison with the plain model of
// g729_plain_model.h over all of them: LSP rearrangement, MA predictor
// choice, fixed-codebook positions, gain index split and maps, gain
// predictor, sharpening factor, energy floor, pitch post-filter switch and
// gains, tilt compensation, gain control, and the synthesis history.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "g729/g729_tables.h"
#include "g729_plain_model.h"
#include "g729_support.h"

namespace {

using namespace g729test;
using Model = PlainG729<float>;

struct Decoder {
    G729Decoder *d = G729Decoder_Create();
    ~Decoder() { G729Decoder_Destroy(d); }
    // Unpacks `params` into the record, as the frame driver does first.
    void Load(const int32_t (&params)[kG729ParameterCount]) {
        std::memcpy(d->inputFrame, Pack(params).data(), kG729FrameBytes);
        G729UnpackFrame(d);
    }
};

// LSP parameters: element 0 = L0 L1, element 1 = L2 L3.
int32_t LspWord0(int l0, int l1) { return l0 << 7 | l1; }
int32_t LspWord1(int l2, int l3) { return l2 << 5 | l3; }

// The rearranged codebook vector the decoder keeps as the newest row of its
// MA memory, for the indices L1, L2, L3.
std::vector<float> RearrangedVector(int l1, int l2, int l3) {
    Decoder dec;
    dec.d->params[0] = LspWord0(0, l1);
    dec.d->params[1] = LspWord1(l2, l3);
    float lsp[10];
    G729DecodeLsp(dec.d, lsp);
    return std::vector<float>(dec.d->lsfHistory[0], dec.d->lsfHistory[0] + 10);
}

// ---- LSP decoding ----

TEST(G729Rules, RearrangementFirstPassPullsNeighboursTo0_0012) {
    // L1 = 0, L2 = 0, L3 = 4: coefficients 8 and 9 are
    // 2.5867 - 0.0782 = 2.5085 and 2.6636 - 0.1583 = 2.5053 (out of order).
    // First pass at j = 9: t = (2.5085 - 2.5053 + 0.0012) / 2 = 0.0022, so
    // 2.5063 and 2.5075, now 0.0012 apart. The second pass finds
    // t = (2.5063 - 2.5075 + 0.0006) / 2 < 0 and leaves them. The rest are
    // far apart and stay the plain sums.
    const std::vector<float> v = RearrangedVector(0, 0, 4);
    const double expected[10] = {0.1814 - 0.0532, 0.2647 - 0.0995, 0.4580 - 0.0906, 1.1077 + 0.1261, 1.4813 - 0.0633,
                                 1.7022 + 0.0634, 2.1953 + 0.0356, 2.3405 + 0.0195, 2.5063,          2.5075};
    for (int j = 0; j < 10; ++j) EXPECT_NEAR(v[j], expected[j], 1e-6) << j;
}

TEST(G729Rules, RearrangementSecondPassUses0_0006) {
    // L1 = 2, L2 = 30: coefficients 0..3 are 0.3527, 0.3765, 0.3284, 0.5246.
    // First pass (0.0012): j = 1 no (t < 0); j = 2: t = (0.3765 - 0.3284 +
    // 0.0012) / 2 = 0.02465 -> 0.35185, 0.35305; j = 3 no. Coefficients 0
    // and 1 are now out of order (0.3527 > 0.35185).
    // Second pass (0.0006): j = 1: t = (0.3527 - 0.35185 + 0.0006) / 2 =
    // 0.000725 -> 0.351975, 0.352575; j = 2: t = (0.352575 - 0.35305 +
    // 0.0006) / 2 = 0.0000625 -> 0.3525125, 0.3531125.
    const std::vector<float> v = RearrangedVector(2, 30, 0);
    const double expected[4] = {0.351975, 0.3525125, 0.3531125, 0.5246};
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(v[j], expected[j], 1e-6) << j;
}

TEST(G729Rules, RearrangementOfEveryIndexCombination) {
    // All 128 x 32 x 32 index triples against the plain model; 41 329 of
    // them are changed by the first pass and 1 314 by the second.
    int firstActs = 0, secondActs = 0;
    Decoder dec;
    for (int l1 = 0; l1 < 128; ++l1) {
        for (int l2 = 0; l2 < 32; ++l2) {
            for (int l3 = 0; l3 < 32; ++l3) {
                dec.d->params[0] = LspWord0(0, l1);
                dec.d->params[1] = LspWord1(l2, l3);
                float lsp[10];
                G729DecodeLsp(dec.d, lsp);
                float plain[10], once[10], sum[10];
                Model::CodebookVector(l1, l2, l3, plain);
                for (int j = 0; j < 10; ++j) sum[j] = once[j] = g729::kLspcb1[l1][j] + g729::kLspcb2[j < 5 ? l2 : l3][j];
                Model::Rearrange(once, 0.0012f);
                bool first = false, second = false;
                for (int j = 0; j < 10; ++j) {
                    ASSERT_NEAR(dec.d->lsfHistory[0][j], plain[j], 1e-6) << l1 << " " << l2 << " " << l3 << " " << j;
                    first |= once[j] != sum[j];
                    second |= plain[j] != once[j];
                }
                firstActs += first;
                secondActs += second;
            }
        }
    }
    EXPECT_EQ(firstActs, 41329);
    EXPECT_EQ(secondActs, 1314);
}

// fg_sum of a predictor: one minus the sum of its four coefficients.
double FgSum(int mode, int j) {
    double sum = 1.0;
    for (int k = 0; k < 4; ++k) sum -= g729::kFg[mode][k][j];
    return sum;
}

TEST(G729Rules, L0ChoosesTheMaPredictor) {
    // From a fresh decoder every memory row is the reset vector R, so
    // lsf[j] = fg_sum[L0][j] buf[j] + (1 - fg_sum[L0][j]) R[j], with buf the
    // rearranged vector of L1 = 0, L2 = 0, L3 = 4 (worked out above). The two
    // predictors give different LSPs, each the one of its own fg_sum.
    const double reset[10] = {0.285599, 0.571199, 0.856798, 1.142397, 1.427997,
                              1.713596, 1.999195, 2.284795, 2.570394, 2.855993};
    const std::vector<float> buf = RearrangedVector(0, 0, 4);
    float lsps[2][10];
    for (int mode = 0; mode < 2; ++mode) {
        Decoder dec;
        dec.d->params[0] = LspWord0(mode, 0);
        dec.d->params[1] = LspWord1(0, 4);
        G729DecodeLsp(dec.d, lsps[mode]);
        double lsf[10];
        for (int j = 0; j < 10; ++j) lsf[j] = FgSum(mode, j) * buf[j] + (1.0 - FgSum(mode, j)) * reset[j];
        for (int j = 0; j < 9; ++j) ASSERT_GT(lsf[j + 1] - lsf[j], 0.0392) << "no stability step acts";
        ASSERT_GT(lsf[0], 0.005);
        ASSERT_LT(lsf[9], 3.135);
        for (int j = 0; j < 10; ++j) EXPECT_NEAR(lsps[mode][j], std::cos(lsf[j]), 2e-6) << "L0 " << mode << " lsp " << j;
    }
    double apart = 0.0;
    for (int j = 0; j < 10; ++j) apart = std::max(apart, std::fabs(static_cast<double>(lsps[0][j] - lsps[1][j])));
    EXPECT_GT(apart, 0.01);
}

TEST(G729Rules, MaPredictionWeighsEachPastFrameWithItsOwnRow) {
    // Random LSP indices, both predictors, through decoder and model side by
    // side: once the memory rows differ from each other, a predictor row
    // applied to the wrong past frame, or the wrong predictor, shows.
    Lcg rng(77);
    Decoder dec;
    auto model = std::make_unique<Model>();
    DiagnosticCapture quiet;
    int modes[2] = {};
    for (int frame = 0; frame < 400; ++frame) {
        int32_t params[11] = {};
        params[0] = static_cast<int32_t>(rng.Below(256));
        params[1] = static_cast<int32_t>(rng.Below(1024));
        ++modes[params[0] >> 7];
        dec.d->params[0] = params[0];
        dec.d->params[1] = params[1];
        float ours[10], plain[10];
        G729DecodeLsp(dec.d, ours);
        model->DecodeLsp(params, plain);
        for (int j = 0; j < 10; ++j) ASSERT_NEAR(ours[j], plain[j], 2e-6) << "frame " << frame << " lsp " << j;
        for (int k = 0; k < 4; ++k)
            for (int j = 0; j < 10; ++j) ASSERT_EQ(dec.d->lsfHistory[k][j], model->lsfHistory[k][j]) << frame;
    }
    EXPECT_GT(modes[0], 100);
    EXPECT_GT(modes[1], 100);
}

// ---- Fixed codebook ----

TEST(G729Rules, FixedCodebookFieldsGiveThePulsePositions) {
    struct Case {
        int32_t positions, signs;
        int at[4];         // pulse 0..3
        float value[4];
    };
    const Case cases[] = {
        // m0 field (bits 2-0) = 1, m1 (5-3) = 2, m2 (8-6) = 3, bit 9 = 1,
        // m3 (12-10) = 4: 1 + 16 + 192 + 512 + 4096 = 4817. Positions 5 x 1,
        // 5 x 2 + 1, 5 x 3 + 2, 5 x 4 + 1 + 3. Signs 0101: pulses 0 and 2 up.
        {4817, 0x5, {5, 11, 17, 24}, {1.0f, -1.0f, 1.0f, -1.0f}},
        // m0 = 7, m1 = 0, m2 = 5, bit 9 = 0, m3 = 2: 7 + 320 + 2048 = 2375.
        // Signs 1010: pulses 1 and 3 up.
        {2375, 0xA, {35, 1, 27, 13}, {-1.0f, 1.0f, -1.0f, 1.0f}},
        // Every field at its top: 35, 36, 37, 39; all signs up.
        {8191, 0xF, {35, 36, 37, 39}, {1.0f, 1.0f, 1.0f, 1.0f}},
        // Only bit 9: pulse 3 moves from 3 to 4.
        {512, 0x8, {0, 1, 2, 4}, {-1.0f, -1.0f, -1.0f, 1.0f}},
    };
    for (const Case &c : cases) {
        float code[kG729SubframeSamples];
        G729FixedCodebook(c.positions, c.signs, code);
        float expected[kG729SubframeSamples] = {};
        for (int k = 0; k < 4; ++k) expected[c.at[k]] = c.value[k];
        for (int n = 0; n < kG729SubframeSamples; ++n) EXPECT_EQ(code[n], expected[n]) << c.positions << " at " << n;
    }
}

// ---- Gains ----

TEST(G729Rules, GainIndexSplitsIntoGaAndGbThroughTheIndexMaps) {
    // Hand cases from the Recommendation's tables:
    //   0x5A: GA = 5 -> imap1 row 0 {0.000010, 0.185084},
    //         GB = 10 -> imap2 row 7 {0.706138, 0.146110};
    //   0x2F: GA = 2 -> row 7 {0.163457, 3.315700}, GB = 15 -> row 8 {0.809357, 0.397579};
    //   0x71: GA = 7 -> row 3 {0.003516, 0.659780}, GB = 1 -> row 14 {1.055892, 0.227186}.
    struct Case {
        int32_t index;
        double gainPitch, correction;
    };
    const Case cases[] = {{0x5A, 0.706148, 0.331194}, {0x2F, 0.972814, 3.713279}, {0x71, 1.059408, 0.886966}};
    for (const Case &c : cases) {
        Decoder dec;
        const int32_t params[kG729ParameterCount] = {0, 0, 255, GoodParity(255), 0, 0, c.index, 0, 0, 0, 0};
        dec.Load(params);
        G729DecodeSubframeExcitation(dec.d, 0);
        EXPECT_NEAR(dec.d->gainPitch, c.gainPitch, 1e-6) << c.index;
        EXPECT_NEAR(dec.d->pastQuantEnergy[0], 20.0 * std::log10(c.correction), 1e-5) << c.index;
    }
    // Every index, with the maps written out here.
    const int imap1[8] = {5, 1, 7, 4, 2, 0, 6, 3};
    const int imap2[16] = {2, 14, 3, 13, 0, 15, 1, 12, 6, 10, 7, 9, 4, 11, 5, 8};
    for (int32_t index = 0; index < 128; ++index) {
        Decoder dec;
        const int32_t params[kG729ParameterCount] = {0, 0, 255, GoodParity(255), 0, 0, index, 0, 0, 0, 0};
        dec.Load(params);
        G729DecodeSubframeExcitation(dec.d, 0);
        const int ga = index >> 4, gb = index & 15;
        const double gp = static_cast<double>(g729::kGbk1[imap1[ga]][0]) + g729::kGbk2[imap2[gb]][0];
        const double gamma = static_cast<double>(g729::kGbk1[imap1[ga]][1]) + g729::kGbk2[imap2[gb]][1];
        ASSERT_NEAR(dec.d->gainPitch, gp, 1e-6) << index;
        ASSERT_NEAR(dec.d->pastQuantEnergy[0], 20.0 * std::log10(gamma), 2e-5) << index;
    }
}

TEST(G729Rules, GainPredictorWeighsTheNewestEnergyMost) {
    // Distinct past energies q0..q3 = -2, -9, -17, -30 dB (newest first),
    // delay 143 (no sharpening), four unit pulses: E = 0.01 + 4 = 4.01.
    // P = 36 - 10 log10(4.01 / 40) + 0.68 (-2) + 0.58 (-9) + 0.34 (-17)
    //     + 0.19 (-30) = 36 + 9.98916 - 18.06 = 27.92916 dB;
    // gain index 0: gamma = 1.214512 + 0.072357 = 1.286869, so
    // gainCode = 1.286869 x 10^(27.92916 / 20) = 1.286869 x 24.9155 = 32.0630.
    Decoder dec;
    const float past[4] = {-2.0f, -9.0f, -17.0f, -30.0f};
    std::memcpy(dec.d->pastQuantEnergy, past, sizeof(past));
    const int32_t params[kG729ParameterCount] = {0, 0, 255, GoodParity(255), 0, 0, 0, 0, 0, 0, 0};
    dec.Load(params);
    G729DecodeSubframeExcitation(dec.d, 0);
    const double predicted = 36.0 - 10.0 * std::log10(4.01 / 40.0) - 18.06;
    EXPECT_NEAR(predicted, 27.92916, 1e-5);
    EXPECT_NEAR(dec.d->gainCode, 1.286869 * std::pow(10.0, predicted / 20.0), 2e-5 * 32.063);
    EXPECT_NEAR(dec.d->gainCode, 32.0630, 2e-3);
    // The memory moves on by one, newest first.
    EXPECT_NEAR(dec.d->pastQuantEnergy[0], 20.0 * std::log10(1.286869), 1e-5);
    EXPECT_EQ(dec.d->pastQuantEnergy[1], -2.0f);
    EXPECT_EQ(dec.d->pastQuantEnergy[2], -9.0f);
    EXPECT_EQ(dec.d->pastQuantEnergy[3], -17.0f);
}

TEST(G729Rules, EnergyFloorOfTheSharpenedCode) {
    // Delay 20 (P1 = 1) with the reset sharpness 0.2: the pulses -1 at 0..3
    // come back as -0.2 at 20..23, so E = 0.01 + 4 + 4 x 0.04 = 4.17.
    // P = 36 - 10 log10(4.17 / 40) - 14 (0.68 + 0.58 + 0.34 + 0.19)
    //   = 36 + 9.81924 - 25.06 = 20.75924 dB; gain index 0: gamma = 1.286869.
    Decoder dec;
    const int32_t params[kG729ParameterCount] = {0, 0, 1, GoodParity(1), 0, 0, 0, 0, 0, 0, 0};
    dec.Load(params);
    float code[kG729SubframeSamples];
    G729DecodeSubframeExcitation(dec.d, 0, code);
    ASSERT_EQ(dec.d->pitchLags[0], 20);
    EXPECT_EQ(code[20], -0.2f);
    const double predicted = 36.0 - 10.0 * std::log10(4.17 / 40.0) - 25.06;
    EXPECT_NEAR(predicted, 20.75924, 1e-5);
    EXPECT_NEAR(dec.d->gainCode, 1.286869 * std::pow(10.0, predicted / 20.0), 1e-5 * dec.d->gainCode);
}

TEST(G729Rules, SharpnessIsTheAdaptiveGainHeldTo0_2Through0_7945) {
    // Subframe 1: gain index given, delay 19 2/3 (P1 = 1, integer 20).
    // Subframe 2: P2 = 2 -> delay 20 exactly, pulses -1 at 0..3, so its code
    // holds -sharpness at 20..23: the factor left by subframe 1.
    struct Case {
        int32_t gainIndex;
        float sharpness;
    };
    // 0x05: GA 0 -> row 5 (0.197901), GB 5 -> row 15 (1.158039): 1.35594, held to 0.7945.
    // 0x5A: 0.706148, kept.  0x54: GA 5 -> row 0 (0.000010), GB 4 -> row 0 (0.050466):
    // 0.050476, raised to 0.2.
    const Case cases[] = {{0x05, 0.7945f}, {0x5A, 0.000010f + 0.706138f}, {0x54, 0.2f}};
    for (const Case &c : cases) {
        Decoder dec;
        const int32_t params[kG729ParameterCount] = {0, 0, 1, GoodParity(1), 0, 0, c.gainIndex, 2, 0, 0, 0};
        dec.Load(params);
        G729DecodeSubframeExcitation(dec.d, 0);
        EXPECT_EQ(dec.d->sharpness, c.sharpness) << c.gainIndex;
        float code[kG729SubframeSamples];
        G729DecodeSubframeExcitation(dec.d, 1, code);
        ASSERT_EQ(dec.d->pitchLags[1], 20);
        for (int n = 20; n < 24; ++n) EXPECT_EQ(code[n], -c.sharpness) << c.gainIndex << " at " << n;
    }
}

// ---- Post-filter ----

// A residual of 40 samples after 143 of past, all zero but what a case sets.
struct Residual {
    std::vector<float> buffer = std::vector<float>(kG729ResidualPast + kG729SubframeSamples, 0.0f);
    float *r = buffer.data() + kG729ResidualPast;
};

TEST(G729Rules, PitchPostFilterGainsAreCappedWhenTheCorrelationExceedsTheDelayedEnergy) {
    Lcg rng(9);
    for (int trial = 0; trial < 20; ++trial) {
        for (const double ratio : {0.5, 2.0}) {
            // r[n - 50] = ratio x r[n]: cor(50) = ratio S, Et = 0.5 + ratio^2 S,
            // E0 = 0.5 + S, with S = sum r[n]^2.
            Residual res;
            double s = 0.0;
            for (int n = 0; n < kG729SubframeSamples; ++n) {
                res.r[n] = static_cast<float>(rng.Below(2001)) - 1000.0f;
                res.r[n - 50] = static_cast<float>(ratio) * res.r[n];
                s += static_cast<double>(res.r[n]) * res.r[n];
            }
            float p[kG729SubframeSamples];
            ASSERT_EQ(G729PitchPostFilter(res.r, 47, 53, p), 50);
            // ratio 0.5: cor = 0.5 S > Et = 0.5 + 0.25 S: gains 2/3 and 1/3,
            //   p = 2/3 r + 1/3 x 0.5 r = 5/6 r.
            // ratio 2: cor = 2 S < Et = 0.5 + 4 S: g = 0.5 cor / (Et + 0.5 cor)
            //   = S / (0.5 + 5 S), p = (1 - g) r + g x 2 r = (1 + g) r.
            const double factor = ratio == 0.5 ? 5.0 / 6.0 : 1.0 + s / (0.5 + 5.0 * s);
            for (int n = 0; n < kG729SubframeSamples; ++n)
                ASSERT_NEAR(p[n], factor * res.r[n], 1e-5 * (1.0 + std::fabs(res.r[n]))) << ratio << " " << n;
        }
    }
}

TEST(G729Rules, PitchPostFilterIsOffBelowAPredictionGainOf3Db) {
    // r[n - 50] = r[n] + beta b[n] with b orthogonal to r and as strong
    // (b[2k] = r[2k+1], b[2k+1] = -r[2k]): cor = S, Et = 0.5 + (1 + beta^2) S,
    // E0 = 0.5 + S. The filter is on when cor^2 >= 0.5 Et E0, that is about
    // when 1 >= 0.5 (1 + beta^2): beta = 1.1 is below 3 dB (off, p = r),
    // beta = 0.9 above (on, g = 0.5 cor / (Et + 0.5 cor)).
    Lcg rng(10);
    for (int trial = 0; trial < 20; ++trial) {
        for (const double beta : {1.1, 0.9}) {
            Residual res;
            double s = 0.0;
            for (int n = 0; n < kG729SubframeSamples; ++n) {
                res.r[n] = static_cast<float>(rng.Below(2001)) - 1000.0f;
                s += static_cast<double>(res.r[n]) * res.r[n];
            }
            for (int n = 0; n < kG729SubframeSamples; ++n) {
                const float b = n % 2 == 0 ? res.r[n + 1] : -res.r[n - 1];
                res.r[n - 50] = res.r[n] + static_cast<float>(beta) * b;
            }
            float p[kG729SubframeSamples];
            ASSERT_EQ(G729PitchPostFilter(res.r, 47, 53, p), 50);
            const double et = 0.5 + (1.0 + beta * beta) * s;
            const double g = beta > 1.0 ? 0.0 : 0.5 * s / (et + 0.5 * s);
            for (int n = 0; n < kG729SubframeSamples; ++n)
                ASSERT_NEAR(p[n], (1.0 - g) * res.r[n] + g * res.r[n - 50], 1e-4 * (1.0 + std::fabs(res.r[n])))
                    << beta << " " << n;
        }
    }
}

// A decoder whose post-filter sees the synthesis `s` (80 samples, history
// zero), LP coefficients `a` in both subframes, and pitch delays of 143:
// the search range 137..143 reaches only the silent residual before the
// frame, so the pitch post-filter is off in both subframes (p = r).
void SetUpPostFilter(G729Decoder *d, const float a[11], const float s[80], float agcGain) {
    for (auto &row : d->lpcCoeffs) std::memcpy(row, a, sizeof(float) * 11);
    d->pitchLags[0] = d->pitchLags[1] = 143;
    std::memcpy(d->synth, s, sizeof(float) * 80);
    d->agcGain = agcGain;
}

TEST(G729Rules, GainControlMovesWithFactor0_9AndKeepsTheUnfilteredSynthesis) {
    // With A(z) = 1 every filter of the post-filter passes its input: the
    // residual is s, h = 1, 0, ... gives r1 = 0 and no tilt, and 1/A(z/0.7)
    // is 1. So Eout = Ein, g0 = 0.1 sqrt(1) = 0.1 in both subframes, and
    // from a starting gain of 0.5 the gain after sample n is
    // 0.9 gain + 0.1 = 1 - 0.5 x 0.9^(n+1): y[n] = s[n] (1 - 0.5 x 0.9^(n+1)).
    const float a[11] = {1.0f};
    Lcg rng(3);
    float s[80];
    for (float &v : s) v = static_cast<float>(rng.Below(4001)) - 2000.0f;
    Decoder dec;
    SetUpPostFilter(dec.d, a, s, 0.5f);
    G729PostFilter(dec.d);
    for (int n = 0; n < 80; ++n) {
        const double gain = 1.0 - 0.5 * std::pow(0.9, n + 1);
        ASSERT_NEAR(dec.d->synth[n], s[n] * gain, 1e-4 * (1.0 + std::fabs(s[n]))) << n;
    }
    EXPECT_NEAR(dec.d->agcGain, 1.0 - 0.5 * std::pow(0.9, 80), 1e-6);
    // The history for the next frame is the synthesis before post-filtering.
    for (int i = 0; i < 10; ++i) EXPECT_EQ(dec.d->synthHistory[i], s[70 + i]) << i;
    // The tilt filter (k = 0 here, since r1 = 0) still records its last input.
    EXPECT_EQ(dec.d->tiltMemory, s[79]);
}

TEST(G729Rules, TiltCompensationOnlyForAPositiveFirstCorrelation) {
    // a = 1, +0.9: num = 1, 0.495 and den = 1, 0.63, so
    // h = 1, -0.135, -0.135 x (-0.63), ...: every product h[i] h[i+1] is
    // negative, r1 < 0, k = 0, and p passes unchanged.
    // a = 1, -0.9: h = 1, 0.135, 0.135 x 0.63, ...: r1 > 0 and
    // k = 0.8 r1 / r0 tilts p. Both against the plain model.
    const float falling[11] = {1.0f, 0.9f}, rising[11] = {1.0f, -0.9f};
    Lcg rng(5);
    for (const float *a : {falling, rising}) {
        float s[80];
        for (float &v : s) v = static_cast<float>(rng.Below(4001)) - 2000.0f;
        Decoder dec;
        SetUpPostFilter(dec.d, a, s, 1.0f);
        dec.d->tiltMemory = 700.0f;
        auto model = std::make_unique<Model>();
        for (auto &row : model->lpc) std::memcpy(row, a, sizeof(float) * 11);
        model->trace.pitchLag[0] = model->trace.pitchLag[1] = 143;
        std::memcpy(model->synth + 10, s, sizeof(s));
        model->tiltMemory = 700.0f;
        G729PostFilter(dec.d);
        model->PostFilter();
        EXPECT_EQ(model->trace.tilt[0] == 0.0, a == falling);
        for (int n = 0; n < 80; ++n)
            ASSERT_NEAR(dec.d->synth[n], model->synth[10 + n], 1e-4 * (1.0 + std::fabs(model->synth[10 + n])))
                << (a == falling ? "falling" : "rising") << " " << n;
        EXPECT_EQ(dec.d->tiltMemory, model->tiltMemory);
    }
}

}  // namespace
