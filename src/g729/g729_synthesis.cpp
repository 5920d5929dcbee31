// From excitation to speech: the LP synthesis filter, the adaptive
// post-filter (pitch post-filter, short-term post-filter with tilt
// compensation, gain control) and the high-pass post-processing filter.
#include <cmath>
#include <cstring>

#include "g729/g729_decoder.h"
#include "g729/g729_dsp.h"
#include "g729/g729_tables.h"

namespace velkorix::g729 {

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

// Powers 0.9^(n+1) and partial sums 1 + 0.9 + ... + 0.9^n, n < 40: the gain
// control's recursion written out per sample.
struct AgcTables {
    float decay[L];
    float growth[L];
};
constexpr AgcTables MakeAgcTables() {
    AgcTables t{};
    double power = 1.0, sum = 0.0;
    for (int n = 0; n < L; ++n) {
        sum += power;
        power *= kAgcFactor;
        t.decay[n] = static_cast<float>(power);
        t.growth[n] = static_cast<float>(sum);
    }
    return t;
}
constexpr AgcTables kAgcTables = MakeAgcTables();
constexpr const float *kAgcDecay = kAgcTables.decay;
constexpr const float *kAgcGrowth = kAgcTables.growth;

// The synthesis buffer with its history: element -10 is the first sample of
// `synthHistory`, element 0 the first of `synth`.
float *SynthWithHistory(G729Decoder *d) { return d->synthHistory + M; }

// The all-pole filter for a block length known at compile time, so that the
// copies in and out of the working buffer are plain vector moves.
template <int N>
void AllPole(const float a[M + 1], const float *x, float *y, float memory[M], bool updateMemory) {
    // Past outputs followed by the new ones, so the recursion reads one buffer.
    float buf[M + N];
    std::memcpy(buf, memory, sizeof(float) * M);
    float *out = buf + M;
    const float a1 = a[1], a2 = a[2], a3 = a[3], a4 = a[4], a5 = a[5];
    const float a6 = a[6], a7 = a[7], a8 = a[8], a9 = a[9], a10 = a[10];
    for (int k = 0; k < N; ++k) {
        const float *o = out + k;
        // The oldest outputs are summed as a tree off the critical path; the
        // three newest enter one by one at the end, newest last, so that each
        // waits for as few operations as possible after it is produced.
        const float older = ((a4 * o[-4] + a5 * o[-5]) + (a6 * o[-6] + a7 * o[-7])) +
                            ((a8 * o[-8] + a9 * o[-9]) + a10 * o[-10]);
        out[k] = (((x[k] - older) - a3 * o[-3]) - a2 * o[-2]) - a1 * o[-1];
    }
    std::memcpy(y, out, sizeof(float) * N);
    if (updateMemory) std::memcpy(memory, out + N - M, sizeof(float) * M);
}

// Tilt compensation factor from the truncated impulse response of
// A(z/0.55) / A(z/0.7).
float TiltFactor(const float num[M + 1], const float den[M + 1]) {
    float h[kImpulseLength] = {};
    std::memcpy(h, num, sizeof(float) * (M + 1));
    float zero[M] = {};
    AllPole<kImpulseLength>(den, h, h, zero, false);
    const float r0 = Dot(h, h, kImpulseLength);
    const float r1 = Dot(h, h + 1, kImpulseLength - 1);
    return r1 > 0.0f ? kTiltFactor * r1 / r0 : 0.0f;
}

}  // namespace

void G729AllPoleFilter(const float a[M + 1], const float *x, float *y, int n, float memory[M], bool updateMemory) {
    switch (n) {
        case L: AllPole<L>(a, x, y, memory, updateMemory); return;
        case kImpulseLength: AllPole<kImpulseLength>(a, x, y, memory, updateMemory); return;
        default: break;
    }
    // Other lengths, up to a frame, sample by sample through the same recursion.
    float buf[M + kG729FrameSamples];
    std::memcpy(buf, memory, sizeof(float) * M);
    float *out = buf + M;
    for (int k = 0; k < n; ++k) {
        float v = x[k];
        for (int i = M; i >= 1; --i) v -= a[i] * out[k - i];
        out[k] = v;
    }
    std::memcpy(y, out, sizeof(float) * static_cast<std::size_t>(n));
    if (updateMemory) std::memcpy(memory, out + n - M, sizeof(float) * M);
}

// Two neighbouring delays can correlate within float rounding of each other,
// and the 3 dB test can fall within rounding of its threshold: there the
// choice follows the rounding of the decoder's float state (a decoder that
// carries its state in double may choose the other way in a few subframes
// of a long stream). The sums' order is not what decides: summed in plain
// order, or exactly, the same float residual gives the same choices.
int32_t G729PitchPostFilter(const float *r, int32_t tmin, int32_t tmax, float p[L]) {
    float best = -1e38f;
    int32_t t = tmin;
    for (int32_t k = tmin; k <= tmax; ++k) {
        const float c = Dot<L>(r, r - k);
        if (c > best) {  // ties keep the smaller delay
            best = c;
            t = k;
        }
    }
    const float *delayed = r - t;
    const float energyDelayed = kEnergyBias + Dot<L>(delayed, delayed);
    const float energyNow = kEnergyBias + Dot<L>(r, r);
    const float cor = best < 0.0f ? 0.0f : best;
    if (cor * cor < 0.5f * energyDelayed * energyNow) {  // prediction gain below 3 dB: off
        std::memcpy(p, r, sizeof(float) * L);
        return t;
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
    return t;
}

void G729SynthesizeSubframe(G729Decoder *d, int subframe) {
    const float *exc = d->excitationHistory + kG729ExcitationPast + L * subframe;
    AllPole<L>(d->lpcCoeffs[subframe], exc, d->synth + L * subframe, d->synthMemory, true);
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
        G729PitchPostFilter(r, tmin, tmax, p);

        // Tilt compensation: p[n] - k p[n-1], the first sample using the
        // previous subframe's last input.
        const float k = TiltFactor(num, den);
        float tilted[L];
        tilted[0] = p[0] - k * d->tiltMemory;
        for (int n = 1; n < L; ++n) tilted[n] = p[n] - k * p[n - 1];
        d->tiltMemory = p[L - 1];

        // Short-term post-filter 1/A(z/0.7).
        float *out = y + L * subframe;
        AllPole<L>(den, tilted, out, d->postSynthMemory, true);

        // Gain control towards the energy of the unfiltered synthesis.
        const float energyOut = Dot<L>(out, out);
        if (energyOut == 0.0f) {
            d->agcGain = 0.0f;
        } else {
            const float energyIn = Dot<L>(s, s);
            const float g0 = energyIn == 0.0f ? 0.0f : kAgcStep * std::sqrt(energyIn / energyOut);
            // gain(n) = 0.9 gain(n-1) + g0, unrolled: 0.9^(n+1) gain(-1) + g0 (1 + 0.9 + ... + 0.9^n).
            const float start = d->agcGain;
            for (int n = 0; n < L; ++n) out[n] *= kAgcDecay[n] * start + kAgcGrowth[n] * g0;
            d->agcGain = kAgcDecay[L - 1] * start + kAgcGrowth[L - 1] * g0;
        }

        std::memmove(d->residualHistory, d->residualHistory + L, sizeof(float) * kG729ResidualPast);
    }
    std::memcpy(d->synthHistory, d->synth + kG729FrameSamples - M, sizeof(float) * M);
    std::memcpy(d->synth, y, sizeof(y));
}

namespace {

// One step of the high-pass filter on its four memories.
inline float HighPassStep(float x, float &x1, float &x2, float &y1, float &y2) {
    // The newest output enters last: it is the only term that waits for the
    // previous step.
    const float out = ((kB100[0] * x + kB100[1] * x1) + (kB100[2] * x2 + kA100[2] * y2)) +
                      kA100[1] * y1;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = out;
    return out;
}

}  // namespace

float G729HighPass(G729Decoder *d, float x) { return HighPassStep(x, d->hpX1, d->hpX2, d->hpY1, d->hpY2); }

void G729HighPassFrame(G729Decoder *d) {
    constexpr int N = kG729FrameSamples;
    const float b0 = kB100[0], b1 = kB100[1], b2 = kB100[2];
    const float a1 = kA100[1], a2 = kA100[2];

    // The numerator for all samples at once, then its contribution to the
    // second sample of each pair: v[n] = b0 x[n] + b1 x[n-1] + b2 x[n-2] and
    // w[n] = v[n+1] + a1 v[n].
    float in[N + 2];
    in[0] = d->hpX2;
    in[1] = d->hpX1;
    std::memcpy(in + 2, d->synth, sizeof(d->synth));
    float v[N + 1], w[N];
    for (int n = 0; n < N; ++n) v[n] = (b0 * in[n + 2] + b1 * in[n + 1]) + b2 * in[n];
    v[N] = 0.0f;
    for (int n = 0; n < N; ++n) w[n] = v[n + 1] + a1 * v[n];

    // The recursion y[n] = v[n] + a1 y[n-1] + a2 y[n-2], two samples per step:
    // y[n+1] = w[n] + (a1 a1 + a2) y[n-1] + a1 a2 y[n-2], so both samples of a
    // pair wait only for the pair before.
    const float c1 = a1 * a1 + a2, c2 = a1 * a2;
    float y1 = d->hpY1, y2 = d->hpY2;
    for (int n = 0; n < N; n += 2) {
        const float first = (v[n] + a2 * y2) + a1 * y1;
        const float second = (w[n] + c2 * y2) + c1 * y1;
        d->synth[n] = first;
        d->synth[n + 1] = second;
        y2 = first;
        y1 = second;
    }
    for (int n = 0; n < N; ++n) d->outputPcm[n] = G729ToPcm(d->synth[n]);
    d->hpX1 = in[N + 1];
    d->hpX2 = in[N];
    d->hpY1 = y1;
    d->hpY2 = y2;
}

}  // namespace velkorix::g729
