// A caller's state block that no reset produced (damaged, foreign, or simply
// uninitialised) must not drive the codecs outside their arithmetic: every
// call stays defined (the sanitizer build checks that) and answers sensibly.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "test_support.h"
#include "voice/adpcm2.h"
#include "velkorix/qx_voice.h"

namespace {

using velkorix::test::Lcg;

const int16_t kTypes[] = {G711_A,      G711_U,      G711_A_SWAP, G711_U_SWAP, ADPCM_PRED,  ADPCM_FIRST,
                          ADPCM_BARE,  G726_16,     G726_24,     G726_32,     G726_40,     G726_16_MSB,
                          G726_24_MSB, G726_32_MSB, G726_40_MSB, ADPCM2_LINEAR};

TEST(VoiceDamagedState, RandomStateBytesStayDefined) {
    Lcg rng(4242);
    for (int round = 0; round < 400; ++round) {
        const int16_t type = kTypes[round % (sizeof(kTypes) / sizeof(kTypes[0]))];
        VoiceState decoder, encoder;
        auto *d = reinterpret_cast<uint8_t *>(&decoder);
        auto *e = reinterpret_cast<uint8_t *>(&encoder);
        for (std::size_t i = 0; i < sizeof(VoiceState); ++i) {
            d[i] = static_cast<uint8_t>(rng.Next() >> 24);
            e[i] = static_cast<uint8_t>(rng.Next() >> 24);
        }
        std::memcpy(d, &type, 2);
        std::memcpy(e, &type, 2);

        std::vector<int16_t> pcm(160);
        for (auto &s : pcm) s = static_cast<int16_t>(rng.Next() >> 16);
        std::vector<uint8_t> frame(VOICE_FRAME_MAX_BYTES + 8);
        ASSERT_EQ(QX_VOICE_EncodeFrame(&encoder, pcm.data(), reinterpret_cast<VoiceFrame *>(frame.data()), 160), 0);
        std::vector<int16_t> out(VOICE_MAX_SAMPLES);
        int16_t count = -1;
        const int32_t result =
            QX_VOICE_DecodeFrame(&decoder, reinterpret_cast<VoiceFrame *>(frame.data()), out.data(), &count);
        if (result == 0)
            EXPECT_GT(count, 0) << "type " << type;
        else
            EXPECT_EQ(count, 0) << "type " << type;
    }
}

// Found by the voice fuzz target: a 2-bit ADPCM state whose speed-control
// parameter and scale factors no adaptation produces put the inverse
// quantizer's shift out of range.
TEST(VoiceDamagedState, TwoBitAdpcmWithAStrayScaleFactor) {
    VoiceState state;
    ASSERT_EQ(QX_VOICE_DecReset(&state, ADPCM2_LINEAR), 0);
    velkorix::voice::Adpcm2State codec;
    std::memcpy(&codec, reinterpret_cast<uint8_t *>(&state) + 4, sizeof(codec));
    codec.AP = -30000;
    codec.YU = 5120;
    codec.YL = 34816;
    std::memcpy(reinterpret_cast<uint8_t *>(&state) + 4, &codec, sizeof(codec));
    std::vector<uint8_t> frame(4 + 2 * 10, 0xCA);
    frame[0] = 0x00;
    frame[1] = 0x01;
    frame[2] = 10;
    frame[3] = 0;
    std::vector<int16_t> out(VOICE_MAX_SAMPLES);
    int16_t count = 0;
    EXPECT_EQ(QX_VOICE_DecodeFrame(&state, reinterpret_cast<VoiceFrame *>(frame.data()), out.data(), &count), 0);
    EXPECT_EQ(count, 80);
}

}  // namespace
