// Excitation of one 40-sample subframe: pitch delay with parity concealment,
// the adaptive codebook with 1/3-sample interpolation, the algebraic fixed
// codebook with pitch sharpening, and the gains with MA-predicted energy.
#include <cmath>
#include <cstring>

#include "g729/g729_decoder.h"
#include "g729/g729_dsp.h"
#include "g729/g729_tables.h"

namespace velkorix::g729 {

namespace {

constexpr int L = kG729SubframeSamples;
constexpr int kTaps = 10;                    // interpolation taps on each side
constexpr float kSharpMax = 0.7945f;
constexpr float kSharpMin = 0.2f;
constexpr double kMeanEnergy = 36.0;         // dB, mean fixed-codebook energy
constexpr float kEnergyFloor = 0.01f;        // keeps the logarithm finite for a silent code

// 20 log10 of every fixed-gain correction factor of the two gain codebooks,
// computed once: the factor depends only on the pair of rows.
float CorrectionDb(int32_t i1, int32_t i2) {
    struct Table {
        float db[8][16];
        Table() {
            for (int a = 0; a < 8; ++a)
                for (int b = 0; b < 16; ++b)
                    db[a][b] = static_cast<float>(
                        20.0 * std::log10(static_cast<double>(kGbk1[a][1] + kGbk2[b][1])));
        }
    };
    static const Table table;
    return table.db[i1][i2];
}

}  // namespace

G729PitchDelay G729DecodePitchDelay1(int32_t index, int32_t parityError, int32_t previousPitchLag) {
    if (parityError) return {previousPitchLag, 0};
    index &= 0xFF;
    if (index < 197) {
        // Delays 19 1/3 .. 84 2/3 in thirds.
        const int32_t q = (index + 2) / 3;
        return {q + 19, index - 3 * q + 1};
    }
    return {index - 112, 0};  // whole delays 85 .. 143
}

G729PitchDelay G729DecodePitchDelay2(int32_t index, int32_t firstLag) {
    index &= 0x1F;
    // A window of ten whole delays (in thirds) around subframe 1's delay.
    int32_t tmin = firstLag - 5;
    if (tmin < kG729MinPitchLag) tmin = kG729MinPitchLag;
    if (tmin + 9 > kG729MaxPitchLag) tmin = kG729MaxPitchLag - 9;
    const int32_t k = (index + 2) / 3 - 1;
    return {tmin + k, index - 2 - 3 * k};
}

void G729AdaptiveCodebook(float *exc, G729PitchDelay delay) {
    // A fraction of -1/3 is taken as +2/3 one sample further back.
    int f = -delay.fraction;
    int32_t lag = delay.integer;
    if (f < 0) {
        f += 3;
        ++lag;
    }
    // The two half filters as one 20-tap filter over base[n-9 .. n+10], where
    // base = exc - lag: weight j < 10 belongs to base[n-9+j] on the past
    // side, weight j >= 10 to the future side.
    float w[2 * kTaps];
    for (int i = 0; i < kTaps; ++i) {
        w[kTaps - 1 - i] = kInter3l[f + 3 * i];
        w[kTaps + i] = kInter3l[3 - f + 3 * i];
    }
    const float *base = exc - lag;
    // Output n reads base[n-9 .. n+10], which for short delays reaches into
    // this subframe. In blocks of 8 outputs whose inputs all precede the block
    // (lag >= 18: every delay the decoder produces) each block is a plain FIR
    // over finished samples, computed tap by tap with the 8 outputs side by
    // side in two 4-lane vectors.
    constexpr int kBlock = 8;
    if (lag >= kBlock + kTaps) {
        for (int n0 = 0; n0 < L; n0 += kBlock) {
            const float *x = base + n0 - (kTaps - 1);
#if defined(__GNUC__)
            Float4 lo = {}, hi = {};
            for (int j = 0; j < 2 * kTaps; ++j) {
                lo += w[j] * LoadFloat4(x + j);
                hi += w[j] * LoadFloat4(x + j + 4);
            }
            StoreFloat4(exc + n0, lo);
            StoreFloat4(exc + n0 + 4, hi);
#else
            float acc[kBlock] = {};
            for (int j = 0; j < 2 * kTaps; ++j)
                for (int n = 0; n < kBlock; ++n) acc[n] += w[j] * x[n + j];
            std::memcpy(exc + n0, acc, sizeof(acc));
#endif
        }
        return;
    }
    // Shorter delays (only reached by direct calls): sample by sample, each
    // one stored before the next is computed.
    for (int n = 0; n < L; ++n) {
        const float *x = base + n - (kTaps - 1);
        float acc = 0.0f;
        for (int j = 0; j < 2 * kTaps; ++j) acc += w[j] * x[j];
        exc[n] = acc;
    }
}

void G729FixedCodebook(int32_t positions, int32_t signs, float code[L]) {
    for (int n = 0; n < L; ++n) code[n] = 0.0f;
    const int pos[4] = {
        5 * (positions & 7),
        5 * ((positions >> 3) & 7) + 1,
        5 * ((positions >> 6) & 7) + 2,
        5 * ((positions >> 10) & 7) + ((positions >> 9) & 1) + 3,
    };
    for (int k = 0; k < 4; ++k) code[pos[k]] = ((signs >> k) & 1) ? 1.0f : -1.0f;
}

void G729DecodeSubframeExcitation(G729Decoder *d, int subframe, float *codeOut, float bound) {
    const int32_t *p = d->params;
    const int32_t pitchIndex = subframe == 0 ? p[2] : p[7];
    const int32_t positions = subframe == 0 ? p[4] : p[8];
    const int32_t signs = subframe == 0 ? p[5] : p[9];
    const int32_t gainIndex = subframe == 0 ? p[6] : p[10];

    // 1. Pitch delay.
    G729PitchDelay delay;
    if (subframe == 0) {
        delay = G729DecodePitchDelay1(pitchIndex, p[3], d->previousPitchLag);
    } else {
        delay = G729DecodePitchDelay2(pitchIndex, d->pitchLags[0]);
        d->previousPitchLag = delay.integer;
    }
    d->pitchLags[subframe] = delay.integer;

    // 2. Adaptive codebook over this subframe's excitation.
    float *exc = d->excitationHistory + kG729ExcitationPast + L * subframe;
    G729AdaptiveCodebook(exc, delay);

    // 3-4. Fixed codebook, sharpened with the previous subframe's factor.
    float code[L];
    G729FixedCodebook(positions, signs, code);
    const float sharp = d->sharpness;
    for (int n = delay.integer; n < L; ++n) code[n] += sharp * code[n - delay.integer];

    // 5. Gains.
    const int32_t i1 = kImap1[(gainIndex >> 4) & 7];
    const int32_t i2 = kImap2[gainIndex & 15];
    const float gainPitch = kGbk1[i1][0] + kGbk2[i2][0];
    const float correction = kGbk1[i1][1] + kGbk2[i2][1];
    float energy = kEnergyFloor;
    for (int n = 0; n < L; ++n) energy += code[n] * code[n];
    // Predicted gain 10^(P/20) with P = 36 - 10 log10(E/40) + sum pred[k] q[k],
    // taken as 10^((36 + sum)/20) / sqrt(E/40): one power instead of a
    // logarithm and a power.
    const float *q = d->pastQuantEnergy;
    const float *pred = kGainPrediction;
    const float history = pred[0] * q[0] + pred[1] * q[1] + pred[2] * q[2] + pred[3] * q[3];
    const double predictedGain = std::pow(10.0, (kMeanEnergy + static_cast<double>(history)) / 20.0) /
                                 std::sqrt(static_cast<double>(energy) / L);
    const float gainCode = correction * static_cast<float>(predictedGain);
    d->pastQuantEnergy[3] = d->pastQuantEnergy[2];
    d->pastQuantEnergy[2] = d->pastQuantEnergy[1];
    d->pastQuantEnergy[1] = d->pastQuantEnergy[0];
    d->pastQuantEnergy[0] = CorrectionDb(i1, i2);
    d->gainPitch = gainPitch;
    d->gainCode = gainCode;

    // 6. Sharpening factor for the next subframe.
    float s = gainPitch;
    if (s > kSharpMax) s = kSharpMax;
    if (s < kSharpMin) s = kSharpMin;
    d->sharpness = s;

    // 7. Mix the two contributions, through the excitation guard: a sample
    // beyond the bound is set to the bound. Only a stream whose pitch gains
    // stay above 1 for many subframes gets there; below it the guard changes
    // nothing.
    for (int n = 0; n < L; ++n) {
        const float e = gainPitch * exc[n] + gainCode * code[n];
        exc[n] = e < -bound ? -bound : (e > bound ? bound : e);
    }
    if (codeOut) std::memcpy(codeOut, code, sizeof(code));
}

}  // namespace velkorix::g729
