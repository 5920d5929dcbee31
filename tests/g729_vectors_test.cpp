// The ITU-T G.729 Annex A test vectors: every vector decodes, and each holds
// its SNR floor against the fixed-point reference decoder's output.
#include <gtest/gtest.h>

#include <cstdio>
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

INSTANTIATE_TEST_SUITE_P(Itu, G729Vectors,
                         ::testing::Values(VectorCase{"speech", 36.0}, VectorCase{"pitch", 43.5},
                                           VectorCase{"lsp", 25.0}, VectorCase{"fixed", 34.5},
                                           VectorCase{"tame", 35.0}, VectorCase{"parity", 34.5},
                                           VectorCase{"overflow", 0}, VectorCase{"erasure", 0}),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
