#include "signals.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "generators.h"

namespace bench {
namespace {

constexpr double kRate = 8000.0;
constexpr double kPi = 3.14159265358979323846;

using velkorix::test::Resonator;
using velkorix::test::XorShift32;

int16_t Clip(double v) {
    const double r = std::nearbyint(v);
    return static_cast<int16_t>(std::clamp(r, -32768.0, 32767.0));
}

}  // namespace

std::vector<int16_t> SpeechLike(std::size_t samples, uint32_t seed) {
    XorShift32 rng = XorShift32::Spread(seed);
    std::vector<double> out;
    out.reserve(samples);
    Resonator formant[3], fricative;
    double phase = 0;
    while (out.size() < samples) {
        const double kind = rng.Uniform();
        const std::size_t length = static_cast<std::size_t>(kRate * rng.Between(0.06, 0.30));
        const double level = std::pow(10.0, rng.Between(-30.0, -4.0) / 20.0) * 32768.0;
        if (kind < 0.15) {  // pause with a faint noise floor
            for (std::size_t i = 0; i < length; ++i) out.push_back(3.0 * rng.Gaussian());
            continue;
        }
        const bool voiced = kind < 0.85;
        double f0 = rng.Between(85.0, 240.0);
        const double f0End = f0 * rng.Between(0.8, 1.25);
        double f[3] = {rng.Between(300, 800), rng.Between(850, 2300), rng.Between(2300, 3300)};
        const double fEnd[3] = {rng.Between(300, 800), rng.Between(850, 2300), rng.Between(2300, 3300)};
        fricative.Set(rng.Between(2200, 3500), rng.Between(400, 900), Resonator::Gain::Unity);
        for (std::size_t i = 0; i < length; ++i) {
            const double t = static_cast<double>(i) / static_cast<double>(length);
            if (i % 40 == 0) {  // formants and pitch glide every 5 ms
                for (int k = 0; k < 3; ++k)
                    formant[k].Set(f[k] + (fEnd[k] - f[k]) * t, 70.0 + 40.0 * k, Resonator::Gain::Unity);
                f0 = f0 + (f0End - f0) * 0.05;
            }
            // Raised-cosine attack and release over the first and last 20 %.
            const double envelope = t < 0.2 ? 0.5 - 0.5 * std::cos(kPi * t / 0.2)
                                  : t > 0.8 ? 0.5 - 0.5 * std::cos(kPi * (1.0 - t) / 0.2)
                                            : 1.0;
            double v;
            if (voiced) {
                phase += f0 * (1.0 + 0.01 * rng.Gaussian()) / kRate;
                double excitation = 0.05 * rng.Gaussian();
                if (phase >= 1.0) {
                    phase -= 1.0;
                    excitation += 12.0;
                }
                v = formant[0].Step(excitation) * 1.0 + formant[1].Step(excitation) * 0.5 +
                    formant[2].Step(excitation) * 0.25;
            } else {
                v = fricative.Step(rng.Gaussian()) * 0.8;
            }
            out.push_back(level * envelope * v);
        }
    }
    out.resize(samples);
    std::vector<int16_t> pcm(samples);
    for (std::size_t i = 0; i < samples; ++i) pcm[i] = Clip(out[i]);
    return pcm;
}

std::vector<int16_t> Noise(std::size_t samples, uint32_t seed) {
    XorShift32 rng = XorShift32::Spread(seed);
    std::vector<int16_t> pcm(samples);
    const double levels[4] = {-40.0, -20.0, -6.0, 6.0};  // the last one clips
    for (std::size_t i = 0; i < samples; ++i) {
        const double level = std::pow(10.0, levels[std::min<std::size_t>(3, 4 * i / samples)] / 20.0) * 32768.0;
        pcm[i] = Clip(level * rng.Gaussian() * 0.5);
    }
    return pcm;
}

std::vector<int16_t> ReadRaw(const std::string &path) {
    std::vector<int16_t> pcm;
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return pcm;
    unsigned char pair[2];
    while (std::fread(pair, 1, 2, f) == 2)
        pcm.push_back(static_cast<int16_t>(static_cast<uint16_t>(pair[0] | pair[1] << 8)));
    std::fclose(f);
    return pcm;
}

std::vector<int16_t> BenchInput(const std::string &speechFile, double speechSeconds, double noiseSeconds,
                                std::size_t multiple, std::string *description) {
    const std::size_t speechSamples = static_cast<std::size_t>(speechSeconds * kRate);
    const std::size_t noiseSamples = static_cast<std::size_t>(noiseSeconds * kRate);
    std::vector<int16_t> speech;
    if (!speechFile.empty()) speech = ReadRaw(speechFile);
    char text[256];
    if (!speech.empty()) {
        std::snprintf(text, sizeof text, "%.0f s of espeak-ng speech (%s, %.1f s repeated) and %.0f s of noise",
                      speechSeconds, speechFile.c_str(), static_cast<double>(speech.size()) / kRate, noiseSeconds);
        std::vector<int16_t> looped(speechSamples);
        for (std::size_t i = 0; i < speechSamples; ++i) looped[i] = speech[i % speech.size()];
        speech.swap(looped);
    } else {
        std::snprintf(text, sizeof text, "%.0f s of generated speech-like signal and %.0f s of noise", speechSeconds,
                      noiseSeconds);
        speech = SpeechLike(speechSamples, 1);
    }
    if (description) *description = text;
    std::vector<int16_t> input = speech;
    const auto noise = Noise(noiseSamples, 2);
    input.insert(input.end(), noise.begin(), noise.end());
    input.resize(input.size() / multiple * multiple);
    return input;
}

}  // namespace bench
