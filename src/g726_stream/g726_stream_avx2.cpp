// AVX2 kernel of the G.726 24 kbit/s stream decoder: the predictor in vector
// registers (see common/g726_avx2.h), the rest as in the portable kernel. Bit
// for bit the same as the portable kernel (the tests compare the two).
#include "common/g726_avx2.h"
#include "g726_stream/g726_stream_core.h"

#if VELKORIX_X86_KERNELS

namespace velkorix::g726s {

VELKORIX_TARGET_AVX2 void DecodeGroupsAvx2(G726StreamDecoder &d, const uint8_t *input, int32_t groups,
                                           int16_t *output) {
    using namespace g726;
    Registers r = Load(d);
    VectorPredictor<true> v;
    v.Load(r);
    std::size_t written = 0;
    for (int32_t g = 0; g < groups; ++g, input += 3) {
        const uint32_t group = static_cast<uint32_t>(input[0]) | static_cast<uint32_t>(input[1]) << 8 |
                               static_cast<uint32_t>(input[2]) << 16;
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC unroll 8
#endif
        for (int k = 0; k < 8; ++k) {
            const int code = static_cast<int>(group >> (3 * k)) & 7;
            const Estimate e = v.Predict(r);
            const int32_t y = ScaleFactor(r);
            const uint32_t quantized = InverseQuantize(d.DQLN[code], y);
            const Sample s = Reconstruct(code, (code & 4) != 0, y, quantized, e);
            const bool tr = AdaptScalars(r, d.W, d.F, s);
            v.Adapt(r, s, quantized, tr, 8);
            Put(output, written++, S16(s.sr * 4));
        }
    }
    v.Store(r);
    Store(r, d);
}

}  // namespace velkorix::g726s

#endif
