// Deterministic 8 kHz test signals for the voice codec tests: speech-like
// audio (voiced segments from a glottal pulse train through moving formant
// resonators, unvoiced noise bursts, pauses, syllable envelopes, varying
// loudness), noise at several levels, and tone bursts that drive the G.726
// tone and transition detectors.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "support/generators.h"

namespace velkorix::test {

inline int16_t Saturate(double v) {
    const long r = std::lround(v);
    return static_cast<int16_t>(r < -32768 ? -32768 : r > 32767 ? 32767 : r);
}

// Appends `count` samples of speech-like audio.
inline void AppendSpeechLike(std::vector<int16_t> &out, std::size_t count, uint32_t seed) {
    XorShift32 random(seed);
    Resonator f1, f2, f3;
    double phase = 0;
    const std::size_t end = out.size() + count;
    while (out.size() < end) {
        // One syllable or pause of 60..400 ms.
        const int length = random.Range(480, 3200);
        const int kind = random.Range(0, 9);  // 0..5 voiced, 6..7 unvoiced, 8..9 pause
        const double loudness = 800.0 + random.Uniform() * 14000.0;
        double pitch = 80.0 + random.Uniform() * 170.0;
        const double glide = (random.Uniform() - 0.5) * 60.0 / length;
        const double formants[3][2] = {{250.0 + random.Uniform() * 650.0, 200.0 + random.Uniform() * 400.0},
                                       {850.0 + random.Uniform() * 1500.0, 150.0 + random.Uniform() * 900.0},
                                       {2300.0 + random.Uniform() * 1000.0, 100.0 + random.Uniform() * 400.0}};
        const double bandwidths[3] = {60.0 + random.Uniform() * 60.0, 80.0 + random.Uniform() * 80.0,
                                      120.0 + random.Uniform() * 120.0};
        for (int i = 0; i < length && out.size() < end; ++i) {
            const double t = static_cast<double>(i) / length;
            const double envelope = std::sin(M_PI * t) * (0.6 + 0.4 * std::sin(9.0 * M_PI * t));
            if (i % 40 == 0) {  // formants move every 5 ms
                f1.Set(formants[0][0] + formants[0][1] * t, bandwidths[0]);
                f2.Set(formants[1][0] + formants[1][1] * t, bandwidths[1]);
                f3.Set(formants[2][0] + formants[2][1] * t, bandwidths[2]);
            }
            double excitation = 0;
            if (kind <= 5) {
                pitch += glide;
                phase += pitch / 8000.0;
                if (phase >= 1.0) phase -= 1.0;
                // Rosenberg-like glottal pulse plus a little breath noise.
                excitation = (phase < 0.4 ? std::sin(M_PI * phase / 0.4) : 0.0) * 4.0 + random.Gaussian() * 0.05;
            } else if (kind <= 7) {
                excitation = random.Gaussian() * 1.5;
            }
            const double v = f1.Step(excitation) * 1.0 + f2.Step(excitation) * 0.6 + f3.Step(excitation) * 0.3;
            out.push_back(Saturate(v * loudness * envelope * (kind <= 7 ? 1.0 : 0.0) + random.Gaussian() * 3.0));
        }
    }
}

// Appends white noise in segments of random level, from quiet to full scale
// (clipped).
inline void AppendNoise(std::vector<int16_t> &out, std::size_t count, uint32_t seed) {
    XorShift32 random(seed);
    const std::size_t end = out.size() + count;
    while (out.size() < end) {
        const int length = random.Range(800, 16000);
        const double level = std::pow(10.0, random.Uniform() * 4.7);  // 1 .. 50000 RMS
        for (int i = 0; i < length && out.size() < end; ++i) out.push_back(Saturate(random.Gaussian() * level));
    }
}

// Appends tone bursts (one or two sinusoids) broken off by silence or clicks,
// which set the tone detector and then trip the transition detector.
inline void AppendToneBursts(std::vector<int16_t> &out, std::size_t count, uint32_t seed) {
    XorShift32 random(seed);
    const std::size_t end = out.size() + count;
    while (out.size() < end) {
        const int length = random.Range(400, 4000);
        const double f1 = 300.0 + random.Uniform() * 3000.0;
        const double f2 = random.Uniform() < 0.5 ? 0.0 : 600.0 + random.Uniform() * 2000.0;
        const double level = 500.0 + random.Uniform() * 20000.0;
        for (int i = 0; i < length && out.size() < end; ++i) {
            double v = std::sin(2.0 * M_PI * f1 * i / 8000.0);
            if (f2 > 0) v = 0.5 * (v + std::sin(2.0 * M_PI * f2 * i / 8000.0));
            out.push_back(Saturate(v * level));
        }
        const int gap = random.Range(0, 400);
        const double click = random.Uniform() < 0.5 ? 0.0 : (random.Uniform() - 0.5) * 60000.0;
        for (int i = 0; i < gap && out.size() < end; ++i) out.push_back(Saturate(i < 3 ? click : 0.0));
    }
}

inline std::vector<int16_t> SpeechLike(std::size_t count, uint32_t seed) {
    std::vector<int16_t> v;
    v.reserve(count);
    AppendSpeechLike(v, count, seed);
    return v;
}

inline std::vector<int16_t> Noise(std::size_t count, uint32_t seed) {
    std::vector<int16_t> v;
    v.reserve(count);
    AppendNoise(v, count, seed);
    return v;
}

inline std::vector<int16_t> ToneBursts(std::size_t count, uint32_t seed) {
    std::vector<int16_t> v;
    v.reserve(count);
    AppendToneBursts(v, count, seed);
    return v;
}

}  // namespace velkorix::test
