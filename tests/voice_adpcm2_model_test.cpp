// A second, plain model of the 2-bit linear ADPCM (voice type 68), written
// from the codec's step-by-step description alone: wide integers with the
// 16- and 32-bit wrap-around spelled out at each step, no tables, no shared
// code with the library. The library's encoder and decoder must agree with it
// sample by sample and field by field, from random states inside the limits
// the codec keeps and from states reached by real signals.
//
// The encoder and decoder of the library share one update, so an error in it
// would keep them in lock-step with each other; only an independent model
// catches it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "velkorix/qx_voice.h"
#include "voice/adpcm2.h"
#include "voice_signals.h"

namespace {

using velkorix::voice::Adpcm2DecodeSample;
using velkorix::voice::Adpcm2EncodeSample;
using velkorix::voice::Adpcm2Reset;
using velkorix::voice::Adpcm2State;
using velkorix::test::XorShift32;

// ---- The model ----

struct Model {
    int64_t SR1 = 16, SR2 = 16;  // halved reconstructed samples
    int64_t A1 = 0, A2 = 0;
    int64_t B[7] = {};                             // B[1] .. B[6]
    int64_t DQ[7] = {0, 32, 32, 32, 32, 32, 32};  // DQ[1] is the latest
    int64_t DMS = 0, DML = 0, AP = 0;
    int64_t YU = 544, TD = 0, PK1 = 0, PK2 = 0;
    int64_t YL = 34816;
};

// Two's complement wrap to 16 and 32 bits.
int64_t Wrap16(int64_t v) {
    v &= 0xFFFF;
    return v >= 0x8000 ? v - 0x10000 : v;
}
int64_t Wrap32(int64_t v) {
    v &= 0xFFFFFFFFLL;
    return v >= 0x80000000LL ? v - 0x100000000LL : v;
}
// Arithmetic shift right (floor division by a power of two).
int64_t Shr(int64_t v, int n) {
    const int64_t unit = int64_t{1} << n;
    return v >= 0 ? v / unit : -((-v + unit - 1) / unit);
}
int64_t Limit(int64_t v, int64_t low, int64_t high) { return v < low ? low : v > high ? high : v; }
int64_t Sgn(int64_t v) { return v < 0 ? -1 : 1; }

struct Outcome {
    bool defined = true;
    bool beyond16 = false;  // the encoder's difference left the 16-bit range
    int code = 0;
    int64_t output = 0;
};

// One sample. The encoder (encode = true) quantizes x; the decoder takes
// `code`.
Outcome ModelSample(Model &m, bool encode, int64_t x, int code) {
    Outcome out;
    // 1. Prediction.
    int64_t z = 0;
    for (int i = 1; i <= 6; ++i) z += m.B[i] * m.DQ[i];
    z = Wrap32(z);
    const int64_t p = Wrap32(z + m.A1 * m.SR1 + m.A2 * m.SR2);

    // 2. Scale factor.
    const int64_t al = m.AP < 256 ? Shr(m.AP, 2) : 64;
    const int64_t y = Wrap16(Shr(m.YL + Wrap16(m.YU - Shr(m.YL, 6)) * al, 6));

    // 3. Quantization (encoder only).
    if (encode) {
        // A difference beyond 16 bits counts as the 16-bit limit of its sign.
        const int64_t exact = Shr(8192 * x - p, 13);
        const int64_t d = Limit(exact, -32768, 32767);
        out.beyond16 = d != exact;
        {
            const int64_t magnitude = d < 0 ? -d : d;
            int64_t log = -128;
            if (magnitude > 0) {
                int e = 0;
                while ((magnitude >> (e + 1)) != 0) ++e;
                log = 128 * e + (Shr(magnitude * 128, e) & 127);
            }
            const bool large = Wrap16(log - Shr(y, 2)) > 260;
            code = d >= 0 ? (large ? 1 : 0) : (large ? 2 : 3);
        }
    }
    out.code = code;
    const bool small = code == 0 || code == 3;
    const bool negative = code == 2 || code == 3;

    // 4. Inverse quantizer.
    const int64_t dql = Wrap16(Shr(y, 2) + (small ? 116 : 365));
    // Within every state of the codec Y is 544..5120 and the shift 2..13.
    const int shift = static_cast<int>(14 - Shr(dql, 7));
    if (shift < 2 || shift > 13) {
        ADD_FAILURE() << "inverse quantizer shift " << shift << " outside the codec's states";
        out.defined = false;
        return out;
    }
    int64_t dq = Shr(((dql & 127) + 128) * 128, shift);
    if (negative) dq = -dq;

    // 5. Transition, against YL before this sample.
    const bool tr = 7147 * dql > m.YL && m.TD == 1;

    // 6. Speed averages.
    const int64_t f = small ? 0 : 7;
    m.DMS = Wrap16(m.DMS + Shr(f * 512 - m.DMS, 5));
    m.DML = Wrap16(m.DML + Shr(f * 2048 - m.DML, 7));

    // 7. Scale adaptation.
    const int64_t w = small ? -22 : 439;
    const int64_t oldYL = m.YL;
    m.YU = Limit(Wrap16(y + Shr(w * 32 - y, 5)), 544, 5120);
    m.YL = Wrap32(oldYL + m.YU - Shr(oldYL, 6));

    // 8. Reconstruction.
    const int64_t sr = Shr(p, 13) + dq;
    out.output = Limit(sr, -32768, 32767);
    m.SR2 = m.SR1;
    m.SR1 = Wrap16(Shr(sr, 1));

    // 9. Sign history.
    const int64_t pk0 = Wrap16(Shr(z, 13) + dq);
    const int64_t s0 = pk0 < 0 ? -1 : pk0 == 0 ? 0 : 1;
    const int64_t oldPK1 = m.PK1, oldPK2 = m.PK2;
    m.PK2 = oldPK1;
    m.PK1 = pk0;

    // 10. A2.
    const int64_t fa1 = Limit(m.A1, -8192, 8192);
    const int64_t h = Sgn(oldPK2) * 4096 - Sgn(oldPK1) * fa1;
    const int64_t a2p = Limit(Wrap16(m.A2 - Shr(m.A2, 7) + Shr(s0 * h, 5)), -12288, 12288);

    // 11. A1, limited with the new A2.
    const int64_t a1p = Limit(Wrap16(m.A1 + s0 * Sgn(oldPK1) * 192 - Shr(m.A1, 8)), -(15360 - a2p), 15360 - a2p);
    m.A2 = tr ? 0 : a2p;
    m.A1 = tr ? 0 : a1p;

    // 12. Tone.
    const bool tdp = a2p < -11776;
    m.TD = tr ? 0 : (tdp ? 1 : 0);

    // 13. Speed control, on the new averages.
    const int64_t spread = 4 * m.DMS - m.DML;
    const bool ax = (spread < 0 ? -spread : spread) >= Shr(m.DML, 3) || y < 1536 || tdp;
    m.AP = tr ? 256 : Wrap16(m.AP - Shr(m.AP, 4) + (ax ? 32 : 0));

    // 14. Zero coefficients, against the history before this sample.
    const int64_t step = dq > 0 ? 64 : dq < 0 ? -64 : 0;
    for (int i = 1; i <= 6; ++i) m.B[i] = tr ? 0 : Wrap16(m.B[i] - Shr(m.B[i], 8) + (m.DQ[i] >= 0 ? step : -step));

    // 15. History.
    for (int i = 6; i >= 2; --i) m.DQ[i] = m.DQ[i - 1];
    m.DQ[1] = Wrap16(dq);
    return out;
}

// ---- Between the model and the library's state ----

Adpcm2State ToLibrary(const Model &m) {
    Adpcm2State s;
    std::memset(&s, 0, sizeof(s));
    s.SR1 = static_cast<int16_t>(m.SR1);
    s.SR2 = static_cast<int16_t>(m.SR2);
    s.A1 = static_cast<int16_t>(m.A1);
    s.A2 = static_cast<int16_t>(m.A2);
    for (int i = 1; i <= 6; ++i) s.B[i - 1] = static_cast<int16_t>(m.B[i]);
    for (int i = 1; i <= 6; ++i) s.DQ[6 - i] = static_cast<int16_t>(m.DQ[i]);  // stored oldest first
    s.DMS = static_cast<int16_t>(m.DMS);
    s.DML = static_cast<int16_t>(m.DML);
    s.AP = static_cast<int16_t>(m.AP);
    s.YU = static_cast<int16_t>(m.YU);
    s.TD = static_cast<int16_t>(m.TD);
    s.PK1 = static_cast<int16_t>(m.PK1);
    s.PK2 = static_cast<int16_t>(m.PK2);
    s.YL = static_cast<int32_t>(m.YL);
    return s;
}

// The fields that differ, named; empty when the states agree.
std::string Differences(const Model &m, const Adpcm2State &s) {
    std::ostringstream out;
    auto field = [&](const char *name, int64_t model, int64_t library) {
        if (model != library) out << name << ": model " << model << ", library " << library << "; ";
    };
    field("SR1", m.SR1, s.SR1);
    field("SR2", m.SR2, s.SR2);
    field("A1", m.A1, s.A1);
    field("A2", m.A2, s.A2);
    for (int i = 1; i <= 6; ++i) field(("B" + std::to_string(i)).c_str(), m.B[i], s.B[i - 1]);
    for (int i = 1; i <= 6; ++i) field(("DQ" + std::to_string(i)).c_str(), m.DQ[i], s.DQ[6 - i]);
    field("DMS", m.DMS, s.DMS);
    field("DML", m.DML, s.DML);
    field("AP", m.AP, s.AP);
    field("YU", m.YU, s.YU);
    field("TD", m.TD, s.TD);
    field("PK1", m.PK1, s.PK1);
    field("PK2", m.PK2, s.PK2);
    field("YL", m.YL, s.YL);
    return out.str();
}

std::string Describe(const Model &m) {
    std::ostringstream out;
    out << "SR " << m.SR1 << "," << m.SR2 << " A " << m.A1 << "," << m.A2 << " B";
    for (int i = 1; i <= 6; ++i) out << " " << m.B[i];
    out << " DQ";
    for (int i = 1; i <= 6; ++i) out << " " << m.DQ[i];
    out << " DMS " << m.DMS << " DML " << m.DML << " AP " << m.AP << " YU " << m.YU << " TD " << m.TD << " PK "
        << m.PK1 << "," << m.PK2 << " YL " << m.YL;
    return out.str();
}

// A value in [low, high] scaled down by a random power of two, so that small,
// middling and extreme values all come up.
int64_t Draw(XorShift32 &random, int64_t low, int64_t high) {
    const int scale = random.Range(0, 15);
    const int64_t value = random.Range(static_cast<int>(low), static_cast<int>(high));
    return random.Range(0, 3) == 0 ? value : Shr(value, scale);
}

// A state inside the limits the codec keeps: YU 544..5120, YL 34816..327680
// (its update settles within 64 of 64 x YU and never leaves 64 x 544 ..
// 64 x 5120), A2 within +-12288, |A1| <= 15360 - A2, zero coefficients
// within +-16384 (where their leak balances the largest step), differences
// within the inverse quantizer's +-8160, the averages and AP within what
// their updates reach; reconstructed samples and sign history anything.
Model RandomState(XorShift32 &random) {
    Model m;
    m.SR1 = random.Range(-32768, 32767) >> random.Range(0, 15);
    m.SR2 = random.Range(-32768, 32767) >> random.Range(0, 15);
    // Now and then right at the tone threshold (-11776) or a limit.
    switch (random.Range(0, 15)) {
        case 0:
        case 1: m.A2 = random.Range(-11800, -11750); break;
        case 2: m.A2 = random.Range(0, 1) ? -12288 : 12288; break;
        default: m.A2 = Draw(random, -12288, 12288); break;
    }
    m.A1 = Draw(random, -(15360 - m.A2), 15360 - m.A2);
    for (int i = 1; i <= 6; ++i) m.B[i] = Draw(random, -16384, 16384);
    for (int i = 1; i <= 6; ++i) m.DQ[i] = Draw(random, -8160, 8160);
    m.DMS = random.Range(0, 3584);
    m.DML = random.Range(0, 14336);
    m.AP = random.Range(0, 3) == 0 ? 256 : random.Range(0, 512);
    m.YU = random.Range(544, 5120);
    m.YL = Limit(random.Range(0, 1) ? 64 * m.YU + random.Range(-64, 64) : random.Range(544 * 64, 5120 * 64), 544 * 64,
                 5120 * 64);
    m.TD = random.Range(0, 1);
    m.PK1 = random.Range(-32768, 32767) >> random.Range(0, 15);
    m.PK2 = random.Range(0, 7) == 0 ? 0 : random.Range(-32768, 32767) >> random.Range(0, 15);
    return m;
}

// An input sample: quiet, loud, clipped or near the prediction.
int64_t RandomInput(XorShift32 &random) {
    switch (random.Range(0, 3)) {
        case 0: return random.Range(-32768, 32767);
        case 1: return random.Range(-32768, 32767) >> random.Range(4, 15);
        case 2: return random.Range(0, 1) ? 32767 : -32768;
        default: return random.Range(-300, 300);
    }
}

// ---- The comparisons ----

// From each random state, a run of samples through the model and the
// library side by side; every output, code and state field must agree.
TEST(Adpcm2Model, DecoderAgreesFromRandomStates) {
    XorShift32 random(9001);
    for (int run = 0; run < 8000; ++run) {
        Model m = RandomState(random);
        Adpcm2State s = ToLibrary(m);
        const std::string start = Describe(m);
        for (int i = 0; i < 48; ++i) {
            const int code = static_cast<int>(random.Next() & 3);
            const Outcome expected = ModelSample(m, false, 0, code);
            ASSERT_TRUE(expected.defined) << start;
            const int16_t got = Adpcm2DecodeSample(s, code);
            ASSERT_EQ(got, expected.output) << "run " << run << ", sample " << i << ", from " << start;
            const std::string differences = Differences(m, s);
            ASSERT_TRUE(differences.empty()) << "run " << run << ", sample " << i << " (code " << code
                                             << "): " << differences << "from " << start;
        }
    }
}

TEST(Adpcm2Model, EncoderAgreesFromRandomStates) {
    XorShift32 random(9002);
    long beyond16 = 0;
    for (int run = 0; run < 8000; ++run) {
        Model m = RandomState(random);
        Adpcm2State s = ToLibrary(m);
        for (int i = 0; i < 48; ++i) {
            const int64_t x = RandomInput(random);
            const Model before = m;
            const int code = Adpcm2EncodeSample(s, static_cast<int16_t>(x));
            const Outcome expected = ModelSample(m, true, x, code);
            ASSERT_TRUE(expected.defined);
            ASSERT_EQ(code, expected.code) << "run " << run << ", sample " << i << ", x " << x << ", from "
                                           << Describe(before);
            const std::string differences = Differences(m, s);
            ASSERT_TRUE(differences.empty()) << "run " << run << ", sample " << i << " (x " << x << ", code "
                                             << code << "): " << differences << "from " << Describe(before);
            beyond16 += expected.beyond16;
        }
    }
    // Random states put many estimates far outside the sample range, where
    // the difference leaves 16 bits: those codes were checked too.
    EXPECT_GT(beyond16, 1000);
}

// From reset through whole signals (speech, noise, tones, clipping) in frames
// of the library's interface: the frame's codes, packed as the payload layout
// says, and the decoded samples must be the model's.
TEST(Adpcm2Model, FramesAgreeOverSignals) {
    auto pcm = velkorix::test::SpeechLike(8000 * 20, 31);
    velkorix::test::AppendNoise(pcm, 8000 * 10, 32);
    velkorix::test::AppendToneBursts(pcm, 8000 * 10, 33);
    for (std::size_t i = 0; i < 8000; ++i) {
        const double v = 3.0 * 32767.0 * std::sin(static_cast<double>(i) * 0.031);
        pcm.push_back(static_cast<int16_t>(v > 32767 ? 32767 : v < -32768 ? -32768 : v));
    }
    Model encoder, decoder;
    VoiceState enc{}, dec{};
    ASSERT_EQ(QX_VOICE_EncReset(&enc, ADPCM2_LINEAR), VOICE_OK);
    ASSERT_EQ(QX_VOICE_DecReset(&dec, ADPCM2_LINEAR), VOICE_OK);
    constexpr int kFrame = 160;
    int beyond16 = 0;
    for (std::size_t at = 0; at + kFrame <= pcm.size(); at += kFrame) {
        VoiceFrame frame;
        ASSERT_EQ(QX_VOICE_EncodeFrame(&enc, pcm.data() + at, &frame, kFrame), VOICE_OK);
        ASSERT_EQ(frame.length, kFrame / 8);
        // Eight codes per little-endian word, the first in the top two bits.
        std::vector<int> codes;
        for (int word = 0; word < kFrame / 8; ++word) {
            const unsigned value = frame.payload[2 * word] | static_cast<unsigned>(frame.payload[2 * word + 1]) << 8;
            for (int k = 0; k < 8; ++k) codes.push_back(static_cast<int>(value >> (14 - 2 * k)) & 3);
        }
        for (int i = 0; i < kFrame; ++i) {
            const std::size_t n = at + static_cast<std::size_t>(i);
            const Outcome o = ModelSample(encoder, true, pcm[n], codes[static_cast<std::size_t>(i)]);
            ASSERT_TRUE(o.defined) << "sample " << n;
            beyond16 += o.beyond16;
            ASSERT_EQ(codes[static_cast<std::size_t>(i)], o.code) << "sample " << n;
        }

        int16_t out[VOICE_MAX_SAMPLES];
        int16_t count = 0;
        ASSERT_EQ(QX_VOICE_DecodeFrame(&dec, &frame, out, &count), VOICE_OK);
        ASSERT_EQ(count, kFrame);
        for (int i = 0; i < kFrame; ++i) {
            const Outcome o = ModelSample(decoder, false, 0, codes[static_cast<std::size_t>(i)]);
            ASSERT_EQ(out[i], o.output) << "sample " << at + static_cast<std::size_t>(i);
        }
    }
    // Both models saw the same codes: their states are one.
    EXPECT_EQ(Describe(encoder), Describe(decoder));
    // The clipped sine's full-scale jumps take the difference beyond 16 bits,
    // where the code must still step towards the input.
    EXPECT_GT(beyond16, 0);
}

}  // namespace
