// G.726 of the voice library: codeword packings and reorders, frames through
// the library, encoder/decoder lock-step, and bit-exact agreement with
// spandsp's G.726 (linear PCM interface) over long speech-like and noise
// signals at all four rates.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "velkorix/qx_voice.h"
#include "g726_plain_model.h"
#include "voice/g726.h"
#include "voice_signals.h"

#ifdef VELKORIX_HAVE_SPANDSP
#include <spandsp.h>
#endif

namespace {

using namespace velkorix::voice;
using velkorix::test::Noise;
using velkorix::test::G726DecodeSample;
using velkorix::test::G726EncodeSample;
using velkorix::test::G726OutputSample;
using velkorix::test::G726PackCodesLsbFirst;
using velkorix::test::SpeechLike;
using velkorix::test::ToneBursts;

std::vector<uint8_t> PackLsb(std::vector<uint8_t> codes, int width) {
    std::vector<uint8_t> out((codes.size() * static_cast<std::size_t>(width) + 7) / 8 + 1, 0xEE);
    G726PackCodesLsbFirst(codes.data(), static_cast<int>(codes.size()), width, out.data());
    out.resize((codes.size() * static_cast<std::size_t>(width) + 7) / 8);
    return out;
}

struct PackingCase {
    int width;
    std::vector<uint8_t> codes, lsb, msb;
};

const std::vector<PackingCase> &PackingCases() {
    static const std::vector<PackingCase> cases = {
        {4, {1, 2, 3, 4}, {0x21, 0x43}, {0x12, 0x34}},
        {3, {1, 2, 3, 4, 5, 6, 7, 0}, {0xD1, 0x58, 0x1F}, {0x29, 0xCB, 0xB8}},
        {2, {1, 2, 3, 0}, {0x39}, {0x6C}},
        {5, {1, 2, 3, 4, 5, 6, 7, 8}, {0x41, 0x0C, 0x52, 0xCC, 0x41}, {0x08, 0x86, 0x42, 0x98, 0xE8}},
    };
    return cases;
}

TEST(G726Packing, ExamplesPackAndReorderBothWays) {
    for (const PackingCase &c : PackingCases()) {
        EXPECT_EQ(PackLsb(c.codes, c.width), c.lsb) << "width " << c.width;
        std::vector<uint8_t> data = c.lsb;
        ASSERT_EQ(G726ReorderToMsb(data.data(), c.width, static_cast<int>(data.size())), 0);
        EXPECT_EQ(data, c.msb) << "width " << c.width;
        ASSERT_EQ(G726ReorderToLsb(data.data(), c.width, static_cast<int>(data.size())), 0);
        EXPECT_EQ(data, c.lsb) << "width " << c.width;
    }
}

// Independent bit-by-bit model of the MSB-first layout.
std::vector<uint8_t> PackMsbModel(const std::vector<uint8_t> &codes, int width) {
    std::vector<uint8_t> out((codes.size() * static_cast<std::size_t>(width) + 7) / 8, 0);
    std::size_t bit = 0;
    for (uint8_t code : codes)
        for (int k = width - 1; k >= 0; --k, ++bit)
            if ((code >> k) & 1) out[bit / 8] |= static_cast<uint8_t>(0x80 >> (bit % 8));
    return out;
}

TEST(G726Packing, ReordersAreInverseOnRandomPayloadsOfEveryWidth) {
    velkorix::test::XorShift32 random(99);
    for (int width = 2; width <= 5; ++width) {
        for (int round = 0; round < 200; ++round) {
            // Whole payloads: a code count whose bits fill whole bytes.
            const int codes = 8 * random.Range(1, 60);
            std::vector<uint8_t> words(static_cast<std::size_t>(codes));
            for (auto &w : words) w = static_cast<uint8_t>(random.Next() & ((1u << width) - 1));
            std::vector<uint8_t> data = PackLsb(words, width);
            ASSERT_EQ(G726ReorderToMsb(data.data(), width, static_cast<int>(data.size())), 0);
            ASSERT_EQ(data, PackMsbModel(words, width));
            ASSERT_EQ(G726ReorderToLsb(data.data(), width, static_cast<int>(data.size())), 0);
            ASSERT_EQ(data, PackLsb(words, width));
        }
    }
}

TEST(G726Packing, ReorderRefusesAPayloadThatIsNotWholeCodewords) {
    uint8_t data[32];
    for (int i = 0; i < 32; ++i) data[i] = static_cast<uint8_t>(i * 37);
    uint8_t copy[32];
    std::memcpy(copy, data, sizeof(data));
    EXPECT_EQ(G726ReorderToMsb(data, 3, 32), -1);  // 256 bits
    EXPECT_EQ(G726ReorderToLsb(data, 5, 32), -1);
    EXPECT_EQ(std::memcmp(copy, data, sizeof(data)), 0);
    EXPECT_EQ(G726ReorderToMsb(data, 4, 32), 0);
}

// ---- Frames through the library ----

constexpr int16_t kLsbTypes[] = {G726_16, G726_24, G726_32, G726_40};

TEST(G726Frames, LengthsFollowTheCodeWidth) {
    const auto pcm = SpeechLike(481, 3);
    const struct {
        int16_t type;
        int samples, length;
    } cases[] = {{G726_32, 160, 40}, {G726_40, 160, 50}, {G726_24, 160, 30}, {G726_16, 160, 20},
                 {G726_16, 81, 10},  {G726_40, 481, 150}, {G726_24, 481, 90}, {G726_24_MSB, 88, 16}};
    for (const auto &c : cases) {
        VoiceState state;
        ASSERT_EQ(QX_VOICE_EncReset(&state, c.type), VOICE_OK);
        VoiceFrame frame;
        ASSERT_EQ(QX_VOICE_EncodeFrame(&state, pcm.data(), &frame, static_cast<int16_t>(c.samples)), VOICE_OK);
        EXPECT_EQ(frame.flags[0] | frame.flags[1] << 8, 0x0100);
        EXPECT_EQ(frame.length, c.length) << "type " << c.type << ", " << c.samples << " samples";
    }
}

TEST(G726Frames, APayloadOfPartialCodewordsStaysLsbFirst) {
    // 88 samples at 24 kbit/s: 16 words, 256 bits, not whole codewords. The
    // reorder refuses such a payload, so the MSB type carries it unchanged.
    const auto pcm = SpeechLike(88, 9);
    VoiceState lsb, msb;
    QX_VOICE_EncReset(&lsb, G726_24);
    QX_VOICE_EncReset(&msb, G726_24_MSB);
    VoiceFrame a, b;
    ASSERT_EQ(QX_VOICE_EncodeFrame(&lsb, pcm.data(), &a, 88), VOICE_OK);
    ASSERT_EQ(QX_VOICE_EncodeFrame(&msb, pcm.data(), &b, 88), VOICE_OK);
    ASSERT_EQ(b.length, 16);
    EXPECT_EQ(std::memcmp(&a, &b, 4 + 32), 0);
}

TEST(G726Frames, AnOddCountEncodesOneSampleLess) {
    const auto pcm = SpeechLike(82, 4);
    VoiceState odd{}, even{};
    QX_VOICE_EncReset(&odd, G726_16);
    QX_VOICE_EncReset(&even, G726_16);
    VoiceFrame a, b;
    ASSERT_EQ(QX_VOICE_EncodeFrame(&odd, pcm.data(), &a, 81), VOICE_OK);
    ASSERT_EQ(QX_VOICE_EncodeFrame(&even, pcm.data(), &b, 80), VOICE_OK);
    EXPECT_EQ(a.length, 10);
    EXPECT_EQ(std::memcmp(&a, &b, 4 + 20), 0);
    // The 81st sample did not advance the state.
    EXPECT_EQ(std::memcmp(&odd, &even, sizeof(VoiceState)), 0);
}

TEST(G726Frames, MsbTypesCarryTheReorderedPayloadAndDecodeAlike) {
    const auto pcm = SpeechLike(480 * 20, 5);
    for (int16_t lsbType : kLsbTypes) {
        const int16_t msbType = static_cast<int16_t>(lsbType + 32);
        VoiceState encLsb, encMsb, decLsb, decMsb;
        QX_VOICE_EncReset(&encLsb, lsbType);
        QX_VOICE_EncReset(&encMsb, msbType);
        QX_VOICE_DecReset(&decLsb, lsbType);
        QX_VOICE_DecReset(&decMsb, msbType);
        for (std::size_t at = 0; at < pcm.size(); at += 480) {
            VoiceFrame lsb, msb;
            ASSERT_EQ(QX_VOICE_EncodeFrame(&encLsb, pcm.data() + at, &lsb, 480), VOICE_OK);
            ASSERT_EQ(QX_VOICE_EncodeFrame(&encMsb, pcm.data() + at, &msb, 480), VOICE_OK);
            ASSERT_EQ(lsb.length, msb.length);
            std::vector<uint8_t> reordered(lsb.payload, lsb.payload + 2 * lsb.length);
            G726ReorderToMsb(reordered.data(), G726CodeWidth(lsbType), static_cast<int>(reordered.size()));
            ASSERT_EQ(std::memcmp(reordered.data(), msb.payload, reordered.size()), 0);

            int16_t outLsb[VOICE_MAX_SAMPLES], outMsb[VOICE_MAX_SAMPLES];
            int16_t nLsb = 0, nMsb = 0;
            ASSERT_EQ(QX_VOICE_DecodeFrame(&decLsb, &lsb, outLsb, &nLsb), VOICE_OK);
            ASSERT_EQ(QX_VOICE_DecodeFrame(&decMsb, &msb, outMsb, &nMsb), VOICE_OK);
            ASSERT_EQ(nLsb, 480);
            ASSERT_EQ(nMsb, 480);
            ASSERT_EQ(std::memcmp(outLsb, outMsb, sizeof(int16_t) * 480), 0);
            // The caller's MSB-first frame now holds the LSB-first payload.
            ASSERT_EQ(std::memcmp(lsb.payload, msb.payload, 2 * lsb.length), 0);
        }
    }
}

TEST(G726Frames, EncoderAndDecoderStatesStayIdentical) {
    auto pcm = SpeechLike(160 * 300, 6);
    velkorix::test::AppendToneBursts(pcm, 160 * 200, 6);
    for (int16_t type : {int16_t{G726_16}, int16_t{G726_24}, int16_t{G726_32}, int16_t{G726_40}, int16_t{G726_24_MSB}}) {
        VoiceState enc{}, dec{};
        QX_VOICE_EncReset(&enc, type);
        QX_VOICE_DecReset(&dec, type);
        ASSERT_EQ(std::memcmp(&enc, &dec, 4 + sizeof(G726State)), 0);
        for (std::size_t at = 0; at < pcm.size(); at += 160) {
            VoiceFrame frame;
            ASSERT_EQ(QX_VOICE_EncodeFrame(&enc, pcm.data() + at, &frame, 160), VOICE_OK);
            int16_t out[VOICE_MAX_SAMPLES];
            int16_t count = 0;
            ASSERT_EQ(QX_VOICE_DecodeFrame(&dec, &frame, out, &count), VOICE_OK);
            ASSERT_EQ(count, 160);
            ASSERT_EQ(std::memcmp(&enc, &dec, 4 + sizeof(G726State)), 0) << "type " << type << " at " << at;
            for (int i = 0; i < count; ++i) {
                ASSERT_EQ(out[i] % 4, 0);
                ASSERT_LE(out[i], 32764);
            }
        }
    }
}

TEST(G726Frames, DecodingFollowsTheSignal) {
    // A coarse fidelity check: the higher the rate, the closer the decoded
    // speech, and even 16 kbit/s keeps most of the signal. The signal is kept
    // well below full scale, where the 14-bit coder overloads.
    auto pcm = SpeechLike(8000 * 10, 8);
    for (auto &x : pcm) x = static_cast<int16_t>(x / 4);
    double previousSnr = -100;
    for (int16_t type : kLsbTypes) {
        VoiceState enc, dec;
        QX_VOICE_EncReset(&enc, type);
        QX_VOICE_DecReset(&dec, type);
        double signal = 0, error = 0;
        for (std::size_t at = 0; at + 160 <= pcm.size(); at += 160) {
            VoiceFrame frame;
            QX_VOICE_EncodeFrame(&enc, pcm.data() + at, &frame, 160);
            int16_t out[VOICE_MAX_SAMPLES];
            int16_t count = 0;
            ASSERT_EQ(QX_VOICE_DecodeFrame(&dec, &frame, out, &count), VOICE_OK);
            for (int i = 0; i < 160; ++i) {
                const double s = pcm[at + static_cast<std::size_t>(i)];
                signal += s * s;
                error += (s - out[i]) * (s - out[i]);
            }
        }
        const double snr = 10.0 * std::log10(signal / error);
        std::printf("[   INFO   ] type %d: %.1f dB\n", type, snr);
        EXPECT_GT(snr, previousSnr + 2.0) << "type " << type;
        EXPECT_GT(snr, 5.0) << "type " << type;
        previousSnr = snr;
    }
}

#ifdef VELKORIX_HAVE_SPANDSP

struct SpandspCodec {
    explicit SpandspCodec(int width)
        : encoder(g726_init(nullptr, 8000 * width, G726_ENCODING_LINEAR, G726_PACKING_NONE)),
          decoder(g726_init(nullptr, 8000 * width, G726_ENCODING_LINEAR, G726_PACKING_NONE)) {}
    ~SpandspCodec() {
        g726_free(encoder);
        g726_free(decoder);
    }
    g726_state_t *encoder;
    g726_state_t *decoder;
};

struct Comparison {
    long codewordMismatches = 0;
    long sampleMismatches = 0;
    long limitedSamples = 0;         // |SR| beyond the 14-bit output range
    long limitedSampleMismatches = 0;
    long transitions = 0;
};

// Runs `pcm` through the plain per-sample model's encoder and decoder and
// through spandsp's, one frame of codewords at a time, and compares codewords
// and decoded samples.
Comparison CompareWithSpandsp(const std::vector<int16_t> &pcm, int width) {
    Comparison result;
    SpandspCodec peer(width);
    G726State encoder, decoder;
    G726Reset(encoder, width);
    G726Reset(decoder, width);
    constexpr std::size_t kBlock = 4000;
    std::vector<uint8_t> ours(kBlock), theirs(kBlock);
    std::vector<int16_t> theirPcm(kBlock);
    for (std::size_t at = 0; at < pcm.size(); at += kBlock) {
        const std::size_t n = std::min(kBlock, pcm.size() - at);
        for (std::size_t i = 0; i < n; ++i) ours[i] = static_cast<uint8_t>(G726EncodeSample(encoder, pcm[at + i]));
        g726_encode(peer.encoder, theirs.data(), pcm.data() + at, static_cast<int>(n));
        for (std::size_t i = 0; i < n; ++i) result.codewordMismatches += ours[i] != theirs[i];
        // Both decoders take our codewords.
        g726_decode(peer.decoder, theirPcm.data(), ours.data(), static_cast<int>(n));
        for (std::size_t i = 0; i < n; ++i) {
            const bool toneBefore = decoder.TD != 0;
            const int16_t sr = G726DecodeSample(decoder, ours[i]);
            if (toneBefore && decoder.AP == 256 && decoder.A1 == 0 && decoder.A2 == 0) ++result.transitions;
            const int16_t sample = G726OutputSample(sr);
            if (sr < -8192 || sr > 8191) {
                // Beyond the 14-bit range this decoder limits SR; spandsp
                // delivers SR x 4 in 16 bits as it comes.
                ++result.limitedSamples;
                result.limitedSampleMismatches +=
                    theirPcm[i] != static_cast<int16_t>(sr * 4) || sample != (sr < 0 ? -32768 : 32764);
            } else {
                result.sampleMismatches += sample != theirPcm[i];
            }
        }
    }
    return result;
}

constexpr std::size_t kTenMinutes = 8000 * 60 * 10;

class G726Oracle : public ::testing::TestWithParam<int> {};

TEST_P(G726Oracle, TenMinutesOfSpeechLikeAudioAgreeBitForBit) {
    const int width = GetParam();
    auto pcm = SpeechLike(kTenMinutes, 1000 + static_cast<uint32_t>(width));
    velkorix::test::AppendToneBursts(pcm, 8000 * 60, 77);
    const Comparison c = CompareWithSpandsp(pcm, width);
    EXPECT_EQ(c.codewordMismatches, 0);
    EXPECT_EQ(c.sampleMismatches, 0);
    EXPECT_EQ(c.limitedSampleMismatches, 0);
    EXPECT_GT(c.transitions, 0) << "the signal should exercise the transition detector";
    std::printf("[   INFO   ] %d kbit/s speech: %zu samples, %ld transitions, %ld limited samples\n", 8 * width,
                pcm.size(), c.transitions, c.limitedSamples);
}

TEST_P(G726Oracle, TenMinutesOfNoiseAgreeBitForBit) {
    const int width = GetParam();
    const auto pcm = Noise(kTenMinutes, 2000 + static_cast<uint32_t>(width));
    const Comparison c = CompareWithSpandsp(pcm, width);
    EXPECT_EQ(c.codewordMismatches, 0);
    EXPECT_EQ(c.sampleMismatches, 0);
    EXPECT_EQ(c.limitedSampleMismatches, 0);
    std::printf("[   INFO   ] %d kbit/s noise: %ld limited samples\n", 8 * width, c.limitedSamples);
}

INSTANTIATE_TEST_SUITE_P(AllRates, G726Oracle, ::testing::Values(2, 3, 4, 5),
                         [](const ::testing::TestParamInfo<int> &info) {
                             return std::to_string(8 * info.param) + "kbps";
                         });

TEST(G726OracleFrames, SpandspTakesTheSameFourteenBitInput) {
    // spandsp's linear interface drops the two low bits of each 16-bit sample
    // (an arithmetic shift, so negative values round down), as this encoder
    // does: inputs that differ only there give the same codewords.
    const auto pcm = Noise(80000, 32);
    std::vector<int16_t> floored(pcm.size()), truncated(pcm.size());
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        floored[i] = static_cast<int16_t>(pcm[i] & ~3);
        truncated[i] = static_cast<int16_t>(pcm[i] / 4 * 4);  // rounds toward zero instead
    }
    SpandspCodec a(4), b(4), c(4);
    std::vector<uint8_t> ca(pcm.size()), cb(pcm.size()), cc(pcm.size());
    g726_encode(a.encoder, ca.data(), pcm.data(), static_cast<int>(pcm.size()));
    g726_encode(b.encoder, cb.data(), floored.data(), static_cast<int>(pcm.size()));
    g726_encode(c.encoder, cc.data(), truncated.data(), static_cast<int>(pcm.size()));
    EXPECT_EQ(ca, cb);
    EXPECT_NE(ca, cc);
}

TEST(G726OracleFrames, LsbFirstFramesMatchSpandspRightPacking) {
    // spandsp's "right" packing puts the first codeword in the low bits of
    // the first byte: the layout of types 4-7.
    const auto pcm = SpeechLike(480 * 50, 31);
    for (int16_t type : kLsbTypes) {
        const int width = G726CodeWidth(type);
        g726_state_t *peer = g726_init(nullptr, 8000 * width, G726_ENCODING_LINEAR, G726_PACKING_RIGHT);
        VoiceState state;
        QX_VOICE_EncReset(&state, type);
        for (std::size_t at = 0; at < pcm.size(); at += 480) {
            VoiceFrame frame;
            ASSERT_EQ(QX_VOICE_EncodeFrame(&state, pcm.data() + at, &frame, 480), VOICE_OK);
            uint8_t packed[400];
            const int bytes = g726_encode(peer, packed, pcm.data() + at, 480);
            ASSERT_EQ(bytes, 2 * frame.length);
            ASSERT_EQ(std::memcmp(packed, frame.payload, static_cast<std::size_t>(bytes)), 0) << "type " << type;
        }
        g726_free(peer);
    }
}

#endif

}  // namespace
