// The body of the stream decoder's group kernels, a template over the
// predictor's form (g726::PortablePredictor or g726::VectorPredictor):
// unpacking of 3-byte groups around the steps of g726/steps.h, with the
// record's own tables and an output that is not limited. Every definition is
// local to the translation unit that includes this file: each kernel file
// compiles it for its own instruction set. Include the standard and shared
// headers first (as this file does at its top, all but g726/steps.h, which
// belongs to the kernels) so that only the kernels fall under a kernel
// file's target pragma.
#pragma once

#include <cstddef>
#include <cstdint>

#include "g726/core.h"
#include "g726/steps.h"
#include "g726_stream/g726_stream.h"

namespace velkorix::g726_stream {
namespace {

// One 3-bit code through the decoder; returns the output sample, SR times
// 4 wrapped to 16 bits (not limited).
template <class Predictor>
VELKORIX_ALWAYS_INLINE int32_t DecodeOne(g726::Registers &r, Predictor &p, const G726StreamDecoder &d, int code) {
    return g726::S16(g726::DecodeCode<3>(r, p, code, d.DQLN, d.W, d.F) * 4);
}

template <class Predictor>
VELKORIX_ALWAYS_INLINE void DecodeGroups(G726StreamDecoder &d, const uint8_t *input, int32_t groups, int16_t *output) {
    g726::Registers r = g726::LoadRegisters(d);
    Predictor p;
    p.Load(r);
    std::size_t written = 0;
    for (int32_t g = 0; g < groups; ++g, input += kGroupBytes) {
        const uint32_t group = static_cast<uint32_t>(input[0]) | static_cast<uint32_t>(input[1]) << 8 |
                               static_cast<uint32_t>(input[2]) << 16;
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC unroll 8
#endif
        for (int k = 0; k < kGroupSamples; ++k)
            g726::PutSample(output, written++, DecodeOne(r, p, d, static_cast<int>(group >> (3 * k)) & 7));
    }
    p.Store(r);
    g726::StoreRegisters(r, d);
}

}  // namespace
}  // namespace velkorix::g726_stream
