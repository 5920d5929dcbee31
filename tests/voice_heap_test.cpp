// The voice library allocates nothing: every call, on its success and failure
// paths, runs with a heap counter watching operator new and (outside the
// sanitizer builds, which own malloc) the C allocation functions. The voice
// binding's per-call decode is held to the same rule.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "velkorix/codec_slot.h"
#include "velkorix/qx_voice.h"
#include "heap_counter.h"
#include "voice_signals.h"

namespace {

using velkorix::test::HeapCallsDuring;

TEST(VoiceHeap, TheCounterSeesAllocations) {
    // The watch itself must work, or the tests below prove nothing.
    EXPECT_GE(HeapCallsDuring([] {
                  int *volatile p = new int(1);
                  delete p;
              }),
              1);
    EXPECT_GE(HeapCallsDuring([] { std::vector<char> v(100); }), 1);
    if (velkorix::test::CountsMalloc()) {
        EXPECT_EQ(HeapCallsDuring([] {
                      void *volatile p = std::malloc(10);
                      std::free(p);
                  }),
                  1);
    }
}

constexpr int16_t kAllTypes[] = {G711_A,      G711_U,      ADPCM_PRED,  G726_16,     G726_24,     G726_32,
                                 G726_40,     ADPCM_FIRST, G726_16_MSB, G726_24_MSB, G726_32_MSB, G726_40_MSB,
                                 G711_A_SWAP, G711_U_SWAP, ADPCM_BARE,  ADPCM2_LINEAR};

TEST(VoiceHeap, NoFunctionAllocates) {
    const auto pcm = velkorix::test::SpeechLike(VOICE_MAX_SAMPLES, 51);
    char version[VOICE_VERSION_BYTES];
    EXPECT_EQ(HeapCallsDuring([&] {
                  QX_VOICE_GetVersion(version);
                  QX_VOICE_GetVersion(nullptr);
              }),
              0);
    for (int16_t type : kAllTypes) {
        VoiceState enc, dec;
        long calls = HeapCallsDuring([&] {
            QX_VOICE_EncReset(&enc, type);
            QX_VOICE_DecReset(&dec, type);
        });
        EXPECT_EQ(calls, 0) << "reset, type " << type;
        for (int count : {1, 80, 160, 321, 480, 481}) {
            VoiceFrame frame;
            int16_t out[VOICE_MAX_SAMPLES];
            int16_t decoded = 0;
            calls = HeapCallsDuring([&] {
                QX_VOICE_EncodeFrame(&enc, pcm.data(), &frame, static_cast<int16_t>(count));
                QX_VOICE_DecodeFrame(&dec, &frame, out, &decoded);
            });
            EXPECT_EQ(calls, 0) << "type " << type << ", " << count << " samples";
        }
        // Failure paths.
        VoiceFrame bad;
        std::memset(&bad, 0, sizeof(bad));
        int16_t out[VOICE_MAX_SAMPLES];
        int16_t decoded = 0;
        calls = HeapCallsDuring([&] {
            QX_VOICE_EncodeFrame(&enc, pcm.data(), &bad, 0);
            QX_VOICE_EncodeFrame(nullptr, pcm.data(), &bad, 10);
            QX_VOICE_DecodeFrame(&dec, &bad, out, &decoded);
            bad.flags[1] = 1;
            bad.length = 255;
            QX_VOICE_DecodeFrame(&dec, &bad, out, &decoded);
            QX_VOICE_DecodeFrame(&dec, nullptr, out, &decoded);
        });
        EXPECT_EQ(calls, 0) << "failures, type " << type;
    }
    VoiceState state;
    EXPECT_EQ(HeapCallsDuring([&] {
                  QX_VOICE_EncReset(&state, 8);
                  QX_VOICE_DecReset(&state, 8);
                  QX_VOICE_EncReset(nullptr, 1);
              }),
              0);
}

TEST(VoiceHeap, TranscodingAllocatesNothing) {
    const auto pcm = velkorix::test::SpeechLike(160, 52);
    const struct {
        int16_t selector, source;
    } cases[] = {{TRANS_G711_A, G711_A_SWAP}, {TRANS_G711_U, G711_U_SWAP}, {TRANS_ADPCM, ADPCM_BARE}, {TRANS_ADPCM2, ADPCM2_LINEAR}};
    for (const auto &c : cases) {
        VoiceState source;
        QX_VOICE_EncReset(&source, c.source);
        VoiceFrame frame;
        QX_VOICE_EncodeFrame(&source, pcm.data(), &frame, 160);
        VoiceTransState state;
        const long calls = HeapCallsDuring([&] {
            QX_VOICE_TransCodeReset(&state, c.selector);
            QX_VOICE_TransCodeFrame(&state, &frame);
            QX_VOICE_TransCodeReset(&state, 5);
            QX_VOICE_TransCodeReset(nullptr, c.selector);
            QX_VOICE_TransCodeFrame(nullptr, &frame);
            QX_VOICE_TransCodeFrame(&state, nullptr);
        });
        EXPECT_EQ(calls, 0) << "selector " << c.selector;
    }
}

TEST(VoiceHeap, TheBindingDecodesWithoutAllocating) {
    static CodecSlot slot;  // large: keep it off the stack
    std::vector<uint8_t> payload(3000, 0x55);
    std::vector<uint8_t> output(100000);
    for (int32_t type : {6, 9, 10}) {
        std::memset(&slot, 0, sizeof(slot));
        ASSERT_EQ(CodecSlotCreate(&slot, 0, 0, type), 1);
        ASSERT_NE(slot.instance, nullptr);
        for (int32_t length : {0, 1, 164, 300, 2044, 3000}) {
            slot.input = payload.data();
            slot.inputLength = length;
            slot.output = output.data();
            const long calls = HeapCallsDuring([&] { CodecSlotDecode(&slot); });
            EXPECT_EQ(calls, 0) << "type " << type << ", " << length << " bytes";
        }
        CodecSlotDestroy(&slot);
    }
}

}  // namespace
