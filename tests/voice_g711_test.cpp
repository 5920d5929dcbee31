// G.711 A-law and mu-law of the voice library against spandsp's G.711, and the
// frame layouts of types 1, 2, 65 and 66.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "velkorix/qx_voice.h"
#include "voice/g711.h"
#include "voice_signals.h"

#ifdef VELKORIX_HAVE_SPANDSP
#include <spandsp.h>
#endif

namespace {

using namespace velkorix::voice;

TEST(G711, EncodesTheReferencePoints) {
    struct Case {
        int16_t x;
        uint8_t alaw, ulaw;
    } cases[] = {{0, 0xD5, 0xFF}, {1000, 0xFA, 0xCE}, {-1000, 0x7A, 0x4E}, {32767, 0xAA, 0x80}, {-32768, 0x2A, 0x00}};
    for (const Case &c : cases) {
        EXPECT_EQ(G711AlawEncode(c.x), c.alaw) << c.x;
        EXPECT_EQ(G711UlawEncode(c.x), c.ulaw) << c.x;
    }
}

TEST(G711, DecodeThenEncodeReproducesEveryCode) {
    for (int code = 0; code < 256; ++code) {
        EXPECT_EQ(G711AlawEncode(kAlawToLinear[code]), code) << code;
        // mu-law has two zero codes; 0x7F (negative zero) comes back as 0xFF.
        EXPECT_EQ(G711UlawEncode(kUlawToLinear[code]), code == 0x7F ? 0xFF : code) << code;
    }
}

TEST(G711, EncodersAreMonotonic) {
    // Walking up through all inputs, the decoded value of the code never falls.
    int lastA = -40000, lastU = -40000;
    for (int x = -32768; x <= 32767; ++x) {
        const int a = kAlawToLinear[G711AlawEncode(static_cast<int16_t>(x))];
        const int u = kUlawToLinear[G711UlawEncode(static_cast<int16_t>(x))];
        ASSERT_GE(a, lastA) << x;
        ASSERT_GE(u, lastU) << x;
        lastA = a;
        lastU = u;
    }
}

#ifdef VELKORIX_HAVE_SPANDSP

TEST(G711Oracle, AlawEncoderMatchesSpandspOnEveryInput) {
    for (int x = -32768; x <= 32767; ++x)
        ASSERT_EQ(G711AlawEncode(static_cast<int16_t>(x)), linear_to_alaw(x)) << "input " << x;
}

// The mu-law encoder works on the 14-bit value x >> 2 and negates it for
// negative input, so a negative input whose magnitude is not a multiple of 4
// is rounded up in magnitude. spandsp works on the 16-bit magnitude. The codes
// differ exactly where that rounding carries the biased magnitude
// (ceil(|x| / 4) + 33) onto the start of a quantization interval: then this
// encoder's code is one step larger in magnitude.
bool UlawDiffersFromSpandsp(int x) {
    if (x >= 0 || (-x) % 4 == 0) return false;
    int v = (-x + 3) / 4;  // the negated 14-bit value
    if (v > 8158) return false;  // both reach the top code 0x00
    v += 33;
    int segment = 0;
    while ((v >> segment) > 63) ++segment;
    return v % (2 << segment) == 0;
}

TEST(G711Oracle, UlawEncoderDiffersFromSpandspOnlyOnTheRoundedNegativeInputs) {
    int differing = 0;
    for (int x = -32768; x <= 32767; ++x) {
        const int ours = G711UlawEncode(static_cast<int16_t>(x));
        const int theirs = linear_to_ulaw(x);
        ASSERT_EQ(ours != theirs, UlawDiffersFromSpandsp(x)) << "input " << x;
        if (ours == theirs) continue;
        ++differing;
        // Negative codes carry the magnitude index inverted: one step larger.
        EXPECT_EQ((ours ^ 0x7F) - (theirs ^ 0x7F), 1) << "input " << x;
        EXPECT_EQ(kUlawToLinear[ours] < kUlawToLinear[theirs], true) << "input " << x;
    }
    // 127 interval starts reached from three inputs each.
    EXPECT_EQ(differing, 381);
}

TEST(G711Oracle, BothLawsDecodeEveryCodeLikeSpandsp) {
    for (int code = 0; code < 256; ++code) {
        EXPECT_EQ(kAlawToLinear[code], alaw_to_linear(static_cast<uint8_t>(code))) << code;
        EXPECT_EQ(kUlawToLinear[code], ulaw_to_linear(static_cast<uint8_t>(code))) << code;
    }
}

#endif

// ---- Frames through the library ----

std::vector<int16_t> Ramp(int n) {
    std::vector<int16_t> v(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) v[static_cast<std::size_t>(i)] = static_cast<int16_t>(i * 397 - 30000);
    return v;
}

TEST(G711Frames, PlainTypesCarryCodesInSampleOrder) {
    for (const int16_t type : {int16_t{G711_A}, int16_t{G711_U}}) {
        VoiceState state;
        ASSERT_EQ(QX_VOICE_EncReset(&state, type), VOICE_OK);
        const auto pcm = Ramp(160);
        VoiceFrame frame;
        ASSERT_EQ(QX_VOICE_EncodeFrame(&state, pcm.data(), &frame, 160), VOICE_OK);
        EXPECT_EQ(frame.flags[0], 0x00);
        EXPECT_EQ(frame.flags[1], 0x01);
        EXPECT_EQ(frame.length, 80);
        EXPECT_EQ(frame.lengthHigh, 0);
        for (int i = 0; i < 160; ++i) {
            const uint8_t code = type == G711_A ? G711AlawEncode(pcm[i]) : G711UlawEncode(pcm[i]);
            ASSERT_EQ(frame.payload[i], code) << i;
        }
        VoiceState decoder;
        ASSERT_EQ(QX_VOICE_DecReset(&decoder, type), VOICE_OK);
        int16_t out[VOICE_MAX_SAMPLES];
        int16_t count = 0;
        ASSERT_EQ(QX_VOICE_DecodeFrame(&decoder, &frame, out, &count), VOICE_OK);
        ASSERT_EQ(count, 160);
        for (int i = 0; i < 160; ++i) {
            const int16_t expected = type == G711_A ? kAlawToLinear[frame.payload[i]] : kUlawToLinear[frame.payload[i]];
            ASSERT_EQ(out[i], expected) << i;
        }
    }
}

TEST(G711Frames, SwappedTypesExchangeTheBytesOfEveryWord) {
    const auto pcm = velkorix::test::SpeechLike(160, 7);
    for (const auto &[plain, swapped] : {std::pair<int16_t, int16_t>{G711_A, G711_A_SWAP}, {G711_U, G711_U_SWAP}}) {
        VoiceState a, b;
        QX_VOICE_EncReset(&a, plain);
        QX_VOICE_EncReset(&b, swapped);
        VoiceFrame fa, fb;
        ASSERT_EQ(QX_VOICE_EncodeFrame(&a, pcm.data(), &fa, 160), VOICE_OK);
        ASSERT_EQ(QX_VOICE_EncodeFrame(&b, pcm.data(), &fb, 160), VOICE_OK);
        ASSERT_EQ(fa.length, fb.length);
        EXPECT_EQ(std::memcmp(&fa, &fb, 4), 0);
        for (int i = 0; i < 160; i += 2) {
            EXPECT_EQ(fa.payload[i], fb.payload[i + 1]);
            EXPECT_EQ(fa.payload[i + 1], fb.payload[i]);
        }
        int16_t outA[VOICE_MAX_SAMPLES], outB[VOICE_MAX_SAMPLES];
        int16_t countA = 0, countB = 0;
        QX_VOICE_DecReset(&a, plain);
        QX_VOICE_DecReset(&b, swapped);
        ASSERT_EQ(QX_VOICE_DecodeFrame(&a, &fa, outA, &countA), VOICE_OK);
        ASSERT_EQ(QX_VOICE_DecodeFrame(&b, &fb, outB, &countB), VOICE_OK);
        ASSERT_EQ(countA, 160);
        ASSERT_EQ(countB, 160);
        EXPECT_EQ(std::memcmp(outA, outB, sizeof(int16_t) * 160), 0);
    }
}

TEST(G711Frames, AnOddLastSampleIsNotCarried) {
    VoiceState state;
    QX_VOICE_EncReset(&state, G711_A);
    const int16_t pcm[3] = {1000, -1000, 32767};
    VoiceFrame frame;
    std::memset(&frame, 0xEE, sizeof(frame));
    ASSERT_EQ(QX_VOICE_EncodeFrame(&state, pcm, &frame, 3), VOICE_OK);
    EXPECT_EQ(frame.length, 1);
    EXPECT_EQ(frame.payload[0], 0xFA);
    EXPECT_EQ(frame.payload[1], 0x7A);
    EXPECT_EQ(frame.payload[2], 0xEE);  // nothing beyond the frame is written

    // 481 samples: length 240, the last sample dropped.
    const auto ramp = Ramp(481);
    ASSERT_EQ(QX_VOICE_EncodeFrame(&state, ramp.data(), &frame, 481), VOICE_OK);
    EXPECT_EQ(frame.length, 240);
}

}  // namespace
