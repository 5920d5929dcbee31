// Deterministic generators shared by the tests and the benchmark: two small
// pseudo-random number generators (the same sequences on every platform) and
// a two-pole resonator for synthetic speech.
#pragma once

#include <cmath>
#include <cstdint>

namespace velkorix::test {

// Linear congruential generator (Numerical Recipes constants): cheap test data.
class Lcg {
public:
    explicit Lcg(uint32_t seed) : state_(seed) {}
    uint32_t Next() {
        state_ = state_ * 1664525u + 1013904223u;
        return state_;
    }
    // Uniform in [0, n).
    uint32_t Below(uint32_t n) { return static_cast<uint32_t>((static_cast<uint64_t>(Next()) * n) >> 32); }

private:
    uint32_t state_;
};

// xorshift32, for signals: uniform and roughly Gaussian numbers.
class XorShift32 {
public:
    explicit XorShift32(uint32_t seed) : state_(seed ? seed : 1) {}
    // A generator whose small seeds (1, 2, ...) start far apart.
    static XorShift32 Spread(uint32_t seed) { return XorShift32(seed * 2654435761u + 1u); }

    uint32_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    // Uniform in [0, 1).
    double Uniform() { return (Next() >> 8) * (1.0 / 16777216.0); }
    double Between(double low, double high) { return low + (high - low) * Uniform(); }
    int Range(int low, int high) { return low + static_cast<int>(Uniform() * (high - low + 1)); }
    // Roughly Gaussian (sum of four uniforms), unit variance.
    double Gaussian() { return (Uniform() + Uniform() + Uniform() + Uniform() - 2.0) * 1.7320508; }

private:
    uint32_t state_;
};

// Two-pole resonator at `frequency` Hz with `bandwidth` Hz at `rate` Hz.
class Resonator {
public:
    enum class Gain {
        OneMinusR,  // input scaled by 1 - r: near unity at the centre for narrow bands
        Unity,      // exactly unity at the centre frequency
    };

    void Set(double frequency, double bandwidth, Gain gain = Gain::OneMinusR, double rate = 8000.0) {
        const double r = std::exp(-M_PI * bandwidth / rate);
        a1_ = 2.0 * r * std::cos(2.0 * M_PI * frequency / rate);
        a2_ = -r * r;
        gain_ = 1.0 - r;
        if (gain == Gain::Unity) gain_ *= std::sqrt(1.0 - 2.0 * r * std::cos(4.0 * M_PI * frequency / rate) + r * r);
    }
    double Step(double x) {
        const double y = gain_ * x + a1_ * y1_ + a2_ * y2_;
        y2_ = y1_;
        y1_ = y;
        return y;
    }

private:
    double a1_ = 0, a2_ = 0, gain_ = 1, y1_ = 0, y2_ = 0;
};

}  // namespace velkorix::test
