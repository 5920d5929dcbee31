// IMA ADPCM of the voice library: the three frame layouts, header handling,
// length rules, and agreement with spandsp's DVI4 coder.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "velkorix/qx_voice.h"
#include "voice/adpcm.h"
#include "voice_signals.h"

#ifdef VELKORIX_HAVE_SPANDSP
#include <spandsp.h>
#endif

namespace {

using namespace velkorix::voice;
using velkorix::test::SpeechLike;

int16_t Le16(const uint8_t *p) { return static_cast<int16_t>(p[0] | p[1] << 8); }

struct Decoded {
    int32_t result;
    int16_t count;
    std::vector<int16_t> pcm;
};

Decoded Decode(VoiceState &state, VoiceFrame &frame) {
    Decoded d{0, -1, std::vector<int16_t>(VOICE_MAX_SAMPLES, 0x5555)};
    d.result = QX_VOICE_DecodeFrame(&state, &frame, d.pcm.data(), &d.count);
    return d;
}

VoiceFrame Encode(VoiceState &state, const int16_t *pcm, int count) {
    VoiceFrame frame;
    std::memset(&frame, 0xEE, sizeof(frame));
    EXPECT_EQ(QX_VOICE_EncodeFrame(&state, pcm, &frame, static_cast<int16_t>(count)), VOICE_OK);
    return frame;
}

TEST(ImaAdpcm, OneSampleFrames) {
    const int16_t x = 1000;
    VoiceState state;

    QX_VOICE_EncReset(&state, ADPCM_BARE);
    EXPECT_EQ(Encode(state, &x, 1).length, 0);

    QX_VOICE_EncReset(&state, ADPCM_PRED);
    VoiceFrame pred = Encode(state, &x, 1);
    EXPECT_EQ(pred.length, 2);
    EXPECT_EQ(Le16(pred.payload), 0);
    EXPECT_EQ(pred.payload[2], 0);
    EXPECT_EQ(pred.payload[3], 0);

    QX_VOICE_EncReset(&state, ADPCM_FIRST);
    VoiceFrame first = Encode(state, &x, 1);
    EXPECT_EQ(first.length, 2);
    EXPECT_EQ(Le16(first.payload), 1000);
    EXPECT_EQ(first.payload[2], 0);
    VoiceState decoder;
    QX_VOICE_DecReset(&decoder, ADPCM_FIRST);
    const Decoded d = Decode(decoder, first);
    ASSERT_EQ(d.result, VOICE_OK);
    ASSERT_EQ(d.count, 1);
    EXPECT_EQ(d.pcm[0], 1000);
}

TEST(ImaAdpcm, StepIndexFollowsTheCodes) {
    AdpcmState s;
    AdpcmReset(s);
    EXPECT_EQ(AdpcmEncodeSample(s, 0), 0);
    EXPECT_EQ(s.stepIndex, 0);
    EXPECT_EQ(AdpcmEncodeSample(s, 30000), 7);
    EXPECT_EQ(s.stepIndex, 8);

    VoiceState state;
    QX_VOICE_EncReset(&state, ADPCM_BARE);
    const int16_t pcm[4] = {0, 30000, 0, 0};
    EXPECT_EQ(Encode(state, pcm, 4).payload[0], 0x07);

    // Codes 7 and 15 raise the index by 8 up to 88; 0-3 and 8-11 lower it by
    // one down to 0; 4-6 and 12-14 raise it by 2, 4, 6.
    for (int code = 0; code < 16; ++code) {
        for (int start : {0, 1, 40, 85, 88}) {
            AdpcmState d{0, static_cast<uint8_t>(start)};
            AdpcmDecodeSample(d, code);
            const int adjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
            int expected = start + adjust[code & 7];
            expected = expected < 0 ? 0 : expected > 88 ? 88 : expected;
            EXPECT_EQ(d.stepIndex, expected) << "code " << code << " from " << start;
        }
    }
}

TEST(ImaAdpcm, PredictorHeadersCarryTheStateBetweenFrames) {
    const auto pcm = SpeechLike(640, 11);
    VoiceState state;
    QX_VOICE_EncReset(&state, ADPCM_PRED);
    const VoiceFrame first = Encode(state, pcm.data(), 320);
    EXPECT_EQ(first.length, 82);
    EXPECT_EQ(std::memcmp(first.payload, "\0\0\0\0", 4), 0);

    AdpcmState model;
    AdpcmReset(model);
    for (int i = 0; i < 320; ++i) AdpcmEncodeSample(model, pcm[static_cast<std::size_t>(i)]);
    const VoiceFrame second = Encode(state, pcm.data() + 320, 320);
    EXPECT_EQ(Le16(second.payload), model.predictor);
    EXPECT_EQ(second.payload[2], model.stepIndex);
    EXPECT_EQ(second.payload[3], 0);
}

// The decoder reproduces the encoder's own reconstruction: after each sample
// the encoder's predictor is what the decoder outputs for it.
std::vector<int16_t> EncoderTrack(AdpcmState s, const int16_t *pcm, int count) {
    std::vector<int16_t> track;
    for (int i = 0; i < count; ++i) {
        AdpcmEncodeSample(s, pcm[i]);
        track.push_back(s.predictor);
    }
    return track;
}

TEST(ImaAdpcm, EveryLayoutDecodesToTheEncodersReconstruction) {
    const auto pcm = SpeechLike(321 * 40, 12);
    struct Layout {
        int16_t type;
        int samples;  // per frame, all carried
    } layouts[] = {{ADPCM_PRED, 320}, {ADPCM_PRED, 480}, {ADPCM_FIRST, 321}, {ADPCM_FIRST, 481}, {ADPCM_BARE, 320},
                   {ADPCM_BARE, 480}};
    for (const Layout &layout : layouts) {
        VoiceState enc, dec;
        QX_VOICE_EncReset(&enc, layout.type);
        QX_VOICE_DecReset(&dec, layout.type);
        for (std::size_t at = 0; at + static_cast<std::size_t>(layout.samples) <= pcm.size();
             at += static_cast<std::size_t>(layout.samples)) {
            AdpcmState before;
            std::memcpy(&before, reinterpret_cast<const uint8_t *>(&enc) + 4, sizeof(before));
            if (layout.type == ADPCM_FIRST) before.predictor = pcm[at];
            VoiceFrame frame = Encode(enc, pcm.data() + at, layout.samples);
            const Decoded d = Decode(dec, frame);
            ASSERT_EQ(d.result, VOICE_OK);
            ASSERT_EQ(d.count, layout.samples);
            std::vector<int16_t> expected;
            if (layout.type == ADPCM_FIRST) {
                expected.push_back(pcm[at]);  // verbatim
                const auto rest = EncoderTrack(before, pcm.data() + at + 1, layout.samples - 1);
                expected.insert(expected.end(), rest.begin(), rest.end());
            } else {
                expected = EncoderTrack(before, pcm.data() + at, layout.samples);
            }
            ASSERT_EQ(std::vector<int16_t>(d.pcm.begin(), d.pcm.begin() + d.count), expected)
                << "type " << layout.type << " at " << at;
        }
    }
}

TEST(ImaAdpcm, FirstSampleLayoutPutsTheEarlierCodeInTheLowNibble) {
    const auto pcm = SpeechLike(321, 13);
    VoiceState a, b;
    QX_VOICE_EncReset(&a, ADPCM_FIRST);
    QX_VOICE_EncReset(&b, ADPCM_BARE);
    const VoiceFrame first = Encode(a, pcm.data(), 321);
    ASSERT_EQ(first.length, 82);
    // The same codes from the same starting point, high nibble first.
    uint8_t seeded[8];
    std::memcpy(seeded, &b, sizeof(seeded));
    const int16_t start = pcm[0];
    std::memcpy(seeded + 4, &start, 2);
    std::memcpy(&b, seeded, sizeof(seeded));
    const VoiceFrame bare = Encode(b, pcm.data() + 1, 320);
    ASSERT_EQ(bare.length, 80);
    for (int i = 0; i < 160; ++i) {
        const uint8_t x = bare.payload[i];
        ASSERT_EQ(first.payload[4 + i], static_cast<uint8_t>((x << 4) | (x >> 4))) << i;
    }
}

TEST(ImaAdpcm, HeaderFramesDecodeOnTheirOwnAndBareFramesNeedTheirPredecessors) {
    const auto pcm = SpeechLike(320 * 3, 14);
    for (int16_t type : {int16_t{ADPCM_PRED}, int16_t{ADPCM_FIRST}}) {
        VoiceState enc;
        QX_VOICE_EncReset(&enc, type);
        const int n = type == ADPCM_FIRST ? 321 : 320;
        const VoiceFrame f1 = Encode(enc, pcm.data(), n);
        const VoiceFrame f2 = Encode(enc, pcm.data() + 320, n);
        VoiceState inOrder, fresh;
        QX_VOICE_DecReset(&inOrder, type);
        QX_VOICE_DecReset(&fresh, type);
        VoiceFrame copy1 = f1, copy2 = f2;
        Decode(inOrder, copy1);
        const Decoded a = Decode(inOrder, copy2);
        copy2 = f2;
        const Decoded b = Decode(fresh, copy2);  // the first frame was lost
        ASSERT_EQ(a.result, VOICE_OK);
        EXPECT_EQ(a.pcm, b.pcm) << "type " << type;
    }
    VoiceState enc;
    QX_VOICE_EncReset(&enc, ADPCM_BARE);
    VoiceFrame f1 = Encode(enc, pcm.data(), 320);
    VoiceFrame f2 = Encode(enc, pcm.data() + 320, 320);
    VoiceState inOrder, fresh;
    QX_VOICE_DecReset(&inOrder, ADPCM_BARE);
    QX_VOICE_DecReset(&fresh, ADPCM_BARE);
    Decode(inOrder, f1);
    EXPECT_NE(Decode(inOrder, f2).pcm, Decode(fresh, f2).pcm);
}

TEST(ImaAdpcm, UncarriedSamplesStillAdvanceTheEncoder) {
    const auto pcm = SpeechLike(322, 15);
    VoiceState state;
    QX_VOICE_EncReset(&state, ADPCM_PRED);
    const VoiceFrame frame = Encode(state, pcm.data(), 322);
    EXPECT_EQ(frame.length, 82);  // 320 samples carried
    AdpcmState model;
    AdpcmReset(model);
    for (int i = 0; i < 322; ++i) AdpcmEncodeSample(model, pcm[static_cast<std::size_t>(i)]);
    AdpcmState after;
    std::memcpy(&after, reinterpret_cast<const uint8_t *>(&state) + 4, sizeof(after));
    EXPECT_EQ(after.predictor, model.predictor);
    EXPECT_EQ(after.stepIndex, model.stepIndex);
}

TEST(ImaAdpcm, HeaderStepIndexAbove88IsClamped) {
    const auto pcm = SpeechLike(321, 16);
    for (int16_t type : {int16_t{ADPCM_PRED}, int16_t{ADPCM_FIRST}}) {
        VoiceState enc;
        QX_VOICE_EncReset(&enc, type);
        VoiceFrame frame = Encode(enc, pcm.data(), 321);
        frame.payload[2] = 88;
        VoiceFrame wild = frame;
        wild.payload[2] = 200;
        VoiceState d1{}, d2{};
        QX_VOICE_DecReset(&d1, type);
        QX_VOICE_DecReset(&d2, type);
        const Decoded a = Decode(d1, frame);
        const Decoded b = Decode(d2, wild);
        ASSERT_EQ(b.result, VOICE_OK);
        EXPECT_EQ(a.pcm, b.pcm);
        EXPECT_EQ(std::memcmp(&d1, &d2, 8), 0);
    }
}

TEST(ImaAdpcm, DecodingLeavesTheFrameUnchanged) {
    const auto pcm = SpeechLike(321, 17);
    VoiceState enc, dec;
    QX_VOICE_EncReset(&enc, ADPCM_FIRST);
    QX_VOICE_DecReset(&dec, ADPCM_FIRST);
    VoiceFrame frame = Encode(enc, pcm.data(), 321);
    const VoiceFrame copy = frame;
    ASSERT_EQ(Decode(dec, frame).result, VOICE_OK);
    EXPECT_EQ(std::memcmp(&frame, &copy, 4 + 2 * 82), 0);
}

#ifdef VELKORIX_HAVE_SPANDSP

// spandsp's DVI4 (RFC 3551) coder, one chunk per call, opens each chunk with
// the predictor (big-endian) and step index, then packs the codes high nibble
// first: the type-3 layout with the other byte order in the header.
TEST(ImaAdpcmOracle, PredictorFramesMatchSpandspDvi4) {
    auto pcm = SpeechLike(8000 * 60, 18);
    velkorix::test::AppendNoise(pcm, 8000 * 60, 18);
    ima_adpcm_state_t *peerEnc = ima_adpcm_init(nullptr, IMA_ADPCM_DVI4, 0);
    ima_adpcm_state_t *peerDec = ima_adpcm_init(nullptr, IMA_ADPCM_DVI4, 0);
    VoiceState enc, dec;
    QX_VOICE_EncReset(&enc, ADPCM_PRED);
    QX_VOICE_DecReset(&dec, ADPCM_PRED);
    for (std::size_t at = 0; at + 480 <= pcm.size(); at += 480) {
        VoiceFrame frame = Encode(enc, pcm.data() + at, 480);
        uint8_t chunk[4 + 240];
        ASSERT_EQ(ima_adpcm_encode(peerEnc, chunk, pcm.data() + at, 480), 244);
        ASSERT_EQ(chunk[0], frame.payload[1]) << at;
        ASSERT_EQ(chunk[1], frame.payload[0]) << at;
        ASSERT_EQ(chunk[2], frame.payload[2]) << at;
        ASSERT_EQ(std::memcmp(chunk + 4, frame.payload + 4, 240), 0) << at;
        int16_t theirs[480];
        ASSERT_EQ(ima_adpcm_decode(peerDec, theirs, chunk, 244), 480);
        const Decoded ours = Decode(dec, frame);
        ASSERT_EQ(ours.count, 480);
        ASSERT_EQ(std::memcmp(theirs, ours.pcm.data(), sizeof(theirs)), 0) << at;
    }
    ima_adpcm_free(peerEnc);
    ima_adpcm_free(peerDec);
}

#endif

}  // namespace
