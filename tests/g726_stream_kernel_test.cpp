// The kernels of the G.726 stream decoder (portable and, where the processor
// has it, AVX2) agree bit for bit: samples and every state field, from random
// reachable states, and through the dispatching decoder.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "common/cpu_features.h"
#include "g726_stream/g726_stream.h"
#include "g726_stream/g726_stream_kernels.h"
#include "test_support.h"

namespace {

using namespace velkorix::g726_stream;

using velkorix::test::Lcg;

struct Decoder {
    G726StreamDecoder *d = G726StreamDecoderCreate();
    ~Decoder() { G726StreamDecoderDestroy(d); }
};

// A value in the 11-bit floating form: exponent, mantissa with its top bit set
// (or the zero form 32), optionally negative.
int16_t RandomForm(Lcg &rng) {
    const int e = static_cast<int>(rng.Below(16));
    const int mant = e == 0 ? 32 : 32 + static_cast<int>(rng.Below(32));
    const int form = e * 64 + mant;
    return static_cast<int16_t>(rng.Below(2) ? form - 1024 : form);
}

// A state inside the ranges the adaptation keeps (see the decoder's core).
void RandomState(G726StreamDecoder &d, Lcg &rng) {
    d.YU = static_cast<int16_t>(544 + rng.Below(5120 - 544 + 1));
    d.YL = static_cast<int32_t>(544 * 64 + rng.Below((5120 - 544) * 64 + 1));
    d.DMS = static_cast<int16_t>(rng.Below(3585));
    d.DML = static_cast<int16_t>(rng.Below(14337));
    d.AP = static_cast<int16_t>(rng.Below(513));
    d.A2 = static_cast<int16_t>(static_cast<int32_t>(rng.Below(2 * 12288 + 1)) - 12288);
    const int32_t a1ul = 15360 - d.A2;
    d.A1 = static_cast<int16_t>(static_cast<int32_t>(rng.Below(static_cast<uint32_t>(2 * a1ul + 1))) - a1ul);
    for (int k = 0; k < 6; ++k) {
        // Include the lower limit, whose 13-bit magnitude is 0.
        d.B[k] = rng.Below(8) == 0 ? int16_t{-32768} : static_cast<int16_t>(rng.Next() >> 16);
        d.DQ[k] = RandomForm(rng);
    }
    d.SR1 = RandomForm(rng);
    d.SR2 = RandomForm(rng);
    d.PK1 = static_cast<int16_t>(rng.Below(2));
    d.PK2 = static_cast<int16_t>(rng.Below(2));
    d.TD = static_cast<int8_t>(rng.Below(2));
}

std::vector<uint8_t> RandomBytes(Lcg &rng, std::size_t n) {
    std::vector<uint8_t> bytes(n);
    // Mix uniform bytes with runs of the largest codes (3 and 4), which push
    // the scale factor and the predictor to their limits.
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = (i / 96) % 3 == 2 ? static_cast<uint8_t>(0x5B + (i % 3)) : static_cast<uint8_t>(rng.Next() >> 24);
    return bytes;
}

using Kernel = void (*)(G726StreamDecoder &, const uint8_t *, int32_t, int16_t *);

std::vector<std::pair<const char *, Kernel>> FastKernels() {
    std::vector<std::pair<const char *, Kernel>> kernels;
#if VELKORIX_X86_KERNELS
    if (velkorix::CurrentSimdLevel() >= velkorix::SimdLevel::Avx2)
        kernels.emplace_back("AVX2", velkorix::g726_stream::DecodeGroupsAvx2);
#endif
    return kernels;
}

TEST(G726StreamKernels, AgreeWithThePortableKernelFromRandomStates) {
    const auto kernels = FastKernels();
    if (kernels.empty()) GTEST_SKIP() << "this processor runs only the portable kernel";
    Lcg rng(2024);
    for (const auto &[name, kernel] : kernels) {
        for (int trial = 0; trial < 400; ++trial) {
            Decoder portable, fast;
            RandomState(*portable.d, rng);
            std::memcpy(fast.d, portable.d, sizeof(G726StreamDecoder));
            const int32_t groups = 1 + static_cast<int32_t>(rng.Below(200));
            const auto bytes = RandomBytes(rng, static_cast<std::size_t>(3 * groups));
            std::vector<int16_t> expected(static_cast<std::size_t>(8 * groups)), got(expected.size());
            velkorix::g726_stream::DecodeGroupsPortable(*portable.d, bytes.data(), groups, expected.data());
            kernel(*fast.d, bytes.data(), groups, got.data());
            ASSERT_EQ(got, expected) << name << ", trial " << trial;
            ASSERT_EQ(std::memcmp(fast.d, portable.d, sizeof(G726StreamDecoder)), 0) << name << ", trial " << trial;
        }
    }
}

TEST(G726StreamKernels, PortableKernelMatchesTheOneCodeStep) {
    // The group kernel against the one-code entry point, code by code.
    Lcg rng(77);
    for (int trial = 0; trial < 50; ++trial) {
        Decoder grouped, single;
        RandomState(*grouped.d, rng);
        std::memcpy(single.d, grouped.d, sizeof(G726StreamDecoder));
        const auto bytes = RandomBytes(rng, 300);
        std::vector<int16_t> out(800);
        velkorix::g726_stream::DecodeGroupsPortable(*grouped.d, bytes.data(), 100, out.data());
        for (std::size_t n = 0; n < out.size(); ++n) {
            const std::size_t at = 3 * n / 8;
            const uint32_t bits =
                static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[std::min<std::size_t>(at + 1, 299)]) << 8;
            const int code = static_cast<int>(bits >> (3 * n % 8)) & 7;
            ASSERT_EQ(G726StreamDecodeCode(single.d, code), out[n]) << "trial " << trial << ", sample " << n;
        }
        ASSERT_EQ(std::memcmp(grouped.d, single.d, sizeof(G726StreamDecoder)), 0) << "trial " << trial;
    }
}

TEST(G726StreamKernels, DispatchGivesTheSameStreamAtEveryLevel) {
    Lcg rng(5);
    const auto bytes = RandomBytes(rng, 30001);  // ends in a partial group
    std::vector<std::vector<int16_t>> results;
    for (auto level : {velkorix::SimdLevel::Avx2, velkorix::SimdLevel::Portable}) {
        const auto previous = velkorix::ForceSimdLevel(level);
        Decoder dec;
        std::vector<int16_t> out(bytes.size() * 8 / 3 + 1);
        // Payloads of varying length, as a filter would pass them.
        std::size_t at = 0, written = 0;
        for (std::size_t length = 1; at < bytes.size(); length = length % 400 + 7) {
            const std::size_t n = std::min(length, bytes.size() - at);
            written += static_cast<std::size_t>(
                G726StreamDecoderDecode(dec.d, bytes.data() + at, out.data() + written, static_cast<int32_t>(n)));
            at += n;
        }
        out.resize(written);
        results.push_back(out);
        velkorix::ForceSimdLevel(previous);
    }
    EXPECT_EQ(results[0], results[1]);
}

}  // namespace
