// The block kernels of the voice library's G.726 codec against the plain
// per-sample model (g726_plain_model.h): every rate, portable and (where the
// processor runs it) AVX2, encoding and decoding from random reachable
// states, over whole groups of eight codewords and over the partial group at
// the end.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/cpu_features.h"
#include "test_support.h"
#include "g726_plain_model.h"
#include "voice/g726.h"
#include "voice/g726_kernel.h"
#include "voice_signals.h"

namespace {

using namespace velkorix::voice;
using velkorix::test::Lcg;
using velkorix::test::G726DecodeSample;
using velkorix::test::G726EncodeSample;
using velkorix::test::G726OutputSample;
using velkorix::test::G726PackCodesLsbFirst;

// An 11-bit floating form: sign in bit 10, exponent, mantissa with its top
// bit set (or the zero form 32).
int32_t RandomForm(Lcg &rng) {
    const int e = static_cast<int>(rng.Below(16));
    const int mant = e == 0 ? 32 : 32 + static_cast<int>(rng.Below(32));
    return static_cast<int32_t>(rng.Below(2) << 10) | e << 6 | mant;
}

// A state inside the ranges the adaptation keeps.
G726State RandomState(Lcg &rng, int width) {
    G726State s;
    G726Reset(s, width);
    s.YU = static_cast<int32_t>(544 + rng.Below(5120 - 544 + 1));
    s.YL = static_cast<int32_t>(544 * 64 + rng.Below((5120 - 544) * 64 + 1));
    s.DMS = static_cast<int32_t>(rng.Below(3585));
    s.DML = static_cast<int32_t>(rng.Below(14337));
    s.AP = static_cast<int32_t>(rng.Below(513));
    s.A2 = static_cast<int32_t>(rng.Below(2 * 12288 + 1)) - 12288;
    const int32_t a1ul = 15360 - s.A2;
    s.A1 = static_cast<int32_t>(rng.Below(static_cast<uint32_t>(2 * a1ul + 1))) - a1ul;
    for (int k = 0; k < 6; ++k) {
        // Include the lower limit, whose 13-bit magnitude is 0.
        s.B[k] = rng.Below(8) == 0 ? -32768 : static_cast<int16_t>(rng.Next() >> 16);
        s.DQ[k] = RandomForm(rng);
    }
    s.SR1 = RandomForm(rng);
    s.SR2 = RandomForm(rng);
    s.PK1 = static_cast<int32_t>(rng.Below(2));
    s.PK2 = static_cast<int32_t>(rng.Below(2));
    s.TD = static_cast<int32_t>(rng.Below(2));
    return s;
}

// Speech-like audio, noise or full-scale extremes.
std::vector<int16_t> RandomSignal(Lcg &rng, std::size_t count) {
    std::vector<int16_t> pcm;
    switch (rng.Below(3)) {
        case 0: velkorix::test::AppendSpeechLike(pcm, count, rng.Next()); break;
        case 1: pcm = velkorix::test::Noise(count, rng.Next()); break;
        default:
            for (std::size_t i = 0; i < count; ++i)
                pcm.push_back(rng.Below(2) ? static_cast<int16_t>(rng.Next() >> 16) : (i & 16 ? 32767 : -32768));
    }
    pcm.resize(count);
    return pcm;
}

bool SameState(const G726State &a, const G726State &b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The plain model with LSB-first packing: what every kernel must give.
std::vector<uint8_t> EncodeBySample(G726State &s, const std::vector<int16_t> &pcm) {
    std::vector<uint8_t> codes;
    for (int16_t x : pcm) codes.push_back(static_cast<uint8_t>(G726EncodeSample(s, x)));
    std::vector<uint8_t> payload((codes.size() * static_cast<std::size_t>(s.codeWidth) + 7) / 8);
    G726PackCodesLsbFirst(codes.data(), static_cast<int>(codes.size()), s.codeWidth, payload.data());
    return payload;
}

std::vector<int16_t> DecodeBySample(G726State &s, const std::vector<uint8_t> &payload) {
    const int width = s.codeWidth;
    std::vector<int16_t> pcm;
    const std::size_t codes = 8 * payload.size() / static_cast<std::size_t>(width);
    for (std::size_t i = 0; i < codes; ++i) {
        uint32_t code = 0;
        for (int b = 0; b < width; ++b) {
            const std::size_t bit = i * static_cast<std::size_t>(width) + static_cast<std::size_t>(b);
            code |= static_cast<uint32_t>(payload[bit / 8] >> (bit % 8) & 1) << b;
        }
        pcm.push_back(G726OutputSample(G726DecodeSample(s, static_cast<int>(code))));
    }
    return pcm;
}

struct Level {
    const char *name;
    const g726_kernels::Kernels *kernels;
};

std::vector<Level> Levels() {
    std::vector<Level> levels{{"portable", &g726_kernels::kPortable}};
#if VELKORIX_X86_KERNELS
    if (velkorix::CurrentSimdLevel() >= velkorix::SimdLevel::Avx2) levels.push_back({"AVX2", &g726_kernels::kAvx2});
#endif
    return levels;
}

TEST(G726Kernels, EncodeLikeThePerSampleCoderFromRandomStates) {
    Lcg rng(726);
    for (const Level &level : Levels()) {
        for (int width = 2; width <= 5; ++width) {
            for (int trial = 0; trial < 150; ++trial) {
                G726State reference = RandomState(rng, width);
                G726State kernel = reference;
                const std::size_t count = 2 * (1 + rng.Below(120));  // even, with and without a partial group
                const auto pcm = RandomSignal(rng, count);
                const auto expected = EncodeBySample(reference, pcm);
                std::vector<uint8_t> payload(expected.size() + 8, 0xEE);
                level.kernels->encode[width - 2](kernel, pcm.data(), payload.data(), static_cast<int>(count));
                ASSERT_TRUE(std::equal(expected.begin(), expected.end(), payload.begin()))
                    << level.name << ", width " << width << ", trial " << trial;
                ASSERT_EQ(payload[expected.size()], 0xEE) << "a byte past the codewords was written";
                ASSERT_TRUE(SameState(kernel, reference)) << level.name << ", width " << width << ", trial " << trial;
            }
        }
    }
}

TEST(G726Kernels, DecodeLikeThePerSampleCoderFromRandomStates) {
    Lcg rng(627);
    for (const Level &level : Levels()) {
        for (int width = 2; width <= 5; ++width) {
            for (int trial = 0; trial < 150; ++trial) {
                G726State reference = RandomState(rng, width);
                G726State kernel = reference;
                std::vector<uint8_t> payload(1 + rng.Below(100));
                for (auto &b : payload) b = static_cast<uint8_t>(rng.Next() >> 24);
                const auto expected = DecodeBySample(reference, payload);
                std::vector<int16_t> pcm(expected.size() + 4, 0x7777);
                const int n = level.kernels->decode[width - 2](kernel, payload.data(), pcm.data(),
                                                               static_cast<int>(payload.size()));
                ASSERT_EQ(static_cast<std::size_t>(n), expected.size());
                ASSERT_TRUE(std::equal(expected.begin(), expected.end(), pcm.begin()))
                    << level.name << ", width " << width << ", trial " << trial;
                ASSERT_EQ(pcm[expected.size()], 0x7777) << "a sample past the codewords was written";
                ASSERT_TRUE(SameState(kernel, reference)) << level.name << ", width " << width << ", trial " << trial;
            }
        }
    }
}

TEST(G726Kernels, LongSignalsStayInStepWithThePerSampleCoder) {
    // Ten seconds at every rate through reset states: the adaptation reaches
    // its limits and the transition detector fires on the tone bursts.
    for (const Level &level : Levels()) {
        for (int width = 2; width <= 5; ++width) {
            auto pcm = velkorix::test::SpeechLike(40000, 11u + static_cast<uint32_t>(width));
            velkorix::test::AppendToneBursts(pcm, 24000, 12);
            const auto noise = velkorix::test::Noise(16000, 13);
            pcm.insert(pcm.end(), noise.begin(), noise.end());
            G726State referenceEncoder, kernelEncoder, referenceDecoder, kernelDecoder;
            G726Reset(referenceEncoder, width);
            G726Reset(referenceDecoder, width);
            kernelEncoder = referenceEncoder;
            kernelDecoder = referenceDecoder;
            for (std::size_t at = 0; at + 160 <= pcm.size(); at += 160) {
                const std::vector<int16_t> frame(pcm.begin() + static_cast<long>(at),
                                                 pcm.begin() + static_cast<long>(at + 160));
                const auto expected = EncodeBySample(referenceEncoder, frame);
                std::vector<uint8_t> payload(expected.size());
                level.kernels->encode[width - 2](kernelEncoder, frame.data(), payload.data(), 160);
                ASSERT_EQ(payload, expected) << level.name << ", width " << width << ", sample " << at;
                const auto decoded = DecodeBySample(referenceDecoder, payload);
                std::vector<int16_t> out(decoded.size());
                level.kernels->decode[width - 2](kernelDecoder, payload.data(), out.data(),
                                                 static_cast<int>(payload.size()));
                ASSERT_EQ(out, decoded) << level.name << ", width " << width << ", sample " << at;
            }
            EXPECT_TRUE(SameState(kernelEncoder, referenceEncoder));
            EXPECT_TRUE(SameState(kernelDecoder, referenceDecoder));
        }
    }
}

}  // namespace
