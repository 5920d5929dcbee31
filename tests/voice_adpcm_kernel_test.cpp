// The table-driven IMA ADPCM frame decoder against the per-sample decoder:
// random codes from every step index and from predictors at the limits, in
// both nibble orders, state included.
#include <gtest/gtest.h>

#include <vector>

#include "test_support.h"
#include "voice/adpcm.h"

namespace {

using namespace velkorix::voice;
using velkorix::test::Lcg;

// A frame of `type` with `codeBytes` code bytes after its header (if any).
std::vector<uint8_t> RandomFrame(Lcg &rng, int type, int codeBytes, int16_t predictor, int index) {
    const int header = type == 67 ? 0 : 4;
    const int payload = header + codeBytes;
    std::vector<uint8_t> frame(4 + static_cast<std::size_t>(payload));
    frame[0] = 0x00;
    frame[1] = 0x01;
    frame[2] = static_cast<uint8_t>(payload / 2);
    if (header) {
        frame[4] = static_cast<uint8_t>(predictor);
        frame[5] = static_cast<uint8_t>(static_cast<uint16_t>(predictor) >> 8);
        frame[6] = static_cast<uint8_t>(index);
    }
    for (int i = 0; i < codeBytes; ++i) {
        // Runs of the largest codes push the index and the predictor to their limits.
        const uint32_t kind = rng.Below(4);
        frame[4 + static_cast<std::size_t>(header + i)] =
            kind == 0 ? 0x77 : kind == 1 ? 0xFF : static_cast<uint8_t>(rng.Next() >> 24);
    }
    return frame;
}

TEST(ImaAdpcmKernel, FramesDecodeLikeThePerSampleDecoder) {
    Lcg rng(3);
    for (int type : {3, 35, 67}) {
        for (int trial = 0; trial < 300; ++trial) {
            const int index = static_cast<int>(rng.Below(89));
            const int16_t predictor = trial % 3 == 0   ? int16_t{32767}
                                      : trial % 3 == 1 ? int16_t{-32768}
                                                       : static_cast<int16_t>(rng.Next() >> 16);
            const int codeBytes = 2 * static_cast<int>(1 + rng.Below(118));
            const auto frame = RandomFrame(rng, type, codeBytes, predictor, index);

            AdpcmState fast{predictor, static_cast<uint8_t>(index)};
            std::vector<int16_t> pcm(2 * static_cast<std::size_t>(codeBytes) + 2, 0x7777);
            const int n = AdpcmDecodeFrame(type, fast, frame.data(), pcm.data());

            AdpcmState slow{predictor, static_cast<uint8_t>(index)};
            std::vector<int16_t> expected;
            if (type == 35) expected.push_back(predictor);
            const uint8_t *codes = frame.data() + 4 + (type == 67 ? 0 : 4);
            for (int i = 0; i < codeBytes; ++i) {
                const int low = codes[i] & 15, high = codes[i] >> 4;
                expected.push_back(AdpcmDecodeSample(slow, type == 35 ? low : high));
                expected.push_back(AdpcmDecodeSample(slow, type == 35 ? high : low));
            }
            ASSERT_EQ(n, static_cast<int>(expected.size())) << "type " << type;
            ASSERT_EQ(std::vector<int16_t>(pcm.begin(), pcm.begin() + n), expected) << "type " << type << ", trial " << trial;
            ASSERT_EQ(pcm[static_cast<std::size_t>(n)], 0x7777);
            ASSERT_EQ(fast.predictor, slow.predictor);
            ASSERT_EQ(fast.stepIndex, slow.stepIndex);
        }
    }
}

}  // namespace
