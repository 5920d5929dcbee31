// The AVX2 group kernel of the G.726 24 kbit/s stream decoder: the kernel
// body compiled for AVX2 with the predictor in vector registers (see
// g726/avx2.h). Bit for bit the same as the portable kernel (the tests
// compare the two).
#include <cstddef>
#include <cstdint>

#include "g726/avx2.h"
#include "g726/core.h"
#include "g726_stream/g726_stream.h"
#include "g726_stream/g726_stream_kernels.h"

#if VELKORIX_X86_KERNELS

// Everything the kernel body defines is compiled for AVX2, with the steps of
// g726/steps.h it includes; the headers above (standard and shared) are
// already in, so nothing else falls under it.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,bmi,bmi2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,bmi,bmi2")
#endif

#include "g726_stream/g726_stream_kernel_body.h"

namespace velkorix::g726_stream {

void DecodeGroupsAvx2(G726StreamDecoder &d, const uint8_t *input, int32_t groups, int16_t *output) {
    DecodeGroups<g726::VectorPredictor<true>>(d, input, groups, output);
}

}  // namespace velkorix::g726_stream

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#endif
