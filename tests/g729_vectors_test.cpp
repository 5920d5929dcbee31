// The ITU-T G.729 Annex A test vectors: every vector decodes, and each holds
// its SNR floor against the fixed-point reference decoder's output.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "g729_support.h"

namespace {

using namespace g729test;

struct VectorCase {
    const char *name;
    double floorDb;  // 0: decode every frame, no quality figure
};

class G729Vectors : public ::testing::TestWithParam<VectorCase> {};

TEST_P(G729Vectors, MatchesReferenceOutput) {
    const std::string dir = VectorsDir();
    const VectorCase &c = GetParam();
    const ItuBitstream bits = ReadItuBitFile(dir + "/" + c.name + ".bit");
    ASSERT_TRUE(bits.error.empty()) << c.name << ".bit: " << bits.error;
    ASSERT_FALSE(bits.frames.empty()) << c.name << ".bit holds no frames";
    const std::vector<int16_t> reference = ReadPcm(dir + "/" + c.name + ".pst");
    ASSERT_EQ(reference.size(), bits.frames.size() * kG729FrameSamples) << c.name;

    DiagnosticCapture quiet;  // LSP warnings are expected on some vectors
    const std::vector<int16_t> out = DecodeFrames(bits.frames);
    ASSERT_EQ(out.size(), reference.size());
    const double snr = SnrDb(reference, out);
    std::printf("[ SNR      ] %-9s %7.2f dB over %zu frames (%zu LSP warnings)\n", c.name, snr,
                bits.frames.size(), quiet.Messages().size());
    RecordProperty("snr_db", std::to_string(snr));
    if (c.floorDb > 0) {
        EXPECT_GE(snr, c.floorDb) << c.name;
    }
}

// The excitation guard acts only far beyond anything these streams reach:
// with it, every vector decodes bit for bit as with no guard at all (the
// overflow vector's excitation peaks near 1.4 million).
TEST_P(G729Vectors, DecodeAsWithoutTheExcitationGuard) {
    const VectorCase &c = GetParam();
    const ItuBitstream bits = ReadItuBitFile(VectorsDir() + "/" + c.name + ".bit");
    ASSERT_FALSE(bits.frames.empty()) << c.name;
    DiagnosticCapture quiet;
    const std::vector<int16_t> guarded = DecodeFrames(bits.frames);
    G729Decoder *d = G729Decoder_Create();
    ASSERT_NE(d, nullptr);
    std::vector<int16_t> unguarded;
    float largest = 0.0f;
    std::size_t differingSynth = 0;
    G729Decoder *g = G729Decoder_Create();
    for (const Frame &frame : bits.frames) {
        std::memcpy(d->inputFrame, frame.data(), kG729FrameBytes);
        G729DecodeFrameWithExcitationBound(d, INFINITY);
        unguarded.insert(unguarded.end(), d->outputPcm, d->outputPcm + kG729FrameSamples);
        std::memcpy(g->inputFrame, frame.data(), kG729FrameBytes);
        G729Decoder_DecodeFrame(g);
        differingSynth += std::memcmp(g->synth, d->synth, sizeof(d->synth)) != 0;
        for (float e : d->excitationHistory) largest = std::max(largest, std::fabs(e));
    }
    G729Decoder_Destroy(g);
    G729Decoder_Destroy(d);
    std::printf("[ GUARD    ] %-9s largest excitation %.4g (bound %.3g)\n", c.name, largest, kG729ExcitationBound);
    EXPECT_EQ(differingSynth, 0u) << "frames whose float output differs";
    EXPECT_EQ(guarded, unguarded);
    EXPECT_LT(largest, 1.0e-2f * kG729ExcitationBound) << "the stream stays two orders of magnitude below the bound";
}

INSTANTIATE_TEST_SUITE_P(Itu, G729Vectors,
                         ::testing::Values(VectorCase{"speech", 36.0}, VectorCase{"pitch", 43.5},
                                           VectorCase{"lsp", 25.0}, VectorCase{"fixed", 34.5},
                                           VectorCase{"tame", 35.0}, VectorCase{"parity", 34.5},
                                           VectorCase{"overflow", 0}, VectorCase{"erasure", 0}),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
