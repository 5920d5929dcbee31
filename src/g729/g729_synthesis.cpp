// From excitation to speech: the LP synthesis filter, the adaptive
// post-filter (pitch post-filter, short-term post-filter with tilt
// compensation, gain control) and the high-pass post-processing filter.
#include <cmath>
#include <cstring>

#include "g729/g729_decoder.h"
#include "g729/g729_tables.h"

namespace {

constexpr int M = kG729LpcOrder;
constexpr int L = kG729SubframeSamples;
constexpr int kImpulseLength = 22;        // samples of the truncated impulse response
constexpr float kPitchGainMax = 0.6666667f;   // 1 / (1 + 0.5)
constexpr float kPitchGainDelayed = 0.33333334f;  // 0.5 / (1 + 0.5)
constexpr float kPitchFactor = 0.5f;
constexpr float kTiltFactor = 0.8f;
constexpr float kAgcFactor = 0.9f;
constexpr float kAgcStep = 0.1f;          // 1 - 0.9
constexpr float kEnergyBias = 0.5f;       // added to both energies of the pitch post-filter

// Powers 0.55^i and 0.7^i, i = 0..10: the weightings of the post-filter's
// numerator and denominator.
constexpr float kNumWeights[M + 1] = {1.0f,        0.55f,        0.3025f,      0.166375f,
                                      0.09150625f, 0.0503284375f, 0.027680640625f, 0.01522435234375f,
                                      0.0083733937890625f, 0.004605366583984375f, 0.0025329516211914063f};
constexpr float kDenWeights[M + 1] = {1.0f,     0.7f,      0.49f,      0.343f,      0.2401f,     0.16807f,
                                      0.117649f, 0.0823543f, 0.05764801f, 0.040353607f, 0.0282475249f};

// The synthesis buffer with its history: element -10 is the first sample of
// `synthHistory`, element 0 the first of `synth`.
float *SynthWithHistory(G729Decoder *d) { return d->synthHistory + M; }

float Energy(const float *x, int n) {
    float e = 0.0f;
    for (int k = 0; k < n; ++k) e += x[k] * x[k];
    return e;
}

float Correlation(const float *x, const float *y, int n) {
    float c = 0.0f;
    for (int k = 0; k < n; ++k) c += x[k] * y[k];
    return c;
}

// Pitch post-filter of one subframe's residual r (r[-143..-1] the past) into p.
void PitchPostFilter(const float *r, int32_t tmin, int32_t tmax, float p[L]) {
    float best = -1e38f;
    int32_t t = tmin;
    for (int32_t k = tmin; k <= tmax; ++k) {
        const float c = Correlation(r, r - k, L);
        if (c > best) {  // ties keep the smaller delay
            best = c;
            t = k;
        }
    }
    const float *delayed = r - t;
    const float energyDelayed = kEnergyBias + Energy(delayed, L);
    const float energyNow = kEnergyBias + Energy(r, L);
    const float cor = best < 0.0f ? 0.0f : best;
    if (cor * cor < 0.5f * energyDelayed * energyNow) {  // prediction gain below 3 dB: off
        std::memcpy(p, r, sizeof(float) * L);
        return;
    }
    float g0, g;
    if (cor > energyDelayed) {
        g0 = kPitchGainMax;
        g = kPitchGainDelayed;
    } else {
        const float c = kPitchFactor * cor;
        g = c / (energyDelayed + c);
        g0 = 1.0f - g;
    }
    for (int n = 0; n < L; ++n) p[n] = g0 * r[n] + g * delayed[n];
}

// Tilt compensation factor from the truncated impulse response of
// A(z/0.55) / A(z/0.7).
float TiltFactor(const float num[M + 1], const float den[M + 1]) {
    float h[kImpulseLength] = {};
    std::memcpy(h, num, sizeof(float) * (M + 1));
    float zero[M] = {};
    G729AllPoleFilter(den, h, h, kImpulseLength, zero, false);
    const float r0 = Energy(h, kImpulseLength);
    const float r1 = Correlation(h, h + 1, kImpulseLength - 1);
    return r1 > 0.0f ? kTiltFactor * r1 / r0 : 0.0f;
}

}  // namespace

void G729AllPoleFilter(const float a[M + 1], const float *x, float *y, int n, float memory[M], bool updateMemory) {
    // Past outputs followed by the new ones, so the recursion reads one buffer.
    float buf[M + kG729FrameSamples];
    std::memcpy(buf, memory, sizeof(float) * M);
    float *out = buf + M;
    for (int k = 0; k < n; ++k) {
        float s = x[k];
        for (int i = 1; i <= M; ++i) s -= a[i] * out[k - i];
        out[k] = s;
    }
    std::memcpy(y, out, sizeof(float) * static_cast<std::size_t>(n));
    if (updateMemory) std::memcpy(memory, out + n - M, sizeof(float) * M);
}

void G729SynthesizeSubframe(G729Decoder *d, int subframe) {
    const float *exc = d->excitationHistory + kG729ExcitationPast + L * subframe;
    G729AllPoleFilter(d->lpcCoeffs[subframe], exc, d->synth + L * subframe, L, d->synthMemory, true);
}

void G729PostFilterDelayRange(int32_t pitchLag, int32_t *tmin, int32_t *tmax) {
    *tmin = pitchLag - 3;
    *tmax = pitchLag + 3;
    if (*tmax > kG729MaxPitchLag) {
        *tmax = kG729MaxPitchLag;
        *tmin = kG729MaxPitchLag - 6;
    }
}

void G729PostFilter(G729Decoder *d) {
    const float *synth = SynthWithHistory(d);
    float y[kG729FrameSamples];
    for (int subframe = 0; subframe < 2; ++subframe) {
        const float *a = d->lpcCoeffs[subframe];
        const float *s = synth + L * subframe;  // s[-10..-1] precede the subframe
        int32_t tmin, tmax;
        G729PostFilterDelayRange(d->pitchLags[subframe], &tmin, &tmax);

        float num[M + 1], den[M + 1];
        for (int i = 0; i <= M; ++i) {
            num[i] = a[i] * kNumWeights[i];
            den[i] = a[i] * kDenWeights[i];
        }

        // Residual of the subframe through A(z/0.55), after the kept past residual.
        float *r = d->residualHistory + kG729ResidualPast;
        float res[L];
        std::memcpy(res, s, sizeof(res));
        for (int i = 1; i <= M; ++i) {
            const float c = num[i];
            const float *si = s - i;
            for (int n = 0; n < L; ++n) res[n] += c * si[n];
        }
        std::memcpy(r, res, sizeof(res));

        float p[L];
        PitchPostFilter(r, tmin, tmax, p);

        // Tilt compensation: p[n] - k p[n-1], the first sample using the
        // previous subframe's last input.
        const float k = TiltFactor(num, den);
        float tilted[L];
        tilted[0] = p[0] - k * d->tiltMemory;
        for (int n = 1; n < L; ++n) tilted[n] = p[n] - k * p[n - 1];
        d->tiltMemory = p[L - 1];

        // Short-term post-filter 1/A(z/0.7).
        float *out = y + L * subframe;
        G729AllPoleFilter(den, tilted, out, L, d->postSynthMemory, true);

        // Gain control towards the energy of the unfiltered synthesis.
        const float energyOut = Energy(out, L);
        if (energyOut == 0.0f) {
            d->agcGain = 0.0f;
        } else {
            const float energyIn = Energy(s, L);
            const float g0 = energyIn == 0.0f ? 0.0f : kAgcStep * std::sqrt(energyIn / energyOut);
            float gain = d->agcGain;
            for (int n = 0; n < L; ++n) {
                gain = kAgcFactor * gain + g0;
                out[n] *= gain;
            }
            d->agcGain = gain;
        }

        std::memmove(d->residualHistory, d->residualHistory + L, sizeof(float) * kG729ResidualPast);
    }
    std::memcpy(d->synthHistory, d->synth + kG729FrameSamples - M, sizeof(float) * M);
    std::memcpy(d->synth, y, sizeof(y));
}

float G729HighPass(G729Decoder *d, float x) {
    const float out = g729::kB100[0] * x + g729::kB100[1] * d->hpX1 + g729::kB100[2] * d->hpX2 +
                      g729::kA100[1] * d->hpY1 + g729::kA100[2] * d->hpY2;
    d->hpX2 = d->hpX1;
    d->hpX1 = x;
    d->hpY2 = d->hpY1;
    d->hpY1 = out;
    return out;
}
