// The QX_VOICE_ interface: every result code and the order of the checks,
// the frame rules, what a failing call leaves alone, transcoding, the version
// string, and calls on separate states from several threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

#include "velkorix/qx_voice.h"
#include "velkorix/qx_voice_names.h"
#include "voice/frame_rule.h"
#include "voice_signals.h"

namespace {

constexpr int16_t kAllTypes[] = {G711_A,      G711_U,      ADPCM_PRED,  G726_16,     G726_24,     G726_32,
                                 G726_40,     ADPCM_FIRST, G726_16_MSB, G726_24_MSB, G726_32_MSB, G726_40_MSB,
                                 G711_A_SWAP, G711_U_SWAP, ADPCM_BARE,  ADPCM2_LINEAR};

// A frame of `words` payload words with the given flags; payload bytes from a
// fixed pattern.
VoiceFrame MakeFrame(int words, int flags = 0x0100, uint8_t high = 0) {
    VoiceFrame frame;
    std::memset(&frame, 0, sizeof(frame));
    frame.flags[0] = static_cast<uint8_t>(flags);
    frame.flags[1] = static_cast<uint8_t>(flags >> 8);
    frame.length = static_cast<uint8_t>(words);
    frame.lengthHigh = high;
    for (int i = 0; i < 2 * words && i < VOICE_FRAME_MAX_PAYLOAD_BYTES; ++i)
        frame.payload[i] = static_cast<uint8_t>(i * 29 + 7);
    return frame;
}

struct DecodeResult {
    int32_t code;
    int16_t count;
};

// Decodes a copy of `frame` held in a heap block of exactly the frame's
// declared size, so that a read past it shows under the address sanitizer.
DecodeResult DecodeAs(int16_t type, const VoiceFrame &frame, int16_t *pcm = nullptr) {
    VoiceState state;
    QX_VOICE_DecReset(&state, type);
    const std::size_t size = 4 + 2 * static_cast<std::size_t>(frame.length);
    std::vector<uint8_t> exact(size);
    std::memcpy(exact.data(), &frame, std::min(size, sizeof(frame)));
    int16_t local[VOICE_MAX_SAMPLES];
    DecodeResult r{0, -1};
    r.code = QX_VOICE_DecodeFrame(&state, reinterpret_cast<VoiceFrame *>(exact.data()), pcm ? pcm : local, &r.count);
    return r;
}

TEST(VoiceApi, VersionString) {
    char buffer[64];
    std::memset(buffer, 'x', sizeof(buffer));
    ASSERT_EQ(QX_VOICE_GetVersion(buffer), 0);
    EXPECT_STREQ(buffer, "QX_VOICE_VERSION=Qx7740_VOICELIB_V1.0.0.0");
    EXPECT_EQ(std::strlen(buffer) + 1, static_cast<std::size_t>(VOICE_VERSION_BYTES));
    EXPECT_EQ(buffer[VOICE_VERSION_BYTES], 'x');  // nothing past the 42 bytes
    EXPECT_EQ(QX_VOICE_GetVersion(nullptr), -1);
}

TEST(VoiceApi, ResetsValidateTheType) {
    VoiceState state;
    for (int16_t type : kAllTypes) {
        EXPECT_EQ(QX_VOICE_EncReset(&state, type), VOICE_OK) << type;
        EXPECT_EQ(state.type, type);
        EXPECT_EQ(QX_VOICE_DecReset(&state, type), VOICE_OK) << type;
    }
    for (int16_t bad : {int16_t{0}, int16_t{8}, int16_t{34}, int16_t{40}, int16_t{64}, int16_t{69}, int16_t{97},
                        int16_t{-1}, int16_t{32767}}) {
        // A bad type is still stored; nothing else is touched.
        std::memset(&state, 0xAB, sizeof(state));
        EXPECT_EQ(QX_VOICE_EncReset(&state, bad), VOICE_ERR_ENC_TYPE) << bad;
        EXPECT_EQ(state.type, bad);
        const auto *bytes = reinterpret_cast<const uint8_t *>(&state);
        for (std::size_t i = 2; i < sizeof(state); ++i) ASSERT_EQ(bytes[i], 0xAB) << i;
        EXPECT_EQ(QX_VOICE_DecReset(&state, bad), VOICE_ERR_DEC_TYPE) << bad;
    }
    EXPECT_EQ(QX_VOICE_EncReset(nullptr, G711_A), VOICE_ERR_NULL_STATE);
    EXPECT_EQ(QX_VOICE_DecReset(nullptr, G711_A), VOICE_ERR_NULL_STATE);
}

TEST(VoiceApi, EncodeChecksInOrder) {
    VoiceState good, bad;
    QX_VOICE_EncReset(&good, G726_32);
    QX_VOICE_EncReset(&bad, 8);
    int16_t pcm[VOICE_MAX_SAMPLES + 1] = {};
    VoiceFrame frame;
    EXPECT_EQ(QX_VOICE_EncodeFrame(nullptr, nullptr, nullptr, 0), VOICE_ERR_NULL_STATE);
    EXPECT_EQ(QX_VOICE_EncodeFrame(&bad, nullptr, nullptr, 0), VOICE_ERR_NULL_INPUT);
    EXPECT_EQ(QX_VOICE_EncodeFrame(&bad, pcm, nullptr, 0), VOICE_ERR_NULL_OUTPUT);
    EXPECT_EQ(QX_VOICE_EncodeFrame(&bad, pcm, &frame, 0), VOICE_ERR_ENC_LEN);
    EXPECT_EQ(QX_VOICE_EncodeFrame(&bad, pcm, &frame, 160), VOICE_ERR_ENC_TYPE);
    for (int16_t count : {int16_t{0}, int16_t{-1}, int16_t{-32768}, int16_t{482}, int16_t{32767}})
        EXPECT_EQ(QX_VOICE_EncodeFrame(&good, pcm, &frame, count), VOICE_ERR_ENC_LEN) << count;
    EXPECT_EQ(QX_VOICE_EncodeFrame(&good, pcm, &frame, 1), VOICE_OK);
    EXPECT_EQ(QX_VOICE_EncodeFrame(&good, pcm, &frame, 481), VOICE_OK);
}

TEST(VoiceApi, AFailedEncodeTouchesNothing) {
    VoiceState state;
    QX_VOICE_EncReset(&state, G726_40);
    const VoiceState before = state;
    int16_t pcm[VOICE_MAX_SAMPLES + 1] = {};
    VoiceFrame frame;
    std::memset(&frame, 0xEE, sizeof(frame));
    EXPECT_EQ(QX_VOICE_EncodeFrame(&state, pcm, &frame, 482), VOICE_ERR_ENC_LEN);
    EXPECT_EQ(std::memcmp(&state, &before, sizeof(state)), 0);
    for (std::size_t i = 0; i < sizeof(frame); ++i) ASSERT_EQ(reinterpret_cast<uint8_t *>(&frame)[i], 0xEE);
}

TEST(VoiceApi, EncodeWritesExactlyTheFrame) {
    const auto pcm = velkorix::test::SpeechLike(VOICE_MAX_SAMPLES, 41);
    for (int16_t type : kAllTypes) {
        for (int count : {1, 2, 7, 80, 81, 159, 160, 321, 480, 481}) {
            VoiceState state;
            QX_VOICE_EncReset(&state, type);
            uint8_t buffer[VOICE_FRAME_MAX_BYTES + 16];
            std::memset(buffer, 0xEE, sizeof(buffer));
            ASSERT_EQ(QX_VOICE_EncodeFrame(&state, pcm.data(), reinterpret_cast<VoiceFrame *>(buffer),
                                           static_cast<int16_t>(count)),
                      VOICE_OK);
            const int words = buffer[2];
            EXPECT_EQ(buffer[0], 0x00);
            EXPECT_EQ(buffer[1], 0x01);
            EXPECT_EQ(buffer[3], 0x00);
            EXPECT_LE(words, 240);
            for (std::size_t i = 4 + 2 * static_cast<std::size_t>(words); i < sizeof(buffer); ++i)
                ASSERT_EQ(buffer[i], 0xEE) << "type " << type << ", " << count << " samples, byte " << i;
        }
    }
}

TEST(VoiceApi, DecodeChecksInOrder) {
    VoiceState state, bad;
    QX_VOICE_DecReset(&state, G711_A);
    QX_VOICE_DecReset(&bad, 8);
    VoiceFrame frame = MakeFrame(80);
    int16_t pcm[VOICE_MAX_SAMPLES];
    int16_t count = -1;
    EXPECT_EQ(QX_VOICE_DecodeFrame(nullptr, nullptr, nullptr, nullptr), VOICE_ERR_NULL_STATE);
    EXPECT_EQ(QX_VOICE_DecodeFrame(&state, nullptr, pcm, &count), VOICE_ERR_NULL_INPUT);
    EXPECT_EQ(QX_VOICE_DecodeFrame(&state, &frame, nullptr, &count), VOICE_ERR_NULL_OUTPUT);
    EXPECT_EQ(count, -1);  // the count is set only after the pointer checks
    EXPECT_EQ(QX_VOICE_DecodeFrame(&state, &frame, pcm, nullptr), VOICE_ERR_NULL_OUTPUT);

    // Header before length before type; each failure reports 0 samples.
    VoiceFrame badHeaderNoLength = MakeFrame(0, 0x0200);
    count = -1;
    EXPECT_EQ(QX_VOICE_DecodeFrame(&bad, &badHeaderNoLength, pcm, &count), VOICE_ERR_DEC_HEADER);
    EXPECT_EQ(count, 0);
    VoiceFrame noLength = MakeFrame(0);
    count = -1;
    EXPECT_EQ(QX_VOICE_DecodeFrame(&bad, &noLength, pcm, &count), VOICE_ERR_DEC_LEN);
    EXPECT_EQ(count, 0);
    count = -1;
    EXPECT_EQ(QX_VOICE_DecodeFrame(&bad, &frame, pcm, &count), VOICE_ERR_DEC_TYPE);
    EXPECT_EQ(count, 0);
    count = -1;
    EXPECT_EQ(QX_VOICE_DecodeFrame(&state, &frame, pcm, &count), VOICE_OK);
    EXPECT_EQ(count, 160);
}

TEST(VoiceApi, FlagsWord) {
    EXPECT_EQ(DecodeAs(G711_A, MakeFrame(80, 0x0200)).code, VOICE_ERR_DEC_HEADER);
    EXPECT_EQ(DecodeAs(G711_A, MakeFrame(80, 0x0300)).code, VOICE_ERR_DEC_HEADER);
    EXPECT_EQ(DecodeAs(G711_A, MakeFrame(80, 0x0000)).code, VOICE_ERR_DEC_HEADER);
    // Bits other than 8 and 9 are ignored.
    EXPECT_EQ(DecodeAs(G711_A, MakeFrame(80, 0x0101)).code, VOICE_OK);
    EXPECT_EQ(DecodeAs(G711_A, MakeFrame(80, 0xFDFF)).code, VOICE_OK);
}

TEST(VoiceApi, LengthByteAlone) {
    // Byte 3 is never read: a zero length fails whatever it holds, and a
    // nonzero byte 3 does not change a valid frame's decoding.
    for (uint8_t high : {0, 1, 0xFF}) EXPECT_EQ(DecodeAs(G711_U, MakeFrame(0, 0x0100, high)).code, VOICE_ERR_DEC_LEN);
    int16_t a[VOICE_MAX_SAMPLES], b[VOICE_MAX_SAMPLES];
    ASSERT_EQ(DecodeAs(G726_24, MakeFrame(30, 0x0100, 0), a).code, VOICE_OK);
    ASSERT_EQ(DecodeAs(G726_24, MakeFrame(30, 0x0100, 0x77), b).code, VOICE_OK);
    EXPECT_EQ(std::memcmp(a, b, sizeof(int16_t) * 160), 0);
}

TEST(VoiceApi, LengthRulesOfEveryType) {
    // Accepted lengths: unit frames of 80 samples up to 481 for G.711, G.726
    // and the 2-bit ADPCM; the sample limit for IMA ADPCM.
    for (int16_t type : kAllTypes) {
        for (int words = 1; words <= 255; ++words) {
            int samples;
            bool accepted;
            switch (type) {
                case G711_A:
                case G711_U:
                case G711_A_SWAP:
                case G711_U_SWAP: samples = 2 * words; accepted = samples <= 481 && samples % 80 == 0; break;
                case ADPCM2_LINEAR: samples = 8 * words; accepted = samples <= 481 && samples % 80 == 0; break;
                case ADPCM_PRED: samples = 4 * (words - 2); accepted = words >= 2 && samples <= 481; break;
                case ADPCM_FIRST: samples = 4 * (words - 2) + 1; accepted = words >= 2 && samples <= 481; break;
                case ADPCM_BARE: samples = 4 * words; accepted = samples <= 481; break;
                default: {
                    const int width = (type & 7) - 2;  // 4..7 and 36..39
                    samples = 16 * words / width;
                    accepted = samples <= 481 && samples % 80 == 0;
                }
            }
            const DecodeResult r = DecodeAs(type, MakeFrame(words));
            ASSERT_EQ(r.code, accepted ? VOICE_OK : VOICE_ERR_DEC_LEN) << "type " << type << " words " << words;
            ASSERT_EQ(r.count, accepted ? samples : 0) << "type " << type << " words " << words;
        }
    }
    // The cases named for G.711 and G.726 at 24 kbit/s.
    EXPECT_EQ(DecodeAs(G711_A, MakeFrame(64)).code, VOICE_ERR_DEC_LEN);
    EXPECT_EQ(DecodeAs(G711_A, MakeFrame(80)).count, 160);
    EXPECT_EQ(DecodeAs(G726_24, MakeFrame(16)).code, VOICE_ERR_DEC_LEN);
    EXPECT_EQ(DecodeAs(G726_24, MakeFrame(15)).count, 80);
}

// The frame rule the library gives its hosts is the one its calls follow:
// the frame an encode writes, the samples a decode takes, and whether a frame
// size survives both, for every type and every count and length.
TEST(VoiceApi, FrameRuleIsWhatTheCallsDo) {
    const int16_t unknown[] = {0, 8, 34, 99, -1};
    for (int16_t type : kAllTypes) {
        for (int words = 1; words <= 255; ++words) {
            const DecodeResult r = DecodeAs(type, MakeFrame(words));
            ASSERT_EQ(velkorix::voice::DecodableSamples(type, words), r.code == VOICE_OK ? r.count : -1)
                << "type " << type << " words " << words;
        }
        VoiceState encoder, decoder;
        int16_t pcm[VOICE_MAX_SAMPLES + 1] = {}, out[VOICE_MAX_SAMPLES];
        for (int count = -1; count <= VOICE_MAX_SAMPLES + 1; ++count) {
            QX_VOICE_EncReset(&encoder, type);
            VoiceFrame frame;
            std::memset(&frame, 0, sizeof(frame));
            const int32_t encoded = QX_VOICE_EncodeFrame(&encoder, pcm, &frame, static_cast<int16_t>(count));
            ASSERT_EQ(velkorix::voice::EncodedFrameWords(type, count), encoded == VOICE_OK ? frame.length : -1)
                << "type " << type << " count " << count;
            int16_t decodedCount = 0;
            QX_VOICE_DecReset(&decoder, type);
            const bool kept = encoded == VOICE_OK &&
                              QX_VOICE_DecodeFrame(&decoder, &frame, out, &decodedCount) == VOICE_OK &&
                              decodedCount == count;
            ASSERT_EQ(velkorix::voice::FrameKeepsAllSamples(type, count), kept) << "type " << type << " count " << count;
        }
    }
    for (int16_t type : unknown) {
        EXPECT_EQ(velkorix::voice::EncodedFrameWords(type, 160), -1);
        EXPECT_EQ(velkorix::voice::DecodableSamples(type, 80), -1);
        EXPECT_FALSE(velkorix::voice::FrameKeepsAllSamples(type, 160));
    }
    EXPECT_TRUE(velkorix::voice::FrameKeepsAllSamples(ADPCM_FIRST, 161));
    EXPECT_FALSE(velkorix::voice::FrameKeepsAllSamples(ADPCM_FIRST, 160));
    EXPECT_FALSE(velkorix::voice::FrameKeepsAllSamples(ADPCM_BARE, 2));
    EXPECT_TRUE(velkorix::voice::FrameKeepsAllSamples(G726_40_MSB, 480));
    EXPECT_FALSE(velkorix::voice::FrameKeepsAllSamples(G711_A, 481));
}

TEST(VoiceApi, ResultNames) {
    EXPECT_STREQ(VoiceResultName(VOICE_OK), "VOICE_OK");
    EXPECT_STREQ(VoiceResultName(VOICE_ERR_VERSION_BUFFER), "VOICE_ERR_VERSION_BUFFER");
    EXPECT_STREQ(VoiceResultName(VOICE_ERR_DEC_HEADER), "VOICE_ERR_DEC_HEADER");
    EXPECT_STREQ(VoiceResultName(VOICE_ERR_TRANS_TYPE), "VOICE_ERR_TRANS_TYPE");
    EXPECT_STREQ(VoiceResultName(1), "unknown result");
    // Every code the calls return has a name.
    VoiceState state;
    static VoiceTransState trans;
    VoiceFrame frame = MakeFrame(80);
    int16_t pcm[VOICE_MAX_SAMPLES] = {};
    int16_t count = 0;
    QX_VOICE_DecReset(&state, G711_A);
    const int32_t codes[] = {QX_VOICE_EncReset(&state, 8), QX_VOICE_EncodeFrame(&state, pcm, &frame, 0),
                             QX_VOICE_DecodeFrame(nullptr, &frame, pcm, &count), QX_VOICE_TransCodeReset(nullptr, 97),
                             QX_VOICE_TransCodeReset(&trans, 5)};
    for (int32_t code : codes) EXPECT_STRNE(VoiceResultName(code), "unknown result") << code;
}

TEST(VoiceApi, AFailedDecodeLeavesStateFrameAndOutputAlone) {
    const auto pcm = velkorix::test::SpeechLike(480, 42);
    for (int16_t type : {int16_t{G726_32_MSB}, int16_t{ADPCM_BARE}, int16_t{ADPCM2_LINEAR}, int16_t{G711_U_SWAP}}) {
        VoiceState enc, dec;
        QX_VOICE_EncReset(&enc, type);
        QX_VOICE_DecReset(&dec, type);
        VoiceFrame frame;
        ASSERT_EQ(QX_VOICE_EncodeFrame(&enc, pcm.data(), &frame, 480), VOICE_OK);
        // Decode a frame first so that the state is not at its reset values.
        VoiceFrame first = frame;
        int16_t out[VOICE_MAX_SAMPLES];
        int16_t count = 0;
        ASSERT_EQ(QX_VOICE_DecodeFrame(&dec, &first, out, &count), VOICE_OK);
        frame.length = static_cast<uint8_t>(frame.length + 1);  // a length no rule accepts
        const VoiceFrame frameBefore = frame;
        const VoiceState stateBefore = dec;
        std::memset(out, 0x5A, sizeof(out));
        ASSERT_EQ(QX_VOICE_DecodeFrame(&dec, &frame, out, &count), VOICE_ERR_DEC_LEN) << type;
        EXPECT_EQ(count, 0);
        EXPECT_EQ(std::memcmp(&frame, &frameBefore, sizeof(frame)), 0) << type;
        EXPECT_EQ(std::memcmp(&dec, &stateBefore, sizeof(dec)), 0) << type;
        for (int16_t v : out) ASSERT_EQ(v, 0x5A5A);
    }
}

TEST(VoiceApi, AStateWithABadTypeFailsUntilReset) {
    VoiceState state;
    EXPECT_EQ(QX_VOICE_EncReset(&state, 8), VOICE_ERR_ENC_TYPE);
    int16_t pcm[160] = {};
    VoiceFrame frame;
    EXPECT_EQ(QX_VOICE_EncodeFrame(&state, pcm, &frame, 160), VOICE_ERR_ENC_TYPE);
    EXPECT_EQ(QX_VOICE_EncReset(&state, G711_A), VOICE_OK);
    EXPECT_EQ(QX_VOICE_EncodeFrame(&state, pcm, &frame, 160), VOICE_OK);
}

TEST(VoiceApi, ResetRestartsTheCodec) {
    const auto pcm = velkorix::test::SpeechLike(960, 43);
    VoiceState a, b;
    QX_VOICE_EncReset(&a, G726_24);
    VoiceFrame first, again;
    QX_VOICE_EncodeFrame(&a, pcm.data(), &first, 480);
    QX_VOICE_EncodeFrame(&a, pcm.data() + 480, &first, 480);
    QX_VOICE_EncReset(&a, G726_24);
    QX_VOICE_EncReset(&b, G726_24);
    QX_VOICE_EncodeFrame(&a, pcm.data(), &first, 480);
    QX_VOICE_EncodeFrame(&b, pcm.data(), &again, 480);
    EXPECT_EQ(std::memcmp(&first, &again, 4 + 180), 0);
}

// ---- Transcoding ----

TEST(VoiceTranscode, ChecksAndResults) {
    VoiceTransState state;
    VoiceFrame frame = MakeFrame(80);
    EXPECT_EQ(QX_VOICE_TransCodeReset(nullptr, TRANS_G711_A), VOICE_ERR_TRANS_NULL_STATE);
    EXPECT_EQ(QX_VOICE_TransCodeFrame(nullptr, &frame), VOICE_ERR_TRANS_NULL_STATE);
    EXPECT_EQ(QX_VOICE_TransCodeFrame(nullptr, nullptr), VOICE_ERR_TRANS_NULL_STATE);
    for (int16_t bad : {int16_t{96}, int16_t{101}, int16_t{0}, int16_t{-97}})
        EXPECT_EQ(QX_VOICE_TransCodeReset(&state, bad), VOICE_ERR_TRANS_TYPE) << bad;
    ASSERT_EQ(QX_VOICE_TransCodeReset(&state, TRANS_ADPCM), VOICE_OK);
    EXPECT_EQ(state.encoder.type, ADPCM_PRED);
    EXPECT_EQ(state.decoder.type, ADPCM_BARE);
    EXPECT_EQ(QX_VOICE_TransCodeFrame(&state, nullptr), VOICE_ERR_NULL_INPUT);
    // An encoder block of any type but 1-4 is refused.
    for (int16_t type : {int16_t{G726_24}, int16_t{ADPCM_FIRST}, int16_t{0}}) {
        QX_VOICE_EncReset(&state.encoder, type);
        EXPECT_EQ(QX_VOICE_TransCodeFrame(&state, &frame), VOICE_ERR_TRANS_TYPE) << type;
    }
}

TEST(VoiceTranscode, SwappedG711FramesBecomePlain) {
    for (int16_t selector : {int16_t{TRANS_G711_A}, int16_t{TRANS_G711_U}}) {
        VoiceTransState state;
        ASSERT_EQ(QX_VOICE_TransCodeReset(&state, selector), VOICE_OK);
        EXPECT_EQ(state.decoder.type, selector - 32);
        EXPECT_EQ(state.encoder.type, selector - 96);
        VoiceFrame frame = MakeFrame(2);
        const uint8_t payload[4] = {0x11, 0x22, 0x33, 0x44};
        std::memcpy(frame.payload, payload, 4);
        frame.payload[4] = 0x55;
        ASSERT_EQ(QX_VOICE_TransCodeFrame(&state, &frame), VOICE_OK);
        EXPECT_EQ(frame.payload[0], 0x22);
        EXPECT_EQ(frame.payload[1], 0x11);
        EXPECT_EQ(frame.payload[2], 0x44);
        EXPECT_EQ(frame.payload[3], 0x33);
        EXPECT_EQ(frame.payload[4], 0x55);  // outside the frame
        EXPECT_EQ(frame.length, 2);
    }
    // A swapped frame decodes like its transcoded plain frame.
    const auto pcm = velkorix::test::SpeechLike(160, 44);
    VoiceState enc;
    QX_VOICE_EncReset(&enc, G711_A_SWAP);
    VoiceFrame swapped;
    ASSERT_EQ(QX_VOICE_EncodeFrame(&enc, pcm.data(), &swapped, 160), VOICE_OK);
    int16_t a[VOICE_MAX_SAMPLES], b[VOICE_MAX_SAMPLES];
    ASSERT_EQ(DecodeAs(G711_A_SWAP, swapped, a).count, 160);
    VoiceTransState state;
    QX_VOICE_TransCodeReset(&state, TRANS_G711_A);
    QX_VOICE_TransCodeFrame(&state, &swapped);
    ASSERT_EQ(DecodeAs(G711_A, swapped, b).count, 160);
    EXPECT_EQ(std::memcmp(a, b, sizeof(int16_t) * 160), 0);
}

// Transcoding by decode and re-encode gives what a separate decoder and
// encoder pair gives, frame after frame.
void CheckReencoding(int16_t selector, int16_t from, int16_t to, int samples, int growth) {
    const auto pcm = velkorix::test::SpeechLike(static_cast<std::size_t>(samples) * 30, 45);
    VoiceState source, decoder, encoder;
    QX_VOICE_EncReset(&source, from);
    QX_VOICE_DecReset(&decoder, from);
    QX_VOICE_EncReset(&encoder, to);
    VoiceTransState state;
    ASSERT_EQ(QX_VOICE_TransCodeReset(&state, selector), VOICE_OK);
    for (int f = 0; f < 30; ++f) {
        VoiceFrame frame;
        ASSERT_EQ(QX_VOICE_EncodeFrame(&source, pcm.data() + f * samples, &frame, static_cast<int16_t>(samples)),
                  VOICE_OK);
        const int length = frame.length;
        VoiceFrame copy = frame;
        int16_t decoded[VOICE_MAX_SAMPLES];
        int16_t count = 0;
        ASSERT_EQ(QX_VOICE_DecodeFrame(&decoder, &copy, decoded, &count), VOICE_OK);
        VoiceFrame expected;
        ASSERT_EQ(QX_VOICE_EncodeFrame(&encoder, decoded, &expected, count), VOICE_OK);

        ASSERT_EQ(QX_VOICE_TransCodeFrame(&state, &frame), VOICE_OK);
        ASSERT_EQ(frame.length, length + growth);
        ASSERT_EQ(std::memcmp(&frame, &expected, 4 + 2 * static_cast<std::size_t>(frame.length)), 0) << "frame " << f;
    }
}

TEST(VoiceTranscode, BareAdpcmFramesGainTheirHeader) {
    // 40 words of type 67 (160 samples) become 42 words of type 3.
    CheckReencoding(TRANS_ADPCM, ADPCM_BARE, ADPCM_PRED, 160, 2);
}

TEST(VoiceTranscode, TwoBitLinearFramesBecomeG726At16kbps) {
    // L words of type 68 (8 L samples) stay L words of G.726 at 16 kbit/s.
    CheckReencoding(TRANS_ADPCM2, ADPCM2_LINEAR, G726_16, 160, 0);
}

TEST(VoiceTranscode, AFrameTheDecoderRejectsStaysAsItWas) {
    VoiceTransState state;
    QX_VOICE_TransCodeReset(&state, TRANS_ADPCM2);
    VoiceFrame frame = MakeFrame(11);  // 88 samples: not a unit frame
    const VoiceFrame before = frame;
    const VoiceTransState stateBefore = state;
    EXPECT_EQ(QX_VOICE_TransCodeFrame(&state, &frame), VOICE_OK);
    EXPECT_EQ(std::memcmp(&frame, &before, sizeof(frame)), 0);
    EXPECT_EQ(std::memcmp(&state, &stateBefore, sizeof(state)), 0);
    VoiceFrame badHeader = MakeFrame(10, 0x0200);
    const VoiceFrame badBefore = badHeader;
    EXPECT_EQ(QX_VOICE_TransCodeFrame(&state, &badHeader), VOICE_OK);
    EXPECT_EQ(std::memcmp(&badHeader, &badBefore, sizeof(badHeader)), 0);
}

// ---- Threads ----

TEST(VoiceApi, SeparateStatesRunInParallel) {
    const auto pcm = velkorix::test::SpeechLike(160 * 400, 46);
    auto run = [&](int16_t type, std::vector<uint8_t> *out) {
        VoiceState enc, dec;
        QX_VOICE_EncReset(&enc, type);
        QX_VOICE_DecReset(&dec, type);
        for (std::size_t at = 0; at < pcm.size(); at += 160) {
            VoiceFrame frame;
            QX_VOICE_EncodeFrame(&enc, pcm.data() + at, &frame, 160);
            int16_t samples[VOICE_MAX_SAMPLES];
            int16_t count = 0;
            QX_VOICE_DecodeFrame(&dec, &frame, samples, &count);
            const auto *bytes = reinterpret_cast<const uint8_t *>(samples);
            out->insert(out->end(), bytes, bytes + 2 * count);
        }
    };
    const int16_t types[] = {G726_40, ADPCM2_LINEAR, ADPCM_BARE, G726_16_MSB};
    std::vector<std::vector<uint8_t>> alone(4), together(4);
    for (int i = 0; i < 4; ++i) run(types[i], &alone[static_cast<std::size_t>(i)]);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) threads.emplace_back(run, types[i], &together[static_cast<std::size_t>(i)]);
    for (auto &t : threads) t.join();
    EXPECT_EQ(alone, together);
}

}  // namespace
