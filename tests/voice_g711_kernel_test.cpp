// The fast forms of G.711: frame encoding by table and (where the processor
// runs it) vector expansion, against the segment search and the expansion
// tables, on every input.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "common/cpu_features.h"
#include "velkorix/qx_voice.h"
#include "voice/g711.h"
#include "voice/g711_kernel.h"

namespace {

using namespace velkorix::voice;

TEST(G711Kernels, FramesEncodeEverySampleLikeTheSegmentSearch) {
    for (int16_t type : {G711_A, G711_U}) {
        std::vector<int16_t> all;
        for (int x = -32768; x <= 32767; ++x) all.push_back(static_cast<int16_t>(x));
        VoiceState state;
        QX_VOICE_EncReset(&state, type);
        for (std::size_t at = 0; at < all.size(); at += 480) {
            const int n = static_cast<int>(std::min<std::size_t>(480, all.size() - at));  // 65536 = 136 x 480 + 256
            VoiceFrame frame;
            ASSERT_EQ(QX_VOICE_EncodeFrame(&state, all.data() + at, &frame, static_cast<int16_t>(n)), VOICE_OK);
            for (int i = 0; i < n; ++i) {
                const int16_t x = all[at + static_cast<std::size_t>(i)];
                ASSERT_EQ(frame.payload[i], type == G711_A ? G711AlawEncode(x) : G711UlawEncode(x)) << "input " << x;
            }
        }
    }
}

TEST(G711Kernels, VectorExpansionMatchesTheTablesOnEveryCode) {
#if VELKORIX_X86_KERNELS
    if (velkorix::CurrentSimdLevel() < velkorix::SimdLevel::Avx2) GTEST_SKIP() << "no AVX2 on this processor";
    std::vector<uint8_t> codes;
    for (int round = 0; round < 3; ++round)
        for (int c = 0; c < 256; ++c) codes.push_back(static_cast<uint8_t>(round == 1 ? 255 - c : c * 7 + round));
    for (G711Law law : {G711Law::A, G711Law::Mu}) {
        const auto &table = law == G711Law::A ? kAlawToLinear : kUlawToLinear;
        // Every length up to a few blocks, from every alignment of the output.
        for (int count = 0; count <= 70; ++count) {
            for (int offset = 0; offset < 2; ++offset) {
                std::vector<int16_t> pcm(static_cast<std::size_t>(count + offset) + 1, 0x7777);
                const int done = G711ExpandAvx2(law, codes.data() + count, count, pcm.data() + offset);
                ASSERT_EQ(done, count / 16 * 16);
                for (int i = 0; i < done; ++i)
                    ASSERT_EQ(pcm[static_cast<std::size_t>(offset + i)], table[codes[static_cast<std::size_t>(count + i)]]);
                ASSERT_EQ(pcm[static_cast<std::size_t>(offset + done)], 0x7777);
            }
        }
        std::vector<int16_t> pcm(codes.size());
        ASSERT_EQ(G711ExpandAvx2(law, codes.data(), static_cast<int>(codes.size()), pcm.data()), 768);
        for (std::size_t i = 0; i < codes.size(); ++i) ASSERT_EQ(pcm[i], table[codes[i]]) << "code " << int(codes[i]);
    }
#else
    GTEST_SKIP() << "no vector expansion on this processor family";
#endif
}

}  // namespace
