// Codec slot rules: creation, decode dispatch, destruction, queries and
// options, for audio and video types.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "common/aligned.h"
#include "g726_stream/g726_stream.h"
#include "test_support.h"
#include "velkorix/codec_slot.h"

namespace {

using namespace velkorix::g726_stream;

std::unique_ptr<CodecSlot> NewSlot() { return std::unique_ptr<CodecSlot>(new CodecSlot()); }

bool IsCleared(const CodecSlot &slot) {
    static const CodecSlot zero{};
    return std::memcmp(&slot, &zero, sizeof(CodecSlot)) == 0;
}

TEST(CodecSlot, TypesThatNameNoDecoder) {
    auto slot = NewSlot();
    for (int32_t type : {3, 5, 7, 11, 12, 15, 17, 255, -1}) {
        EXPECT_EQ(CodecSlotCreate(slot.get(), 0, 0, type), 0) << type;
        EXPECT_TRUE(IsCleared(*slot));
        slot->type = type;
        EXPECT_EQ(CodecSlotDecode(slot.get()), 1) << type;
        EXPECT_EQ(CodecSlotDestroy(slot.get()), 0) << type;
        slot->type = 0;
    }
}

TEST(CodecSlot, NullSlot) {
    EXPECT_EQ(CodecSlotCreate(nullptr, 0, 0, 4), 0);
    EXPECT_EQ(CodecSlotDecode(nullptr), 0);
    EXPECT_EQ(CodecSlotDestroy(nullptr), 0);
    EXPECT_EQ(CodecSlotGetFrame(nullptr), nullptr);
    EXPECT_EQ(CodecSlotSetOutputOptions(nullptr, 1, 1), 0);
    EXPECT_EQ(CodecSlotQueryDecoder(nullptr), 0);
    EXPECT_EQ(CodecSlotSetDelay(nullptr, 1), 0);
    EXPECT_EQ(CodecSlotSetDecoderFlag(nullptr, 1), 0);
}

TEST(CodecSlot, HoldingSlotKeepsItsDecoderAndState) {
    auto slot = NewSlot();
    ASSERT_EQ(CodecSlotCreate(slot.get(), 0, 0, 4), 1);
    void *first = slot->instance;
    ASSERT_NE(first, nullptr);
    const uint8_t payload[3] = {0x88, 0xC6, 0xFA};
    int16_t out[8];
    slot->input = payload;
    slot->inputLength = 3;
    slot->output = reinterpret_cast<uint8_t *>(out);
    ASSERT_EQ(CodecSlotDecode(slot.get()), 1);
    const G726StreamDecoder state = *static_cast<G726StreamDecoder *>(first);
    EXPECT_EQ(CodecSlotCreate(slot.get(), 0, 0, 4), 1);
    EXPECT_EQ(slot->instance, first);
    EXPECT_EQ(std::memcmp(&state, first, sizeof(state)), 0);
    // Even a request for another type leaves the held decoder alone.
    EXPECT_EQ(CodecSlotCreate(slot.get(), 0, 0, 8), 1);
    EXPECT_EQ(slot->instance, first);
    EXPECT_EQ(slot->type, 4);
    EXPECT_EQ(CodecSlotDestroy(slot.get()), 1);
    EXPECT_TRUE(IsCleared(*slot));
}

TEST(CodecSlot, AudioTypeWithoutInstance) {
    auto slot = NewSlot();
    for (int32_t type : {4, 6, 8, 9, 10}) {
        std::memset(slot.get(), 0, sizeof(CodecSlot));
        slot->type = type;
        slot->inputLength = 77;
        EXPECT_EQ(CodecSlotDecode(slot.get()), 0) << type;
        // Nothing to release: the slot is left as it was, not cleared.
        EXPECT_EQ(CodecSlotDestroy(slot.get()), 1) << type;
        EXPECT_EQ(slot->type, type);
        EXPECT_EQ(slot->inputLength, 77);
    }
}

TEST(CodecSlot, AllocationFailureStillReportsCreated) {
    auto slot = NewSlot();
    const auto previous = velkorix::SetRawAllocator({[](std::size_t) -> void * { return nullptr; }, nullptr});
    const int32_t created = CodecSlotCreate(slot.get(), 0, 0, 4);
    velkorix::SetRawAllocator(previous);
    EXPECT_EQ(created, 1);
    EXPECT_EQ(slot->type, 4);
    EXPECT_EQ(slot->instance, nullptr);
    EXPECT_EQ(CodecSlotDecode(slot.get()), 0);
}

TEST(CodecSlot, StreamDecoderThroughTheSlot) {
    auto slot = NewSlot();
    ASSERT_EQ(CodecSlotCreate(slot.get(), 0, 0, 4), 1);
    std::vector<uint8_t> payload(120);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 29 + 3);
    std::vector<uint8_t> out(642, 0xEE);
    slot->input = payload.data();
    slot->inputLength = 120;
    slot->output = out.data() + 1;  // an odd address is fine
    EXPECT_EQ(CodecSlotDecode(slot.get()), 1);
    EXPECT_EQ(out[641], 0xEE);  // exactly 640 bytes written

    G726StreamDecoder *direct = G726StreamDecoderCreate();
    std::vector<int16_t> expected(320);
    G726StreamDecoderDecode(direct, payload.data(), expected.data(), 120);
    G726StreamDecoderDestroy(direct);
    EXPECT_EQ(std::memcmp(out.data() + 1, expected.data(), 640), 0);
    CodecSlotDestroy(slot.get());
}

TEST(CodecSlot, FrameQueriesOfAudioTypes) {
    auto slot = NewSlot();
    int32_t w = -1, h = -1, t = -1;
    for (int32_t type : {4, 8}) {
        slot->type = type;
        uint8_t buffer[4];
        slot->output = buffer;
        EXPECT_EQ(CodecSlotGetFrameSize(slot.get(), &w, &h, &t), 1);
        EXPECT_EQ(w, 640);
        EXPECT_EQ(h, 0);
        EXPECT_EQ(t, 0);
        EXPECT_EQ(CodecSlotGetFrame(slot.get()), buffer);
        EXPECT_EQ(CodecSlotQueryDecoder(slot.get()), 0);
        EXPECT_EQ(CodecSlotSetDelay(slot.get(), 5), 1);
        EXPECT_EQ(CodecSlotSetDecoderFlag(slot.get(), 5), 1);
        EXPECT_EQ(CodecSlotSetOutputOptions(slot.get(), 0, 0), 1);
    }
    // Other types write nothing and answer 1.
    slot->type = 6;
    w = h = t = -7;
    EXPECT_EQ(CodecSlotGetFrameSize(slot.get(), &w, &h, &t), 1);
    EXPECT_EQ(w, -7);
    EXPECT_EQ(CodecSlotGetFrame(slot.get()), nullptr);
}

TEST(CodecSlot, StagedVideoTypes) {
    auto slot = NewSlot();
    for (int32_t type : {0, 1, 16}) {
        std::memset(slot.get(), 0, sizeof(CodecSlot));
        slot->type = type;
        int32_t w = 0, h = 0, t = 0;
        // Without an instance.
        EXPECT_EQ(CodecSlotDecode(slot.get()), 0);
        EXPECT_EQ(CodecSlotGetFrameSize(slot.get(), &w, &h, &t), 0);
        EXPECT_EQ(CodecSlotQueryDecoder(slot.get()), -1);
        EXPECT_EQ(CodecSlotGetFrame(slot.get()), nullptr);

        slot->type = 0;
        ASSERT_EQ(CodecSlotCreate(slot.get(), 352, 288, type), 1);
        ASSERT_NE(slot->instance, nullptr);
        EXPECT_EQ(CodecSlotGetFrameSize(slot.get(), &w, &h, &t), 1);
        EXPECT_EQ(w, 352);
        EXPECT_EQ(h, 288);

        std::vector<uint8_t> input(CODEC_SLOT_STAGING_SIZE + 1);
        for (std::size_t i = 0; i < 64; ++i) input[i] = static_cast<uint8_t>(i + 1);
        slot->input = input.data();
        slot->inputLength = CODEC_SLOT_STAGING_SIZE + 1;
        EXPECT_EQ(CodecSlotDecode(slot.get()), 0);
        EXPECT_EQ(slot->staging[0], 0);  // refused before anything is copied
        slot->inputLength = 64;
        // Bytes that hold no picture: staged, decoded, no picture (0).
        EXPECT_EQ(CodecSlotDecode(slot.get()), 0);
        EXPECT_EQ(slot->staging[0], type == 16 ? 5 : 1);
        EXPECT_EQ(CodecSlotDestroy(slot.get()), 1);
        EXPECT_TRUE(IsCleared(*slot));
    }
}

TEST(CodecSlot, Type0Options) {
    auto slot = NewSlot();
    slot->type = 0;
    EXPECT_EQ(CodecSlotSetDelay(slot.get(), 3), 0);
    EXPECT_EQ(CodecSlotSetDecoderFlag(slot.get(), 3), 0);
    EXPECT_EQ(CodecSlotSetOutputOptions(slot.get(), 1, 2), 0);
    slot->type = 0;
    ASSERT_EQ(CodecSlotCreate(slot.get(), 176, 144, 0), 1);
    EXPECT_EQ(CodecSlotSetDelay(slot.get(), 3), 1);
    EXPECT_EQ(CodecSlotSetDecoderFlag(slot.get(), 3), 1);
    EXPECT_EQ(CodecSlotSetOutputOptions(slot.get(), 1, 2), 1);
    CodecSlotDestroy(slot.get());
}

TEST(CodecSlot, BlockVideoSizeTravelsInTheInput) {
    auto slot = NewSlot();
    velkorix::test::DebugCapture capture;
    ASSERT_EQ(CodecSlotCreate(slot.get(), 160, 112, 2), 1);
    EXPECT_EQ(slot->width, 160);
    EXPECT_EQ(slot->height, 112);
    ASSERT_NE(slot->output, nullptr);
    std::vector<uint8_t> input(100, 0x42);

    input[0] = 10;  // 160 x 112: accepted (the frame decode of this build answers 0)
    input[1] = 7;
    slot->input = input.data();
    slot->inputLength = 100;
    EXPECT_EQ(CodecSlotDecode(slot.get()), 0);
    EXPECT_TRUE(capture.Messages().empty());
    EXPECT_EQ(slot->staging[0], 0x42);  // the picture bytes after the size bytes

    input[0] = 9;  // 144 x 112: refused with a diagnostic
    EXPECT_EQ(CodecSlotDecode(slot.get()), 0);
    EXPECT_EQ(capture.Messages().size(), 1u);

    input[0] = 45;  // 720 wide: refused
    EXPECT_EQ(CodecSlotDecode(slot.get()), 0);
    input[0] = 44;  // 704 x 576: accepted, decoder and frame buffer follow the size
    input[1] = 36;
    EXPECT_EQ(CodecSlotDecode(slot.get()), 0);
    EXPECT_EQ(slot->width, 704);
    EXPECT_EQ(slot->height, 576);
    ASSERT_NE(slot->output, nullptr);
    std::memset(slot->output, 1, 3 * 704 * 576);  // the whole frame buffer is writable
    EXPECT_EQ(capture.Messages().size(), 2u);

    slot->inputLength = CODEC_SLOT_STAGING_SIZE + 1;
    EXPECT_EQ(CodecSlotDecode(slot.get()), 0);

    // Options: a zero value turns conversion off.
    EXPECT_EQ(CodecSlotSetOutputOptions(slot.get(), 0, 0), 1);
    EXPECT_EQ(slot->skipConversion, 1);
    EXPECT_EQ(CodecSlotSetOutputOptions(slot.get(), 5, 0), 1);
    EXPECT_EQ(slot->skipConversion, 0);
    int32_t w, h, t;
    EXPECT_EQ(CodecSlotGetFrameSize(slot.get(), &w, &h, &t), 1);
    EXPECT_EQ(w, 704);
    EXPECT_EQ(CodecSlotGetFrame(slot.get()), slot->output);

    EXPECT_EQ(CodecSlotDestroy(slot.get()), 1);
    EXPECT_TRUE(IsCleared(*slot));
    // Type 2 is always cleared, even with nothing to release.
    slot->type = 2;
    slot->width = 5;
    EXPECT_EQ(CodecSlotDestroy(slot.get()), 1);
    EXPECT_TRUE(IsCleared(*slot));
}

TEST(CodecSlot, BlockVideoHeightLimits) {
    auto slot = NewSlot();
    velkorix::test::DebugCapture capture;
    ASSERT_EQ(CodecSlotCreate(slot.get(), 160, 112, 2), 1);
    std::vector<uint8_t> input(64, 0x42);
    slot->input = input.data();
    slot->inputLength = 64;
    input[0] = 20;  // 320 wide, a width inside the range
    // Heights below 112 and above 576 are refused before anything is staged
    // or the decoder replaced; 112 and 576 themselves are taken.
    for (uint8_t rows : {0, 1, 6, 37, 38, 255}) {
        input[1] = rows;
        capture.Clear();
        EXPECT_EQ(CodecSlotDecode(slot.get()), 0) << "height " << rows * 16;
        EXPECT_EQ(capture.Count("VIDEO FRAME SIZE OUT OF RANGE\n"), 1) << "height " << rows * 16;
        EXPECT_EQ(slot->width, 160) << "height " << rows * 16;
        EXPECT_EQ(slot->height, 112) << "height " << rows * 16;
        EXPECT_EQ(slot->staging[0], 0) << "height " << rows * 16;
    }
    for (uint8_t rows : {7, 36}) {
        input[1] = rows;
        capture.Clear();
        CodecSlotDecode(slot.get());
        EXPECT_TRUE(capture.Messages().empty()) << "height " << rows * 16;
        EXPECT_EQ(slot->height, rows * 16);
    }
    EXPECT_EQ(slot->staging[0], 0x42);
    CodecSlotDestroy(slot.get());
}

// Heap blocks of at most this many bytes are granted, larger ones refused: the
// type-2 decoder's record is small, its frame buffer is not.
void *SmallBlocksOnly(std::size_t size) { return size <= 4096 ? std::malloc(size) : nullptr; }

// When the decoder (or its frame buffer) for a new frame size cannot be
// created, the decode refuses with 0, as for every type without a decoder:
// nothing is staged and no frame decode runs on a null decoder or into a
// null frame buffer.
TEST(CodecSlot, BlockVideoWithoutADecoderIsRefused) {
    std::vector<uint8_t> input(100, 0x42);
    input[0] = 11;  // 176 x 112, a size other than the one created
    input[1] = 7;
    struct Case {
        const char *what;
        void *(*allocate)(std::size_t);
        bool decoder, frameBuffer;
    } cases[] = {
        {"no heap at all", [](std::size_t) -> void * { return nullptr; }, false, false},
        {"no frame buffer", &SmallBlocksOnly, true, false},
    };
    for (const Case &c : cases) {
        auto slot = NewSlot();
        ASSERT_EQ(CodecSlotCreate(slot.get(), 160, 112, 2), 1);
        slot->input = input.data();
        slot->inputLength = 100;
        const auto previous = velkorix::SetRawAllocator({c.allocate, nullptr});
        const int32_t result = CodecSlotDecode(slot.get());
        velkorix::SetRawAllocator(previous);
        EXPECT_EQ(result, 0) << c.what;
        EXPECT_EQ(slot->instance != nullptr, c.decoder) << c.what;
        EXPECT_EQ(slot->output != nullptr, c.frameBuffer) << c.what;
        EXPECT_EQ(slot->staging[0], 0) << c.what << ": input staged with nowhere to decode it";
        EXPECT_EQ(CodecSlotDestroy(slot.get()), 1);
        EXPECT_TRUE(IsCleared(*slot));
    }
}

TEST(CodecSlot, BlockVideoInputTooShortForItsSize) {
    auto slot = NewSlot();
    slot->type = 2;
    const uint8_t one[1] = {10};
    slot->input = one;
    slot->inputLength = 1;
    EXPECT_EQ(CodecSlotDecode(slot.get()), 0);
    CodecSlotDestroy(slot.get());
}

}  // namespace
