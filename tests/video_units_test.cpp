// The tool's cutting of video elementary streams into the slot's units: the
// encoders' packets, written back to back, come apart into exactly those
// packets.
#include <gtest/gtest.h>

#include "video_support.h"
#include "video_units.h"

namespace {

using namespace velkorix::test;
using velkorix::cli::video::SplitUnits;
using velkorix::cli::video::UnitFormat;
using velkorix::cli::video::UnitSpan;

std::vector<Unit> Split(UnitFormat format, const Unit &stream) {
    std::vector<UnitSpan> spans;
    std::string error;
    EXPECT_TRUE(SplitUnits(format, stream.data(), stream.size(), &spans, &error)) << error;
    std::vector<Unit> units;
    for (const UnitSpan &s : spans) units.emplace_back(stream.begin() + s.offset, stream.begin() + s.offset + s.size);
    return units;
}

TEST(VideoUnits, EncoderPacketsComeBackApart) {
    for (VideoCodec codec : {VideoCodec::Mpeg4, VideoCodec::H264}) {
        VELKORIX_REQUIRE_ENCODER(codec);
        for (int bFrames : {0, 2}) {
            StreamSpec spec;
            spec.codec = codec;
            spec.bFrames = bFrames;
            spec.frames = 30;
            const auto packets = EncodeStream(spec);
            ASSERT_FALSE(packets.empty());
            Unit stream;
            for (const Unit &p : packets) stream.insert(stream.end(), p.begin(), p.end());
            const auto units =
                Split(codec == VideoCodec::Mpeg4 ? UnitFormat::Mpeg4Visual : UnitFormat::H264AnnexB, stream);
            EXPECT_EQ(units, packets) << (codec == VideoCodec::Mpeg4 ? "MPEG-4" : "H.264") << ", " << bFrames
                                      << " B pictures";
        }
    }
}

TEST(VideoUnits, LengthPrefixedRecords) {
    const Unit stream = {0, 0, 0, 2, 0xAA, 0xBB, 0, 0, 0, 0, 0, 0, 0, 1, 0xCC};
    const auto units = Split(UnitFormat::LengthPrefixed, stream);
    ASSERT_EQ(units.size(), 3u);
    EXPECT_EQ(units[0], (Unit{0, 0, 0, 2, 0xAA, 0xBB}));
    EXPECT_EQ(units[1], (Unit{0, 0, 0, 0}));
    EXPECT_EQ(units[2], (Unit{0, 0, 0, 1, 0xCC}));

    std::vector<UnitSpan> spans;
    std::string error;
    const Unit cut = {0, 0, 0, 2, 0xAA, 0xBB, 0, 0, 0, 9, 1};
    EXPECT_FALSE(SplitUnits(UnitFormat::LengthPrefixed, cut.data(), cut.size(), &spans, &error));
    EXPECT_EQ(spans.size(), 1u);
    EXPECT_NE(error.find("byte 6"), std::string::npos) << error;
    EXPECT_FALSE(SplitUnits(UnitFormat::LengthPrefixed, cut.data(), 8, &spans, &error));
}

// Any bytes: the units cover the input exactly, in order, none empty.
TEST(VideoUnits, AnyInputIsCoveredExactly) {
    Unit stream(5000);
    uint32_t x = 7;
    for (auto &b : stream) {
        x = x * 1103515245u + 12345u;
        const uint32_t r = x >> 24;
        b = r < 96 ? 0 : r < 128 ? 1 : static_cast<uint8_t>(r);  // many start codes
    }
    for (UnitFormat format : {UnitFormat::Mpeg4Visual, UnitFormat::H264AnnexB}) {
        for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{3}, std::size_t{4}, stream.size()}) {
            std::vector<UnitSpan> spans;
            std::string error;
            ASSERT_TRUE(SplitUnits(format, stream.data(), size, &spans, &error));
            std::size_t at = 0;
            for (const UnitSpan &s : spans) {
                EXPECT_EQ(s.offset, at);
                EXPECT_GT(s.size, 0u);
                at += s.size;
            }
            EXPECT_EQ(at, size);
        }
    }
}

}  // namespace
