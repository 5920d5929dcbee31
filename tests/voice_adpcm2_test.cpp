// The 2-bit linear ADPCM (voice type 68): the per-sample update worked by
// hand, the payload layout, frame lengths, and encoder/decoder lock-step.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "velkorix/qx_voice.h"
#include "voice/adpcm2.h"
#include "voice_signals.h"

namespace {

using namespace velkorix::voice;

Adpcm2State StateOf(const VoiceState &state) {
    Adpcm2State s;
    std::memcpy(&s, reinterpret_cast<const uint8_t *>(&state) + 4, sizeof(s));
    return s;
}

TEST(Adpcm2, FirstSampleFromResetWorkedByHand) {
    Adpcm2State s, d;
    std::memset(&s, 0, sizeof(s));  // padding too: the states are compared bytewise
    std::memset(&d, 0, sizeof(d));
    Adpcm2Reset(s);
    // Y = 544; D = 1000, log 1274, DLN 1138: large and positive.
    ASSERT_EQ(Adpcm2EncodeSample(s, 1000), 1);
    // DQL = 136 + 365 = 501, DQ = (117 + 128) * 128 >> 11 = 15; SR = 15.
    EXPECT_EQ(s.DQ[5], 15);
    EXPECT_EQ(s.SR1, 7);
    EXPECT_EQ(s.SR2, 16);
    EXPECT_EQ(s.YU, 966);          // 544 + ((439 * 32 - 544) >> 5)
    EXPECT_EQ(s.YL, 34816 + 966 - 544);
    EXPECT_EQ(s.DMS, 112);
    EXPECT_EQ(s.DML, 112);
    EXPECT_EQ(s.A2, 128);          // (+1 * 4096) >> 5
    EXPECT_EQ(s.A1, 192);
    EXPECT_EQ(s.AP, 32);
    EXPECT_EQ(s.TD, 0);
    EXPECT_EQ(s.PK1, 15);
    EXPECT_EQ(s.PK2, 0);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(s.B[i], 64) << i;
    for (int i = 0; i < 5; ++i) EXPECT_EQ(s.DQ[i], 32) << i;

    Adpcm2Reset(d);
    EXPECT_EQ(Adpcm2DecodeSample(d, 1), 15);
    EXPECT_EQ(std::memcmp(&s, &d, sizeof(s)), 0);
}

TEST(Adpcm2, AllZeroCodesKeepTheScaleAtRest) {
    Adpcm2State s;
    Adpcm2Reset(s);
    for (int i = 0; i < 8000; ++i) {
        Adpcm2DecodeSample(s, 0);
        ASSERT_EQ(s.YU, 544);
        ASSERT_EQ(s.YL, 34816);
    }
}

TEST(Adpcm2, PayloadPutsTheFirstCodeOfEachWordInTheTopBits) {
    // Words 0x1B1B and 0xC001 (bytes 1B 1B and 01 C0) hold the codes
    // 0,1,2,3,0,1,2,3 and 3,0,0,0,0,0,0,1.
    const uint8_t payload[4] = {0x1B, 0x1B, 0x01, 0xC0};
    const int codes[16] = {0, 1, 2, 3, 0, 1, 2, 3, 3, 0, 0, 0, 0, 0, 0, 1};
    Adpcm2State a, b;
    Adpcm2Reset(a);
    Adpcm2Reset(b);
    int16_t fromPayload[16];
    Adpcm2DecodePayload(a, payload, 2, fromPayload);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(fromPayload[i], Adpcm2DecodeSample(b, codes[i])) << i;

    // The encoder packs its codes the same way.
    const auto pcm = velkorix::test::SpeechLike(160, 21);
    VoiceState state;
    QX_VOICE_EncReset(&state, ADPCM2_LINEAR);
    Adpcm2State model = StateOf(state);
    VoiceFrame frame;
    ASSERT_EQ(QX_VOICE_EncodeFrame(&state, pcm.data(), &frame, 160), VOICE_OK);
    ASSERT_EQ(frame.length, 20);
    for (int word = 0; word < 20; ++word) {
        unsigned value = 0;
        for (int k = 0; k < 8; ++k)
            value |= static_cast<unsigned>(Adpcm2EncodeSample(model, pcm[static_cast<std::size_t>(8 * word + k)]))
                     << (14 - 2 * k);
        EXPECT_EQ(frame.payload[2 * word], value & 0xFF) << word;
        EXPECT_EQ(frame.payload[2 * word + 1], value >> 8) << word;
    }
}

TEST(Adpcm2, ShortFramesCarryWholeWordsButTheStateAdvancesOverAll) {
    const auto pcm = velkorix::test::SpeechLike(20, 22);
    VoiceState state;
    QX_VOICE_EncReset(&state, ADPCM2_LINEAR);
    Adpcm2State model = StateOf(state);
    VoiceFrame frame;
    ASSERT_EQ(QX_VOICE_EncodeFrame(&state, pcm.data(), &frame, 7), VOICE_OK);
    EXPECT_EQ(frame.length, 0);
    for (int i = 0; i < 7; ++i) Adpcm2EncodeSample(model, pcm[static_cast<std::size_t>(i)]);
    const Adpcm2State after = StateOf(state);
    EXPECT_EQ(std::memcmp(&after, &model, sizeof(model)), 0);
}

TEST(Adpcm2, EncoderAndDecoderStatesAreIdenticalAfterEveryFrame) {
    auto pcm = velkorix::test::SpeechLike(8000 * 30, 23);
    velkorix::test::AppendNoise(pcm, 8000 * 30, 23);
    velkorix::test::AppendToneBursts(pcm, 8000 * 30, 23);
    for (int frameSamples : {80, 160, 480}) {
        VoiceState enc{}, dec{};
        QX_VOICE_EncReset(&enc, ADPCM2_LINEAR);
        QX_VOICE_DecReset(&dec, ADPCM2_LINEAR);
        double signal = 0, error = 0;
        for (std::size_t at = 0; at + static_cast<std::size_t>(frameSamples) <= pcm.size();
             at += static_cast<std::size_t>(frameSamples)) {
            VoiceFrame frame;
            ASSERT_EQ(QX_VOICE_EncodeFrame(&enc, pcm.data() + at, &frame, static_cast<int16_t>(frameSamples)), VOICE_OK);
            int16_t out[VOICE_MAX_SAMPLES];
            int16_t count = 0;
            ASSERT_EQ(QX_VOICE_DecodeFrame(&dec, &frame, out, &count), VOICE_OK);
            ASSERT_EQ(count, frameSamples);
            ASSERT_EQ(std::memcmp(&enc, &dec, 4 + sizeof(Adpcm2State)), 0) << "frame at " << at;
            if (at < 8000 * 30) {
                for (int i = 0; i < count; ++i) {
                    const double s = pcm[at + static_cast<std::size_t>(i)];
                    signal += s * s;
                    error += (s - out[i]) * (s - out[i]);
                }
            }
        }
        // A 2-bit coder: speech should still come through recognisably.
        EXPECT_GT(10.0 * std::log10(signal / error), 3.0);
    }
}

TEST(Adpcm2, StateStaysWithinItsLimitsOnAnyCodes) {
    velkorix::test::XorShift32 random(24);
    Adpcm2State s;
    Adpcm2Reset(s);
    for (int i = 0; i < 2000000; ++i) {
        // Long runs of one code push the adaptation to its extremes.
        const int code = (i / 1000) % 5 == 4 ? static_cast<int>(random.Next() & 3) : (i / 1000) % 4;
        Adpcm2DecodeSample(s, code);
        ASSERT_GE(s.YU, 544);
        ASSERT_LE(s.YU, 5120);
        ASSERT_GE(s.A2, -12288);
        ASSERT_LE(s.A2, 12288);
        ASSERT_LE(std::abs(s.A1), 15360 - s.A2);
        ASSERT_GE(s.YL, 544 * 64 - 64);
        ASSERT_LE(s.YL, 5120 * 64 + 64);
    }
}

}  // namespace
