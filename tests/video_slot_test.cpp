// The codec slot's video types 0, 1 and 16 through the video module: every
// picture equals libavcodec's own decode of the same units, type 16 equals
// type 1, the frame size follows the stream, the options do what the header
// says, and damaged input gives 0 or a picture.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "support/generators.h"
#include "velkorix/codec_slot.h"
#include "video_support.h"

namespace {

using namespace velkorix::test;

std::unique_ptr<CodecSlot> NewSlot() { return std::make_unique<CodecSlot>(); }

int SlotType(VideoCodec codec) { return codec == VideoCodec::Mpeg4 ? CODEC_TYPE_VIDEO_MPEG4 : CODEC_TYPE_VIDEO_H264; }

// Compares picture by picture, naming the first that differs.
void ExpectSamePictures(const std::vector<Picture> &expected, const std::vector<Picture> &actual, const char *what) {
    ASSERT_EQ(actual.size(), expected.size()) << what;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(actual[i].width, expected[i].width) << what << " picture " << i;
        ASSERT_EQ(actual[i].height, expected[i].height) << what << " picture " << i;
        ASSERT_TRUE(actual[i].bytes == expected[i].bytes) << what << " picture " << i << " differs";
    }
}

class VideoSlotCodec : public ::testing::TestWithParam<VideoCodec> {};

std::string CodecName(const ::testing::TestParamInfo<VideoCodec> &info) {
    return info.param == VideoCodec::Mpeg4 ? "Mpeg4" : "H264";
}

INSTANTIATE_TEST_SUITE_P(Codecs, VideoSlotCodec, ::testing::Values(VideoCodec::Mpeg4, VideoCodec::H264), CodecName);

// Streams with and without B pictures, of even and odd sizes: every picture,
// in order, equals libavcodec's, and pictures held back come out of the drain.
TEST_P(VideoSlotCodec, PicturesEqualLibavcodecs) {
    const VideoCodec codec = GetParam();
    VELKORIX_REQUIRE_ENCODER(codec);
    struct Case {
        int width, height, bFrames;
    } cases[] = {{176, 144, 2}, {176, 144, 0}, {98, 62, 1}};
    for (const Case &c : cases) {
        StreamSpec spec;
        spec.codec = codec;
        spec.width = c.width;
        spec.height = c.height;
        spec.bFrames = c.bFrames;
        const auto units = EncodeStream(spec);
        ASSERT_FALSE(units.empty());
        const auto expected = DecodeDirect(codec, units);
        ASSERT_EQ(expected.size(), static_cast<std::size_t>(spec.frames));
        std::vector<int> answers;
        const auto actual = DecodeThroughSlot(SlotType(codec), units, {}, &answers);
        const std::string what = std::to_string(c.width) + "x" + std::to_string(c.height) + " with " +
                                 std::to_string(c.bFrames) + " B pictures";
        ExpectSamePictures(expected, actual, what.c_str());
        // Without B pictures nothing is held back: every unit gives its picture.
        if (c.bFrames == 0) {
            for (std::size_t i = 0; i < answers.size(); ++i) EXPECT_EQ(answers[i], 1) << what << " unit " << i;
        }
    }
}

// Type 16 input carries 4 bytes before each unit that the slot skips: with
// any prefix the pictures are type 1's.
TEST(VideoSlot, PrefixedH264EqualsPlain) {
    VELKORIX_REQUIRE_ENCODER(VideoCodec::H264);
    StreamSpec spec;
    spec.codec = VideoCodec::H264;
    const auto units = EncodeStream(spec);
    const auto plain = DecodeThroughSlot(CODEC_TYPE_VIDEO_H264, units);
    ASSERT_EQ(plain.size(), static_cast<std::size_t>(spec.frames));
    // 00 00 01 0A and 00 00 01 0B are an end of sequence and an end of stream
    // NAL unit: fed to the decoder they would change the output.
    for (uint32_t prefix : {0u, 0x00000001u, 0xFFFFFFFFu, 0x12345678u, 0x0000010Au, 0x0000010Bu}) {
        const auto prefixed = DecodeThroughSlot(CODEC_TYPE_VIDEO_H264_PREFIXED, units, {}, nullptr, prefix);
        ExpectSamePictures(plain, prefixed, ("prefix " + std::to_string(prefix)).c_str());
    }
    // H.264 decoders shrug off most stray bytes before a start code, so the
    // pictures alone could miss a prefix handed on: the staged bytes are
    // exactly the unit.
    auto slot = std::make_unique<CodecSlot>();
    ASSERT_EQ(CodecSlotCreate(slot.get(), 0, 0, CODEC_TYPE_VIDEO_H264_PREFIXED), 1);
    ASSERT_NE(slot->instance, nullptr);
    for (std::size_t i = 0; i < 3; ++i) {
        Unit in = {0x00, 0x00, 0x01, 0x65};
        in.insert(in.end(), units[i].begin(), units[i].end());
        DecodeUnit(slot.get(), in.data(), in.size());
        EXPECT_EQ(0, std::memcmp(slot->staging, units[i].data(), units[i].size())) << "unit " << i;
    }
    EXPECT_EQ(CodecSlotDestroy(slot.get()), 1);
}

// A stream whose picture size changes (new headers and a key picture): width,
// height and the picture's byte count follow, and every picture is
// libavcodec's.
TEST_P(VideoSlotCodec, SizeFollowsAResolutionChange) {
    const VideoCodec codec = GetParam();
    VELKORIX_REQUIRE_ENCODER(codec);
    StreamSpec first, second, third;
    first.codec = second.codec = third.codec = codec;
    first.frames = second.frames = third.frames = 10;
    second.width = 320;
    second.height = 240;
    third.width = 96;
    third.height = 64;
    std::vector<Unit> units = EncodeStream(first);
    for (const StreamSpec *spec : {&second, &third}) {
        const auto more = EncodeStream(*spec);
        units.insert(units.end(), more.begin(), more.end());
    }
    const auto expected = DecodeDirect(codec, units);
    const auto actual = DecodeThroughSlot(SlotType(codec), units);
    ExpectSamePictures(expected, actual, "resolution change");
    // The sizes come in the stream's order, each segment's pictures at its
    // size. libavcodec's MPEG-4 decoder drops the picture it holds back for
    // reordering when a new size begins (its own decode above does the same),
    // so a segment may be one picture short there.
    const std::size_t lost = codec == VideoCodec::Mpeg4 ? 1 : 0;
    std::size_t at = 0;
    for (const StreamSpec *spec : {&first, &second, &third}) {
        std::size_t n = 0;
        while (at < actual.size() && actual[at].width == spec->width && actual[at].height == spec->height) ++at, ++n;
        EXPECT_GE(n + (spec == &third ? 0 : lost), static_cast<std::size_t>(spec->frames)) << spec->width;
    }
    EXPECT_EQ(at, actual.size());
}

// Width and height given at creation are hints: before the first picture the
// frame size reports them (with 0 bytes and no frame), after it the stream's
// own size; wrong or senseless hints change no picture.
TEST_P(VideoSlotCodec, CreationSizeIsAHint) {
    const VideoCodec codec = GetParam();
    VELKORIX_REQUIRE_ENCODER(codec);
    StreamSpec spec;
    spec.codec = codec;
    spec.frames = 6;
    const auto units = EncodeStream(spec);
    const auto expected = DecodeDirect(codec, units);
    struct Hint {
        int32_t width, height, reportedWidth, reportedHeight;
    } hints[] = {{0, 0, 0, 0}, {1920, 1080, 1920, 1080}, {-5, 7, 0, 0}, {100000, 64, 0, 0}, {176, 144, 176, 144}};
    for (const Hint &hint : hints) {
        auto slot = NewSlot();
        ASSERT_EQ(CodecSlotCreate(slot.get(), hint.width, hint.height, SlotType(codec)), 1);
        ASSERT_NE(slot->instance, nullptr);
        int32_t w = -1, h = -1, bytes = -1;
        EXPECT_EQ(CodecSlotGetFrameSize(slot.get(), &w, &h, &bytes), 1);
        EXPECT_EQ(w, hint.reportedWidth);
        EXPECT_EQ(h, hint.reportedHeight);
        EXPECT_EQ(bytes, 0);
        EXPECT_EQ(CodecSlotGetFrame(slot.get()), nullptr);
        std::vector<Picture> pictures;
        for (const Unit &unit : units)
            if (DecodeUnit(slot.get(), unit.data(), unit.size())) pictures.push_back(CurrentPicture(slot.get()));
        while (DecodeUnit(slot.get(), nullptr, 0)) pictures.push_back(CurrentPicture(slot.get()));
        const std::string what = "hint " + std::to_string(hint.width) + "x" + std::to_string(hint.height);
        ExpectSamePictures(expected, pictures, what.c_str());
        // The last picture stays current after a call that gave none.
        EXPECT_EQ(CodecSlotGetFrameSize(slot.get(), &w, &h, &bytes), 1);
        EXPECT_EQ(w, 176);
        EXPECT_NE(CodecSlotGetFrame(slot.get()), nullptr);
        EXPECT_EQ(CodecSlotDestroy(slot.get()), 1);
    }
}

// The delay option of type 0: 0 hands every picture out of the call that
// decoded it, in decode order, as libavcodec's low-delay mode does; the
// decoder query reports the reordering delay.
TEST(VideoSlot, Mpeg4DelayZeroGivesPicturesInDecodeOrder) {
    VELKORIX_REQUIRE_ENCODER(VideoCodec::Mpeg4);
    StreamSpec spec;
    const auto units = EncodeStream(spec);
    DecodeOptions lowDelay;
    lowDelay.lowDelay = true;
    const auto expected = DecodeDirect(VideoCodec::Mpeg4, units, lowDelay);
    std::vector<int> answers;
    const auto actual = DecodeThroughSlot(CODEC_TYPE_VIDEO_MPEG4, units, lowDelay, &answers);
    ExpectSamePictures(expected, actual, "delay 0");
    for (std::size_t i = 0; i < answers.size(); ++i) EXPECT_EQ(answers[i], 1) << "unit " << i;
    // Reordered, the first unit's picture waits for the next reference.
    const auto reordered = DecodeThroughSlot(CODEC_TYPE_VIDEO_MPEG4, units, {}, &answers);
    EXPECT_EQ(answers.size(), 2 * units.size());
    EXPECT_EQ(answers[units.size()], 0);
    EXPECT_FALSE(reordered == actual);

    auto slot = NewSlot();
    ASSERT_EQ(CodecSlotCreate(slot.get(), 0, 0, CODEC_TYPE_VIDEO_MPEG4), 1);
    EXPECT_EQ(CodecSlotQueryDecoder(slot.get()), 0);
    for (std::size_t i = 0; i < 4; ++i) DecodeUnit(slot.get(), units[i].data(), units[i].size());
    EXPECT_EQ(CodecSlotQueryDecoder(slot.get()), 1);  // B pictures seen: one held back
    CodecSlotDestroy(slot.get());
}

// The decoder flag of type 0 skips the pictures nothing refers to (B-VOPs).
TEST(VideoSlot, Mpeg4DecoderFlagSkipsBPictures) {
    VELKORIX_REQUIRE_ENCODER(VideoCodec::Mpeg4);
    StreamSpec spec;
    const auto units = EncodeStream(spec);
    DecodeOptions skip;
    skip.skipNonReference = true;
    const auto expected = DecodeDirect(VideoCodec::Mpeg4, units, skip);
    const auto actual = DecodeThroughSlot(CODEC_TYPE_VIDEO_MPEG4, units, skip);
    ExpectSamePictures(expected, actual, "B pictures skipped");
    // As many pictures as the stream has VOPs that are not B-VOPs (coding
    // type, the two bits after the VOP start code, other than 2).
    std::size_t references = 0, vops = 0;
    for (const Unit &unit : units)
        for (std::size_t i = 0; i + 4 < unit.size(); ++i)
            if (unit[i] == 0 && unit[i + 1] == 0 && unit[i + 2] == 1 && unit[i + 3] == 0xB6) {
                ++vops;
                references += (unit[i + 4] >> 6) != 2;
            }
    EXPECT_EQ(vops, static_cast<std::size_t>(spec.frames));
    EXPECT_LT(references, vops);
    EXPECT_EQ(actual.size(), references);
}

// Damaged units: the output options choose how damaged macroblocks are
// concealed (bit by bit libavcodec's error concealment), and each choice
// shows in the pictures.
TEST(VideoSlot, Mpeg4OutputOptionsChooseTheConcealment) {
    VELKORIX_REQUIRE_ENCODER(VideoCodec::Mpeg4);
    StreamSpec spec;
    auto units = EncodeStream(spec);
    for (std::size_t i = 3; i < units.size(); i += 4)
        for (std::size_t j = units[i].size() / 3; j < units[i].size() / 3 + 6 && j < units[i].size(); ++j)
            units[i][j] ^= 0x5A;
    std::vector<std::vector<Picture>> results;
    for (int concealment : {0, 1, 2, 3}) {
        DecodeOptions options;
        options.concealment = concealment;
        const auto expected = DecodeDirect(VideoCodec::Mpeg4, units, options);
        const auto actual = DecodeThroughSlot(CODEC_TYPE_VIDEO_MPEG4, units, options);
        ExpectSamePictures(expected, actual, ("concealment " + std::to_string(concealment)).c_str());
        results.push_back(actual);
    }
    // The default is both kinds of concealment.
    ExpectSamePictures(results[3], DecodeThroughSlot(CODEC_TYPE_VIDEO_MPEG4, units), "default concealment");
    EXPECT_FALSE(results[0] == results[3]) << "concealment changed nothing on damaged input";
    EXPECT_FALSE(results[1] == results[3]) << "deblocking changed nothing on damaged input";
}

// Types 1 and 16 take no options: the calls answer 1 and change nothing.
TEST(VideoSlot, H264IgnoresTheType0Options) {
    VELKORIX_REQUIRE_ENCODER(VideoCodec::H264);
    StreamSpec spec;
    spec.codec = VideoCodec::H264;
    const auto units = EncodeStream(spec);
    const auto expected = DecodeDirect(VideoCodec::H264, units);
    DecodeOptions all;
    all.lowDelay = all.skipNonReference = true;
    all.concealment = 0;
    ExpectSamePictures(expected, DecodeThroughSlot(CODEC_TYPE_VIDEO_H264, units, all), "options on type 1");
}

// Draining ends a stream: the decoder then takes a new one from its start.
TEST_P(VideoSlotCodec, AfterADrainANewStreamDecodes) {
    const VideoCodec codec = GetParam();
    VELKORIX_REQUIRE_ENCODER(codec);
    StreamSpec a, b;
    a.codec = b.codec = codec;
    a.frames = b.frames = 9;
    b.seed = 7;
    b.width = 128;
    b.height = 96;
    const auto first = EncodeStream(a), second = EncodeStream(b);
    auto expected = DecodeDirect(codec, first);
    const auto more = DecodeDirect(codec, second);
    expected.insert(expected.end(), more.begin(), more.end());
    auto slot = NewSlot();
    ASSERT_EQ(CodecSlotCreate(slot.get(), 0, 0, SlotType(codec)), 1);
    std::vector<Picture> actual;
    for (const auto *units : {&first, &second}) {
        for (const Unit &unit : *units)
            if (DecodeUnit(slot.get(), unit.data(), unit.size())) actual.push_back(CurrentPicture(slot.get()));
        while (DecodeUnit(slot.get(), nullptr, 0)) actual.push_back(CurrentPicture(slot.get()));
        EXPECT_EQ(DecodeUnit(slot.get(), nullptr, 0), 0);  // drained stays drained
    }
    ExpectSamePictures(expected, actual, "two streams");
    CodecSlotDestroy(slot.get());
}

// The slot's rules hold with a real decoder behind them: input above the
// staging size is refused before anything is copied; a holding slot keeps
// its decoder and its state; destroy clears the slot.
TEST(VideoSlot, SlotRulesHoldWithTheModule) {
    VELKORIX_REQUIRE_ENCODER(VideoCodec::Mpeg4);
    StreamSpec spec;
    spec.frames = 4;
    spec.bFrames = 0;
    const auto units = EncodeStream(spec);
    auto slot = NewSlot();
    ASSERT_EQ(CodecSlotCreate(slot.get(), 0, 0, CODEC_TYPE_VIDEO_MPEG4), 1);
    void *decoder = slot->instance;
    ASSERT_NE(decoder, nullptr);
    ASSERT_EQ(DecodeUnit(slot.get(), units[0].data(), units[0].size()), 1);
    const Picture first = CurrentPicture(slot.get());
    std::vector<uint8_t> huge(CODEC_SLOT_STAGING_SIZE + 1, 0x11);
    std::memset(slot->staging, 0, 16);
    EXPECT_EQ(DecodeUnit(slot.get(), huge.data(), huge.size()), 0);
    EXPECT_EQ(slot->staging[0], 0);
    EXPECT_TRUE(CurrentPicture(slot.get()) == first);
    // A second creation keeps the decoder, which goes on with the stream.
    EXPECT_EQ(CodecSlotCreate(slot.get(), 0, 0, CODEC_TYPE_VIDEO_H264), 1);
    EXPECT_EQ(slot->instance, decoder);
    EXPECT_EQ(slot->type, CODEC_TYPE_VIDEO_MPEG4);
    EXPECT_EQ(DecodeUnit(slot.get(), units[1].data(), units[1].size()), 1);
    const auto expected = DecodeDirect(VideoCodec::Mpeg4, units);
    EXPECT_TRUE(CurrentPicture(slot.get()) == expected[1]);
    // A negative length, or a length without input, is refused.
    EXPECT_EQ(DecodeUnit(slot.get(), units[2].data(), static_cast<std::size_t>(-1) & 0xFFFFFFFFu), 0);
    EXPECT_EQ(DecodeUnit(slot.get(), nullptr, 5), 0);
    EXPECT_EQ(CodecSlotDestroy(slot.get()), 1);
    static const CodecSlot cleared{};
    EXPECT_EQ(std::memcmp(slot.get(), &cleared, sizeof(CodecSlot)), 0);
}

// Damaged, truncated and random units: each call answers 0 or 1, a picture
// that came out matches its frame size, and the decoder takes the intact
// stream afterwards (after a drain) exactly as a fresh one would.
TEST_P(VideoSlotCodec, DamagedInputGivesZeroOrAPicture) {
    const VideoCodec codec = GetParam();
    VELKORIX_REQUIRE_ENCODER(codec);
    StreamSpec spec;
    spec.codec = codec;
    const auto units = EncodeStream(spec);
    const auto expected = DecodeDirect(codec, units);
    for (int32_t type : codec == VideoCodec::Mpeg4 ? std::vector<int32_t>{0} : std::vector<int32_t>{1, 16}) {
        auto slot = NewSlot();
        ASSERT_EQ(CodecSlotCreate(slot.get(), 0, 0, type), 1);
        Lcg random(static_cast<uint32_t>(type) + 99);
        for (int round = 0; round < 6; ++round) {
            for (const Unit &unit : units) {
                Unit damaged = unit;
                switch (round) {
                    case 0:  // bytes flipped
                        for (int k = 0; k < 4; ++k)
                            damaged[random.Below(static_cast<uint32_t>(damaged.size()))] ^= 1u << random.Below(8);
                        break;
                    case 1:  // cut short
                        damaged.resize(random.Below(static_cast<uint32_t>(damaged.size())));
                        break;
                    case 2:  // random bytes
                        for (auto &b : damaged) b = static_cast<uint8_t>(random.Next() >> 24);
                        break;
                    case 3:  // random bytes behind a start code
                        for (auto &b : damaged) b = static_cast<uint8_t>(random.Next() >> 24);
                        if (damaged.size() > 4) damaged[0] = damaged[1] = 0, damaged[2] = 1;
                        break;
                    case 4:  // units joined and cut at random places
                    {
                        const Unit &other = units[random.Below(static_cast<uint32_t>(units.size()))];
                        damaged.insert(damaged.end(), other.begin(), other.end());
                    }
                        damaged.erase(damaged.begin(),
                                      damaged.begin() + random.Below(static_cast<uint32_t>(damaged.size())));
                        break;
                    default:  // headers and pictures dropped
                        if (random.Below(3) == 0) continue;
                        break;
                }
                const int32_t answer = DecodeUnit(slot.get(), damaged.data(), damaged.size());
                ASSERT_TRUE(answer == 0 || answer == 1) << answer;
                if (answer) CurrentPicture(slot.get());
            }
            while (DecodeUnit(slot.get(), nullptr, 0)) CurrentPicture(slot.get());
        }
        std::vector<Picture> after;
        Unit staged;
        for (const Unit &unit : units) {
            staged.assign(type == 16 ? 4 : 0, 0xAB);
            staged.insert(staged.end(), unit.begin(), unit.end());
            if (DecodeUnit(slot.get(), staged.data(), staged.size())) after.push_back(CurrentPicture(slot.get()));
        }
        while (DecodeUnit(slot.get(), nullptr, 0)) after.push_back(CurrentPicture(slot.get()));
        ExpectSamePictures(expected, after, "intact stream after damage");
        EXPECT_EQ(CodecSlotDestroy(slot.get()), 1);
    }
}

// Create, decode part of a stream (pictures still held back) and release,
// many times: everything the decoder holds is freed (the sanitizer build's
// leak check sees every block, libavcodec's included).
TEST_P(VideoSlotCodec, ReleaseMidStreamFreesEverything) {
    const VideoCodec codec = GetParam();
    VELKORIX_REQUIRE_ENCODER(codec);
    StreamSpec spec;
    spec.codec = codec;
    spec.frames = 8;
    const auto units = EncodeStream(spec);
    for (std::size_t cut = 0; cut <= units.size(); ++cut) {
        auto slot = NewSlot();
        ASSERT_EQ(CodecSlotCreate(slot.get(), 64, 64, SlotType(codec)), 1);
        for (std::size_t i = 0; i < cut; ++i) DecodeUnit(slot.get(), units[i].data(), units[i].size());
        EXPECT_EQ(CodecSlotDestroy(slot.get()), 1);
        EXPECT_EQ(slot->instance, nullptr);
    }
}

}  // namespace
