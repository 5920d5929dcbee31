// The G.729 decoder's stages, driven one by one: creation, bit reader and
// unpacking, pitch delays and parity concealment, codebooks and gains, LSP
// decoding, post-filter, output conversion.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <set>
#include <vector>

#include "common/aligned.h"
#include "g729/g729_tables.h"
#include "g729_support.h"

namespace {

using namespace g729test;

struct Decoder {
    G729Decoder *d = G729Decoder_Create();
    ~Decoder() { G729Decoder_Destroy(d); }
    void Decode(const Frame &frame) {
        std::memcpy(d->inputFrame, frame.data(), kG729FrameBytes);
        G729Decoder_DecodeFrame(d);
    }
};

// ---- Creation ----

TEST(G729State, CreationHoldsTheResetValues) {
    Decoder dec;
    ASSERT_NE(dec.d, nullptr);
    const G729Decoder &d = *dec.d;
    const float lsf[10] = {0.285599f, 0.571199f, 0.856798f, 1.142397f, 1.427997f,
                           1.713596f, 1.999195f, 2.284795f, 2.570394f, 2.855993f};
    const float lsp[10] = {0.9595f, 0.8413f, 0.6549f, 0.4154f, 0.1423f, -0.1423f, -0.4154f, -0.6549f, -0.8413f, -0.9595f};
    for (int k = 0; k < 4; ++k)
        for (int j = 0; j < 10; ++j) EXPECT_EQ(d.lsfHistory[k][j], lsf[j]);
    for (int j = 0; j < 10; ++j) {
        EXPECT_EQ(d.lspOld[j], lsp[j]);
        EXPECT_EQ(d.synthHistory[j], 0.0f);
        EXPECT_EQ(d.synthMemory[j], 0.0f);
        EXPECT_EQ(d.postSynthMemory[j], 0.0f);
    }
    for (float e : d.pastQuantEnergy) EXPECT_EQ(e, -14.0f);
    for (int n = 0; n < kG729ExcitationPast; ++n) EXPECT_EQ(d.excitationHistory[n], 0.0f);
    for (float r : d.residualHistory) EXPECT_EQ(r, 0.0f);
    EXPECT_EQ(d.sharpness, 0.2f);
    EXPECT_EQ(d.previousPitchLag, 60);
    EXPECT_EQ(d.agcGain, 1.0f);
    EXPECT_EQ(d.tiltMemory, 0.0f);
    EXPECT_EQ(d.hpX1 + d.hpX2 + d.hpY1 + d.hpY2, 0.0f);
    EXPECT_NE(d.bitReader, nullptr);
    // The record layout the driver relies on.
    EXPECT_EQ(static_cast<const void *>(&d), static_cast<const void *>(d.outputPcm));
    EXPECT_EQ(d.synthHistory + kG729LpcOrder, d.synth);
}

TEST(G729State, DecodersDoNotInfluenceEachOther) {
    Lcg rng(11);
    std::vector<Frame> a(30), b(30);
    for (auto &f : a)
        for (auto &byte : f) byte = static_cast<uint8_t>(rng.Next() >> 24);
    for (auto &f : b)
        for (auto &byte : f) byte = static_cast<uint8_t>(rng.Next() >> 24);
    const std::vector<int16_t> aliceAlone = DecodeFrames(a);
    const std::vector<int16_t> bobAlone = DecodeFrames(b);

    Decoder alice, bob;
    std::vector<int16_t> aliceMixed, bobMixed;
    for (std::size_t i = 0; i < a.size(); ++i) {
        alice.Decode(a[i]);
        aliceMixed.insert(aliceMixed.end(), alice.d->outputPcm, alice.d->outputPcm + kG729FrameSamples);
        bob.Decode(b[i]);
        bobMixed.insert(bobMixed.end(), bob.d->outputPcm, bob.d->outputPcm + kG729FrameSamples);
    }
    EXPECT_EQ(aliceMixed, aliceAlone);
    EXPECT_EQ(bobMixed, bobAlone);
}

struct FailingHeap {
    static int calls, failAt, releases;
    static void *Allocate(std::size_t size) { return ++calls == failAt ? nullptr : std::malloc(size); }
    static void Release(void *block) {
        ++releases;
        std::free(block);
    }
};
int FailingHeap::calls = 0, FailingHeap::failAt = 0, FailingHeap::releases = 0;

TEST(G729State, CreationFailureReleasesWhatWasAllocated) {
    for (int failAt : {1, 2}) {
        FailingHeap::calls = FailingHeap::releases = 0;
        FailingHeap::failAt = failAt;
        const velkorix::RawAllocator previous = velkorix::SetRawAllocator({FailingHeap::Allocate, FailingHeap::Release});
        G729Decoder *d = G729Decoder_Create();
        velkorix::SetRawAllocator(previous);
        EXPECT_EQ(d, nullptr) << "allocation " << failAt << " failed";
        EXPECT_EQ(FailingHeap::releases, FailingHeap::calls - 1) << "every block obtained is released";
    }
    G729Decoder_Destroy(nullptr);  // ignored
}

// ---- Bit reader and unpacking ----

TEST(G729BitReader, ReadsMostSignificantBitFirstAcrossWords) {
    const uint8_t bytes[10] = {0xA5, 0x0F, 0xF0, 0x3C, 0x81, 0x7E, 0x12, 0x34, 0x56, 0x78};
    G729BitReader r;
    G729BitReaderStart(&r, bytes, sizeof(bytes));
    EXPECT_EQ(G729BitReaderRead(&r, 1), 1u);
    EXPECT_EQ(G729BitReaderRead(&r, 3), 0x2u);        // 010
    EXPECT_EQ(G729BitReaderRead(&r, 8), 0x50u);       // 0101 0000
    EXPECT_EQ(G729BitReaderRead(&r, 24), 0xFF03C8u);  // crosses the first word
    EXPECT_EQ(G729BitReaderRead(&r, 32), 0x17E12345u);
    EXPECT_EQ(G729BitReaderRead(&r, 12), 0x678u);
}

TEST(G729BitReader, BytesPastTheFrameReadAsZero) {
    // Sentinels after the frame would show if the reader touched them.
    const uint8_t bytes[16] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                               0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    G729BitReader r;
    G729BitReaderStart(&r, bytes, 10);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(G729BitReaderRead(&r, 8), 0xFFu);
    EXPECT_EQ(G729BitReaderRead(&r, 32), 0u);
    G729BitReaderStart(&r, bytes, 3);
    EXPECT_EQ(G729BitReaderRead(&r, 20), 0xFFFFFu);
    EXPECT_EQ(G729BitReaderRead(&r, 32), 0xF0000000u);
}

TEST(G729Frame, UnpacksTheElevenParametersInFrameOrder) {
    Lcg rng(5);
    Decoder dec;
    for (int trial = 0; trial < 500; ++trial) {
        int32_t params[kG729ParameterCount];
        for (int i = 0; i < kG729ParameterCount; ++i) params[i] = static_cast<int32_t>(rng.Below(1u << kWidths[i]));
        std::memcpy(dec.d->inputFrame, Pack(params).data(), kG729FrameBytes);
        G729UnpackFrame(dec.d);
        for (int i = 0; i < kG729ParameterCount; ++i) {
            if (i == 3) continue;
            ASSERT_EQ(dec.d->params[i], params[i]) << "parameter " << i;
        }
        ASSERT_EQ(dec.d->params[3], G729PitchParityError(params[2], params[3]));
    }
    // Positions from the frame table: L0 is bit 7 of byte 0, P0 bit 5 of byte 3,
    // GA2/GB2 the low seven bits of byte 9.
    const uint8_t marks[10] = {0x80, 0, 0, 0x20, 0, 0, 0, 0, 0, 0x7F};
    std::memcpy(dec.d->inputFrame, marks, sizeof(marks));
    G729UnpackFrame(dec.d);
    EXPECT_EQ(dec.d->params[0], 0x80);
    EXPECT_EQ(dec.d->params[10], 0x7F);
    EXPECT_EQ(dec.d->params[3], 0);  // P1 = 0 with P0 = 1: parity holds
}

TEST(G729Frame, PitchParityCoversTheSixHighBits) {
    for (int32_t p1 = 0; p1 < 256; ++p1) {
        for (int32_t p0 = 0; p0 < 2; ++p0) {
            int ones = p0;
            for (int b = 2; b < 8; ++b) ones += (p1 >> b) & 1;
            ASSERT_EQ(G729PitchParityError(p1, p0), ones % 2 == 1 ? 0 : 1) << p1 << " " << p0;
        }
    }
    EXPECT_EQ(G729PitchParityError(0, 0), 1);  // ten zero bytes fail the check
    EXPECT_EQ(G729PitchParityError(3, 0), 1);  // the two low bits take no part
}

TEST(G729Frame, EveryFrameDecodesToEightySamples) {
    Lcg rng(99);
    Decoder dec;
    for (int i = 0; i < 300; ++i) {
        for (auto &b : dec.d->inputFrame) b = static_cast<uint8_t>(rng.Next() >> 24);
        ASSERT_EQ(G729Decoder_DecodeFrame(dec.d), 10);
        for (float s : dec.d->synth) ASSERT_TRUE(std::isfinite(s));
    }
    std::memset(dec.d->inputFrame, 0, kG729FrameBytes);
    EXPECT_EQ(G729Decoder_DecodeFrame(dec.d), 10);
}

// ---- Pitch delay ----

// Delay in thirds of a sample.
int Thirds(G729PitchDelay d) { return 3 * d.integer + d.fraction; }

TEST(G729Excitation, FirstSubframeDelays) {
    auto check = [](int32_t p1, int32_t t0, int32_t frac) {
        const G729PitchDelay d = G729DecodePitchDelay1(p1, 0, 60);
        EXPECT_EQ(d.integer, t0) << "P1 = " << p1;
        EXPECT_EQ(d.fraction, frac) << "P1 = " << p1;
    };
    check(0, 19, 1);
    check(196, 85, -1);
    check(197, 85, 0);
    check(255, 143, 0);
    for (int32_t p1 = 0; p1 < 256; ++p1) {
        const G729PitchDelay d = G729DecodePitchDelay1(p1, 0, 60);
        // 19 1/3 to 84 2/3 in thirds, then whole delays 85 to 143.
        ASSERT_EQ(Thirds(d), p1 < 197 ? 58 + p1 : 3 * (p1 - 112)) << p1;
        ASSERT_GE(d.fraction, -1);
        ASSERT_LE(d.fraction, 1);
    }
    const G729PitchDelay concealed = G729DecodePitchDelay1(17, 1, 77);
    EXPECT_EQ(concealed.integer, 77);
    EXPECT_EQ(concealed.fraction, 0);
}

TEST(G729Excitation, SecondSubframeDelays) {
    G729PitchDelay d = G729DecodePitchDelay2(0, 20);
    EXPECT_EQ(d.integer, 19);
    EXPECT_EQ(d.fraction, 1);
    d = G729DecodePitchDelay2(29, 143);
    EXPECT_EQ(d.integer, 143);
    EXPECT_EQ(d.fraction, 0);
    d = G729DecodePitchDelay2(31, 143);
    EXPECT_EQ(d.integer, 144);
    EXPECT_EQ(d.fraction, -1);
    for (int32_t first = 19; first <= 144; ++first) {
        int tmin = std::max(first - 5, 20);
        if (tmin + 9 > 143) tmin = 134;
        for (int32_t p2 = 0; p2 < 32; ++p2) {
            const G729PitchDelay e = G729DecodePitchDelay2(p2, first);
            ASSERT_EQ(Thirds(e), 3 * tmin + p2 - 2) << first << " " << p2;
            ASSERT_GE(e.fraction, -1);
            ASSERT_LE(e.fraction, 1);
        }
    }
}

TEST(G729Excitation, LongestDelayIsStoredForConcealment) {
    Decoder dec;
    int32_t params[kG729ParameterCount] = {0, 0, 255, GoodParity(255), 0, 0, 0, 31, 0, 0, 0};
    dec.Decode(Pack(params));
    EXPECT_EQ(dec.d->pitchLags[0], 143);
    EXPECT_EQ(dec.d->pitchLags[1], 144);
    EXPECT_EQ(dec.d->previousPitchLag, 144);
    // The next frame's parity error repeats 144 and the decoder keeps going.
    params[3] ^= 1;
    dec.Decode(Pack(params));
    EXPECT_EQ(dec.d->pitchLags[0], 144);
    for (float s : dec.d->synth) EXPECT_TRUE(std::isfinite(s));
}

TEST(G729Excitation, ParityErrorsRepeatThePreviousSecondSubframeDelay) {
    Decoder dec;
    const Frame zero{};  // P1 = 0 with P0 = 0: parity error; P2 = 0
    dec.Decode(zero);
    EXPECT_EQ(dec.d->params[3], 1);
    EXPECT_EQ(dec.d->pitchLags[0], 60);  // first frame: the reset delay
    EXPECT_EQ(dec.d->pitchLags[1], 54);  // window from 55, P2 = 0: 54 1/3
    EXPECT_EQ(dec.d->previousPitchLag, 54);
    dec.Decode(zero);
    EXPECT_EQ(dec.d->pitchLags[0], 54);
    EXPECT_EQ(dec.d->pitchLags[1], 48);
    // A good frame in between resets the chain to its own delays.
    int32_t params[kG729ParameterCount] = {0, 0, 100, GoodParity(100), 0, 0, 0, 10, 0, 0, 0};
    dec.Decode(Pack(params));
    EXPECT_EQ(dec.d->pitchLags[0], 53);  // (100 + 2) / 3 + 19
    EXPECT_EQ(dec.d->pitchLags[1], 51);  // window from 48, P2 = 10: 51 0/3
    dec.Decode(zero);
    EXPECT_EQ(dec.d->pitchLags[0], 51);
}

// The adaptive-codebook vector straight from its definition, sample by
// sample in double precision, over the same in-place buffer semantics.
void ReferenceAdaptive(std::vector<double> &buf, int start, int t0, int frac) {
    int f = -frac;
    int base = start - t0;
    if (f < 0) {
        f += 3;
        --base;
    }
    for (int n = 0; n < kG729SubframeSamples; ++n) {
        double s = 0.0;
        for (int i = 0; i < 10; ++i)
            s += buf[base + n - i] * g729::kInter3l[f + 3 * i] + buf[base + n + 1 + i] * g729::kInter3l[3 - f + 3 * i];
        buf[start + n] = s;
    }
}

TEST(G729Excitation, AdaptiveCodebookInterpolatesThePastExcitation) {
    Lcg rng(3);
    // Exactly the history and one subframe, so a read outside shows under the
    // address sanitizer.
    const int size = kG729ExcitationPast + kG729SubframeSamples;
    // Delays below 19 are not produced by the decoder; the routine still
    // keeps to its definition for them (from 11 on, where every sample read
    // is one already produced).
    for (int t0 = 11; t0 <= 144; ++t0) {
        for (int frac = -1; frac <= 1; ++frac) {
            if (t0 == 144 && frac != -1) continue;   // 144 only comes as 143 2/3
            std::vector<float> exc(size);
            for (float &v : exc) v = static_cast<float>(static_cast<int32_t>(rng.Next()) / 2147483648.0);
            std::vector<double> ref(exc.begin(), exc.end());
            G729AdaptiveCodebook(exc.data() + kG729ExcitationPast, {t0, frac});
            ReferenceAdaptive(ref, kG729ExcitationPast, t0, frac);
            for (int n = 0; n < kG729SubframeSamples; ++n)
                ASSERT_NEAR(exc[kG729ExcitationPast + n], ref[kG729ExcitationPast + n], 2e-5)
                    << "delay " << t0 << " " << frac << "/3, sample " << n;
        }
    }
}

// ---- Fixed codebook, sharpening, gains ----

TEST(G729Excitation, FixedCodebookPulses) {
    float code[kG729SubframeSamples];
    G729FixedCodebook(0, 0, code);
    for (int n = 0; n < kG729SubframeSamples; ++n) EXPECT_EQ(code[n], n < 4 ? -1.0f : 0.0f) << n;

    std::set<std::vector<int>> seen;
    for (int32_t positions = 0; positions < 8192; ++positions) {
        const int32_t signs = positions & 15;
        G729FixedCodebook(positions, signs, code);
        std::vector<int> at;
        for (int n = 0; n < kG729SubframeSamples; ++n) {
            if (code[n] == 0.0f) continue;
            at.push_back(n);
            const int track = std::min(n % 5, 3);
            ASSERT_EQ(code[n], (signs >> track) & 1 ? 1.0f : -1.0f) << positions;
        }
        ASSERT_EQ(at.size(), 4u) << positions;
        int perTrack[4] = {};
        for (int n : at) ++perTrack[std::min(n % 5, 3)];
        for (int k = 0; k < 4; ++k) ASSERT_EQ(perTrack[k], 1) << "one pulse on each track: " << positions;
        seen.insert(at);
    }
    EXPECT_EQ(seen.size(), 8192u);  // every index names its own positions
}

TEST(G729Excitation, SharpeningAndGainsOfOneSubframe) {
    // Gain index 0: GA = 0 -> imap1 row 5 {0.197901, 1.214512}, GB = 0 ->
    // imap2 row 2 {0.313871, 0.072357} of the Recommendation's tables.
    const double gainPitch = 0.197901 + 0.313871;
    const double correction = 1.214512 + 0.072357;
    {
        // Delay 143: no sharpening; code energy 4 (four unit pulses).
        Decoder dec;
        int32_t params[kG729ParameterCount] = {0, 0, 255, GoodParity(255), 0, 0, 0, 0, 0, 0, 0};
        std::memcpy(dec.d->inputFrame, Pack(params).data(), kG729FrameBytes);
        G729UnpackFrame(dec.d);
        float code[kG729SubframeSamples];
        G729DecodeSubframeExcitation(dec.d, 0, code);
        float plain[kG729SubframeSamples];
        G729FixedCodebook(0, 0, plain);
        for (int n = 0; n < kG729SubframeSamples; ++n) EXPECT_EQ(code[n], plain[n]);
        EXPECT_NEAR(dec.d->gainPitch, gainPitch, 1e-6);
        const double predicted = 36.0 - 10.0 * std::log10(4.01 / 40.0) + -14.0 * (0.68 + 0.58 + 0.34 + 0.19);
        EXPECT_NEAR(dec.d->gainCode, correction * std::pow(10.0, predicted / 20.0), 1e-4);
        EXPECT_NEAR(dec.d->pastQuantEnergy[0], 20.0 * std::log10(correction), 1e-5);
        for (int k = 1; k < 4; ++k) EXPECT_EQ(dec.d->pastQuantEnergy[k], -14.0f);
        EXPECT_NEAR(dec.d->sharpness, gainPitch, 1e-6);
        // The excitation is the code vector scaled: the past is silent.
        const float *exc = dec.d->excitationHistory + kG729ExcitationPast;
        for (int n = 0; n < kG729SubframeSamples; ++n) EXPECT_FLOAT_EQ(exc[n], dec.d->gainCode * plain[n]);
    }
    {
        // Delay 20: the pulses repeat 20 samples later scaled by the reset
        // sharpness 0.2, those at 0..3 (negative) at 20..23.
        Decoder dec;
        int32_t params[kG729ParameterCount] = {0, 0, 1, GoodParity(1), 0, 0, 0x7F, 0, 0, 0, 0};
        std::memcpy(dec.d->inputFrame, Pack(params).data(), kG729FrameBytes);
        G729UnpackFrame(dec.d);
        float code[kG729SubframeSamples];
        G729DecodeSubframeExcitation(dec.d, 0, code);
        ASSERT_EQ(dec.d->pitchLags[0], 20);  // P1 = 1: 19 2/3, integer part 20
        for (int n = 0; n < kG729SubframeSamples; ++n) {
            const float expected = n < 4 ? -1.0f : (n >= 20 && n < 24) ? -0.2f : 0.0f;
            EXPECT_FLOAT_EQ(code[n], expected) << n;
        }
        EXPECT_GE(dec.d->sharpness, 0.2f);
        EXPECT_LE(dec.d->sharpness, 0.7945f);
    }
}

// Every float the decoder carries from frame to frame is finite.
bool StateIsFinite(const G729Decoder &d) {
    bool finite = std::isfinite(d.agcGain) && std::isfinite(d.tiltMemory) && std::isfinite(d.hpX1) &&
                  std::isfinite(d.hpX2) && std::isfinite(d.hpY1) && std::isfinite(d.hpY2) &&
                  std::isfinite(d.gainCode) && std::isfinite(d.gainPitch) && std::isfinite(d.sharpness);
    for (float v : d.synthHistory) finite = finite && std::isfinite(v);
    for (float v : d.synth) finite = finite && std::isfinite(v);
    for (float v : d.excitationHistory) finite = finite && std::isfinite(v);
    for (float v : d.synthMemory) finite = finite && std::isfinite(v);
    for (float v : d.residualHistory) finite = finite && std::isfinite(v);
    for (float v : d.postSynthMemory) finite = finite && std::isfinite(v);
    return finite;
}

float LargestExcitation(const G729Decoder &d) {
    float largest = 0.0f;
    for (float v : d.excitationHistory) largest = std::max(largest, std::fabs(v));
    return largest;
}

// Hostile frames: adaptive gains above 1 in both subframes. The first 400
// repeat one frame at a short delay (gain index 5, the largest adaptive gain,
// 1.356); the rest have random LSP, delay and pulse indices with a gain index
// whose adaptive gain exceeds 1.
std::vector<Frame> HostileFrames(int count) {
    std::vector<int32_t> loudGains;
    for (int32_t g = 0; g < 128; ++g) {
        const float gp = g729::kGbk1[g729::kImap1[g >> 4]][0] + g729::kGbk2[g729::kImap2[g & 15]][0];
        if (gp > 1.0f) loudGains.push_back(g);
    }
    const int32_t runaway[kG729ParameterCount] = {0x25, 0x100, 3, GoodParity(3), 0x1555, 0xF, 5, 15, 0x1555, 0xF, 5};
    Lcg rng(46);
    std::vector<Frame> frames;
    for (int i = 0; i < count; ++i) {
        if (i < 400) {
            frames.push_back(Pack(runaway));
            continue;
        }
        int32_t p[kG729ParameterCount];
        for (int k = 0; k < kG729ParameterCount; ++k) p[k] = static_cast<int32_t>(rng.Below(1u << kWidths[k]));
        p[6] = loudGains[rng.Below(static_cast<uint32_t>(loudGains.size()))];
        p[10] = loudGains[rng.Below(static_cast<uint32_t>(loudGains.size()))];
        frames.push_back(Pack(p));
    }
    return frames;
}

TEST(G729Excitation, HostileStreamStaysFiniteAndTheDecoderRecovers) {
    // Random frames whose gain indices keep the adaptive gain below 0.8.
    std::vector<int32_t> tameGains;
    for (int32_t g = 0; g < 128; ++g) {
        const float gp = g729::kGbk1[g729::kImap1[g >> 4]][0] + g729::kGbk2[g729::kImap2[g & 15]][0];
        if (gp < 0.8f) tameGains.push_back(g);
    }
    Lcg rng(45);
    std::vector<Frame> good;
    for (int i = 0; i < 200; ++i) {
        int32_t p[kG729ParameterCount];
        for (int k = 0; k < kG729ParameterCount; ++k) p[k] = static_cast<int32_t>(rng.Below(1u << kWidths[k]));
        p[6] = tameGains[rng.Below(static_cast<uint32_t>(tameGains.size()))];
        p[10] = tameGains[rng.Below(static_cast<uint32_t>(tameGains.size()))];
        good.push_back(Pack(p));
    }
    DiagnosticCapture quiet;
    const std::vector<int16_t> fresh = DecodeFrames(good);
    const std::vector<Frame> hostile = HostileFrames(2000);

    // Without the guard the stream is what it is said to be: the decoder's
    // memories leave the float range and stay there.
    {
        Decoder dec;
        for (const Frame &f : hostile) {
            std::memcpy(dec.d->inputFrame, f.data(), kG729FrameBytes);
            G729DecodeFrameWithExcitationBound(dec.d, INFINITY);
        }
        EXPECT_FALSE(StateIsFinite(*dec.d)) << "the hostile stream overflows an unguarded decoder";
    }

    Decoder dec;
    float largest = 0.0f;
    for (std::size_t i = 0; i < hostile.size(); ++i) {
        dec.Decode(hostile[i]);
        ASSERT_TRUE(StateIsFinite(*dec.d)) << "hostile frame " << i;
        largest = std::max(largest, LargestExcitation(*dec.d));
    }
    EXPECT_EQ(largest, kG729ExcitationBound) << "the guard acted";
    std::vector<int16_t> after;
    for (const Frame &f : good) {
        dec.Decode(f);
        after.insert(after.end(), dec.d->outputPcm, dec.d->outputPcm + kG729FrameSamples);
    }
    // The memories are short: twenty frames later the output is that of a
    // fresh decoder.
    const std::size_t skip = 20 * kG729FrameSamples;
    EXPECT_GT(SnrDb(std::vector<int16_t>(fresh.begin() + skip, fresh.end()),
                    std::vector<int16_t>(after.begin() + skip, after.end())),
              60.0);
}

TEST(G729Excitation, GuardChangesOnlySamplesBeyondItsBound) {
    // One subframe decoded twice from the same state, with and without the
    // guard (here at 3000, so that a loud past reaches it): samples within
    // the bound agree exactly, the others sit on the bound with their sign.
    Lcg rng(12);
    int reached = 0, kept = 0;
    for (int trial = 0; trial < 200; ++trial) {
        Decoder a, b;
        int32_t params[kG729ParameterCount];
        for (int k = 0; k < kG729ParameterCount; ++k) params[k] = static_cast<int32_t>(rng.Below(1u << kWidths[k]));
        params[3] = GoodParity(params[2]);
        for (Decoder *dec : {&a, &b}) {
            std::memcpy(dec->d->inputFrame, Pack(params).data(), kG729FrameBytes);
            G729UnpackFrame(dec->d);
        }
        Lcg past(static_cast<uint32_t>(trial));
        for (int n = 0; n < kG729ExcitationPast; ++n)
            a.d->excitationHistory[n] = b.d->excitationHistory[n] = static_cast<float>(past.Below(8000)) - 4000.0f;
        G729DecodeSubframeExcitation(a.d, 0, nullptr, INFINITY);
        G729DecodeSubframeExcitation(b.d, 0, nullptr, 3000.0f);
        for (int n = kG729ExcitationPast; n < kG729ExcitationPast + kG729SubframeSamples; ++n) {
            const float free = a.d->excitationHistory[n], held = b.d->excitationHistory[n];
            if (std::fabs(free) <= 3000.0f) {
                ASSERT_EQ(held, free) << trial << " " << n;
                ++kept;
            } else {
                ASSERT_EQ(held, std::copysign(3000.0f, free)) << trial << " " << n;
                ++reached;
            }
        }
    }
    EXPECT_GT(reached, 100);
    EXPECT_GT(kept, 100);
}

// ---- LSP decoding ----

TEST(G729Lsp, StabilityStepsAndWarnings) {
    DiagnosticCapture capture;
    {
        float lsf[10] = {0.001f, 0.3f, 0.6f, 0.9f, 1.2f, 1.5f, 1.8f, 2.1f, 2.4f, 2.7f};
        G729StabilizeLsf(lsf);
        EXPECT_EQ(lsf[0], 0.005f);
        EXPECT_EQ(capture.Count(kG729LspLowWarning), 1);
        EXPECT_EQ(capture.Count(kG729LspHighWarning), 0);
    }
    capture.Clear();
    {
        // The distance pass pushes the top past 3.135; it is lowered to
        // exactly 3.135, closer than 0.0392 to its neighbour.
        float lsf[10] = {0.3f, 0.6f, 0.9f, 1.2f, 1.5f, 1.8f, 2.1f, 2.4f, 3.12f, 3.13f};
        G729StabilizeLsf(lsf);
        EXPECT_EQ(lsf[9], 3.135f);
        EXPECT_LT(lsf[9] - lsf[8], 0.0392f);
        EXPECT_EQ(capture.Count(kG729LspHighWarning), 1);
        EXPECT_EQ(capture.Count(kG729LspLowWarning), 0);
    }
    capture.Clear();
    {
        // Equal neighbours end 0.0392 apart. One ordering pass moves a small
        // value only one place down: 0.9 passes 1.2 but stays above 1.0 and
        // is then raised to 1.0 + 0.0392 by the distance pass.
        float lsf[10] = {0.5f, 0.5f, 1.0f, 1.2f, 0.9f, 1.6f, 1.9f, 2.2f, 2.5f, 2.8f};
        G729StabilizeLsf(lsf);
        EXPECT_EQ(lsf[0], 0.5f);
        EXPECT_EQ(lsf[1], 0.5f + 0.0392f);
        EXPECT_EQ(lsf[2], 1.0f);
        EXPECT_EQ(lsf[3], 1.0f + 0.0392f);
        EXPECT_EQ(lsf[4], 1.2f);
    }
    {
        // ... while a large value travels all the way up in the same pass.
        float lsf[10] = {2.9f, 0.3f, 0.6f, 0.9f, 1.2f, 1.5f, 1.8f, 2.1f, 2.4f, 2.7f};
        G729StabilizeLsf(lsf);
        const float expected[10] = {0.3f, 0.6f, 0.9f, 1.2f, 1.5f, 1.8f, 2.1f, 2.4f, 2.7f, 2.9f};
        for (int j = 0; j < 10; ++j) EXPECT_EQ(lsf[j], expected[j]) << j;
    }
    EXPECT_TRUE(capture.Messages().empty());
}

// Frames that drive the MA predictor's memory to a clamp when repeated.
Frame LspFrame(uint8_t b0, uint8_t b1, uint8_t b2) {
    Frame f{};
    f[0] = b0;
    f[1] = b1;
    f[2] = b2;
    return f;
}

TEST(G729Lsp, RepeatedFramesReachTheClampsAndWarnOncePerFrame) {
    struct Case {
        Frame frame;
        const char *warning;
        int firstFrame;
    };
    const Case cases[] = {
        {LspFrame(0x11, 0x8C, 0x40), kG729LspLowWarning, 3},   // L1 = 17, L2 = L3 = 17
        {LspFrame(0x79, 0x5A, 0xC0), kG729LspHighWarning, 4},  // L1 = 121, L2 = L3 = 11
    };
    for (const Case &c : cases) {
        DiagnosticCapture capture;
        Decoder dec;
        for (int i = 0; i < 8; ++i) {
            dec.Decode(c.frame);
            EXPECT_EQ(static_cast<int>(capture.Messages().size()), i < c.firstFrame ? 0 : i - c.firstFrame + 1)
                << c.warning << " frame " << i;
        }
        EXPECT_EQ(capture.Count(c.warning), 8 - c.firstFrame);
    }
}

TEST(G729Lsp, WarningsGoToStandardOutputByDefault) {
    Decoder dec;
    const Frame low = LspFrame(0x11, 0x8C, 0x40);
    ::testing::internal::CaptureStdout();
    for (int i = 0; i < 4; ++i) dec.Decode(low);
    const std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed, kG729LspLowWarning);

    // A sink installed and removed again restores standard output.
    { DiagnosticCapture capture; }
    ::testing::internal::CaptureStdout();
    dec.Decode(low);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), kG729LspLowWarning);
}

// Value of F(z) = sum f[i] z^-i at z = e^{jw}.
std::complex<double> Evaluate(const std::vector<double> &f, double w) {
    std::complex<double> sum = 0.0;
    for (std::size_t i = 0; i < f.size(); ++i) sum += f[i] * std::polar(1.0, -w * static_cast<double>(i));
    return sum;
}

TEST(G729Lsp, LpcCoefficientsHaveTheLspsAsRoots) {
    // The LSPs are the zeros of A(z) + z^-11 A(1/z) (even-indexed ones) and
    // A(z) - z^-11 A(1/z) (odd-indexed ones) on the unit circle.
    Lcg rng(21);
    for (int trial = 0; trial < 50; ++trial) {
        float lsf[10], lsp[10];
        double w = 0.0;
        for (int j = 0; j < 10; ++j) {
            w += 0.05 + 0.5 * rng.Below(1000) / 1000.0 * (3.0 - w) / (10 - j);
            lsf[j] = static_cast<float>(w);
            lsp[j] = static_cast<float>(std::cos(static_cast<double>(lsf[j])));
        }
        float a[11];
        G729LspToLpc(lsp, a);
        ASSERT_EQ(a[0], 1.0f);
        std::vector<double> sum(12), difference(12);
        for (int i = 0; i <= 11; ++i) {
            const double direct = i <= 10 ? a[i] : 0.0;
            const double mirrored = i >= 1 ? a[11 - i] : 0.0;
            sum[i] = direct + mirrored;
            difference[i] = direct - mirrored;
        }
        for (int j = 0; j < 10; ++j) {
            const double w0 = std::acos(static_cast<double>(lsp[j]));
            const std::complex<double> v = Evaluate(j % 2 == 0 ? sum : difference, w0);
            ASSERT_LT(std::abs(v), 2e-3) << "trial " << trial << " lsp " << j;
        }
    }
}

TEST(G729Lsp, InterpolationAndPredictorMemory) {
    Decoder dec;
    Frame f{};
    f[0] = 0x25;
    f[1] = 0x3A;
    f[2] = 0x80;
    std::memcpy(dec.d->inputFrame, f.data(), kG729FrameBytes);
    G729UnpackFrame(dec.d);
    float first[10];
    G729DecodeLsp(dec.d, first);
    float resetLsp[10];
    std::memcpy(resetLsp, dec.d->lspOld, sizeof(resetLsp));
    G729InterpolateLpc(dec.d, first);

    // Subframe 1 of the first frame uses the midpoint with the reset LSPs.
    float middle[10], a[11];
    for (int j = 0; j < 10; ++j) middle[j] = 0.5f * resetLsp[j] + 0.5f * first[j];
    G729LspToLpc(middle, a);
    for (int i = 0; i <= 10; ++i) EXPECT_FLOAT_EQ(dec.d->lpcCoeffs[0][i], a[i]);
    G729LspToLpc(first, a);
    for (int i = 0; i <= 10; ++i) EXPECT_FLOAT_EQ(dec.d->lpcCoeffs[1][i], a[i]);
    for (int j = 0; j < 10; ++j) EXPECT_EQ(dec.d->lspOld[j], first[j]);

    // The same indices again give other LSPs: the predictor's memory moved on.
    float second[10];
    G729DecodeLsp(dec.d, second);
    bool differs = false;
    for (int j = 0; j < 10; ++j) differs |= second[j] != first[j];
    EXPECT_TRUE(differs);
    for (int j = 0; j < 10; ++j) EXPECT_EQ(dec.d->lsfHistory[0][j], dec.d->lsfHistory[1][j]);
}

// ---- Synthesis and post-processing ----

TEST(G729Synthesis, AllPoleFilterFollowsItsRecursion) {
    Lcg rng(8);
    const float a[11] = {1.0f, -1.2f, 0.8f, -0.3f, 0.1f, 0.05f, -0.02f, 0.01f, 0.0f, 0.0f, 0.003f};
    float memory[10], x[40];
    for (float &m : memory) m = static_cast<float>(rng.Below(2000)) - 1000.0f;
    for (float &v : x) v = static_cast<float>(rng.Below(2000)) - 1000.0f;
    std::vector<double> ref(memory, memory + 10);
    for (int k = 0; k < 40; ++k) {
        double s = x[k];
        for (int i = 1; i <= 10; ++i) s -= a[i] * ref[ref.size() - i];
        ref.push_back(s);
    }
    float keep[10];
    std::memcpy(keep, memory, sizeof(keep));
    float y[40];
    G729AllPoleFilter(a, x, y, 40, memory, false);
    for (int k = 0; k < 40; ++k) EXPECT_NEAR(y[k], ref[10 + k], 1e-3 * (1.0 + std::fabs(ref[10 + k])));
    EXPECT_EQ(std::memcmp(keep, memory, sizeof(keep)), 0);
    // In place, with the memory updated to the last ten outputs.
    G729AllPoleFilter(a, x, x, 40, memory, true);
    for (int k = 0; k < 40; ++k) EXPECT_EQ(x[k], y[k]);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(memory[i], y[30 + i]);

    // Other lengths follow the same recursion; the memory takes the last ten
    // outputs, or the older memory and the outputs when fewer than ten.
    for (int n : {3, 17, 22, 80}) {
        float mem[10], in[80], out[80];
        for (int i = 0; i < 10; ++i) mem[i] = static_cast<float>(i) - 4.0f;
        for (int k = 0; k < n; ++k) in[k] = static_cast<float>(rng.Below(2000)) - 1000.0f;
        std::vector<double> r(mem, mem + 10);
        for (int k = 0; k < n; ++k) {
            double v = in[k];
            for (int i = 1; i <= 10; ++i) v -= a[i] * r[r.size() - i];
            r.push_back(v);
        }
        G729AllPoleFilter(a, in, out, n, mem, true);
        for (int k = 0; k < n; ++k) ASSERT_NEAR(out[k], r[10 + k], 1e-3 * (1.0 + std::fabs(r[10 + k]))) << n;
        for (int i = 0; i < 10; ++i) ASSERT_NEAR(mem[i], r[r.size() - 10 + i], 1e-3 * (1.0 + std::fabs(r[r.size() - 10 + i]))) << n;
    }
}

TEST(G729PostFilter, DelaySearchRange) {
    auto range = [](int32_t t0) {
        int32_t lo, hi;
        G729PostFilterDelayRange(t0, &lo, &hi);
        return std::pair<int32_t, int32_t>(lo, hi);
    };
    EXPECT_EQ(range(141), std::make_pair(137, 143));
    EXPECT_EQ(range(140), std::make_pair(137, 143));
    EXPECT_EQ(range(144), std::make_pair(137, 143));
    EXPECT_EQ(range(19), std::make_pair(16, 22));
    EXPECT_EQ(range(60), std::make_pair(57, 63));
}

TEST(G729PostFilter, EqualCorrelationsKeepTheSmallerDelay) {
    std::vector<float> buffer(kG729ResidualPast + kG729SubframeSamples, 0.0f);
    float *r = buffer.data() + kG729ResidualPast;
    r[0] = 1.0f;
    r[-17] = 0.5f;  // cor(17) = 0.5
    r[-20] = 0.5f;  // cor(20) = 0.5
    float p[kG729SubframeSamples];
    EXPECT_EQ(G729PitchPostFilter(r, 16, 22, p), 17);
    r[-20] = 0.5000001f;
    EXPECT_EQ(G729PitchPostFilter(r, 16, 22, p), 20);
    // A residual with nothing to predict passes unchanged.
    std::fill(buffer.begin(), buffer.end(), 0.0f);
    r[5] = 3.0f;
    G729PitchPostFilter(r, 16, 22, p);
    for (int n = 0; n < kG729SubframeSamples; ++n) EXPECT_EQ(p[n], r[n]);
}

TEST(G729PostFilter, DigitalSilenceStaysSilentAndDropsTheGain) {
    Decoder dec;
    G729Decoder &d = *dec.d;
    for (auto &row : d.lpcCoeffs) {
        row[0] = 1.0f;
        for (int i = 1; i <= 10; ++i) row[i] = 0.1f / static_cast<float>(i);
    }
    d.pitchLags[0] = d.pitchLags[1] = 50;
    EXPECT_EQ(d.agcGain, 1.0f);
    G729PostFilter(&d);
    EXPECT_EQ(d.agcGain, 0.0f);
    for (float s : d.synth) EXPECT_EQ(s, 0.0f);
    G729HighPassFrame(&d);
    for (int16_t s : d.outputPcm) EXPECT_EQ(s, 0);
}

TEST(G729Output, RoundingAndSaturation) {
    EXPECT_EQ(G729ToPcm(32767.4f), 32767);
    EXPECT_EQ(G729ToPcm(32767.5f), 32767);
    EXPECT_EQ(G729ToPcm(-32768.6f), -32768);
    EXPECT_EQ(G729ToPcm(2.5f), 3);
    EXPECT_EQ(G729ToPcm(-2.5f), -3);
    EXPECT_EQ(G729ToPcm(2.4999998f), 2);
    EXPECT_EQ(G729ToPcm(0.49999997f), 0);
    EXPECT_EQ(G729ToPcm(-0.49999997f), 0);
    EXPECT_EQ(G729ToPcm(-0.0f), 0);
    EXPECT_EQ(G729ToPcm(1e30f), 32767);
    EXPECT_EQ(G729ToPcm(-INFINITY), -32768);
    EXPECT_EQ(G729ToPcm(NAN), 0);
}

TEST(G729Output, HighPassFilter) {
    // The frame loop (which takes the recursion two samples at a time) and the
    // single step both stay within float rounding of the filter computed in
    // double precision, over an input of +-10000.
    Decoder dec, other;
    Lcg rng(4);
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    double maxFrame = 0, maxStep = 0;
    for (int frame = 0; frame < 20; ++frame) {
        for (float &s : dec.d->synth) s = static_cast<float>(rng.Below(20000)) - 10000.0f;
        float step[kG729FrameSamples];
        double exact[kG729FrameSamples];
        for (int n = 0; n < kG729FrameSamples; ++n) {
            const double x = dec.d->synth[n];
            exact[n] = 0.93980581 * x - 1.8795834 * x1 + 0.93980581 * x2 + 1.9330735 * y1 - 0.93589199 * y2;
            x2 = x1;
            x1 = x;
            y2 = y1;
            y1 = exact[n];
            step[n] = G729HighPass(other.d, dec.d->synth[n]);
        }
        G729HighPassFrame(dec.d);
        for (int n = 0; n < kG729FrameSamples; ++n) {
            maxFrame = std::max(maxFrame, std::fabs(dec.d->synth[n] - exact[n]));
            maxStep = std::max(maxStep, std::fabs(step[n] - exact[n]));

            ASSERT_NEAR(dec.d->outputPcm[n], exact[n], 0.75) << frame << " " << n;
        }
    }
    EXPECT_LT(maxFrame, 0.25);
    EXPECT_LT(maxStep, 0.25);
    // Response: DC is removed; the voice band passes within 0.3 dB of unity
    // (the filter's pass band lies 0.25 dB down).
    auto gain = [](double hz) {
        Decoder f;
        double in = 0.0, out = 0.0;
        for (int n = 0; n < 16000; ++n) {
            const double x = 1000.0 * std::sin(2.0 * M_PI * hz * n / 8000.0);
            const double y = G729HighPass(f.d, static_cast<float>(x));
            if (n >= 8000) {
                in += x * x;
                out += y * y;
            }
        }
        return 10.0 * std::log10(out / in);
    };
    EXPECT_LT(gain(0.0001), -35.0);
    EXPECT_LT(gain(30.0), -6.0);
    EXPECT_NEAR(gain(1000.0), 0.0, 0.3);
    EXPECT_NEAR(gain(3000.0), 0.0, 0.3);
}

}  // namespace
