// The AVX2 block kernels of the voice library's G.726 codec: the kernel body
// compiled for AVX2 with the predictor in vector registers.
#include <cstdint>
#include <cstring>

#include "g726/avx2.h"
#include "g726/core.h"
#include "g726/rates.h"
#include "voice/g726.h"
#include "voice/g726_kernel.h"

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

#include "voice/g726_kernel_body.h"

namespace velkorix::voice::g726_kernels {
namespace {

template <int Width>
void EncodeAvx2(G726State &state, const int16_t *pcm, uint8_t *payload, int count) {
    EncodeBlock<Width, g726::CombinedPredictor>(state, pcm, payload, count);
}

template <int Width>
int DecodeAvx2(G726State &state, const uint8_t *payload, int16_t *pcm, int bytes) {
    return DecodeBlock<Width, g726::VectorPredictor<true>>(state, payload, pcm, bytes);
}

}  // namespace

const Kernels kAvx2 = {
    {EncodeAvx2<2>, EncodeAvx2<3>, EncodeAvx2<4>, EncodeAvx2<5>},
    {DecodeAvx2<2>, DecodeAvx2<3>, DecodeAvx2<4>, DecodeAvx2<5>},
};

}  // namespace velkorix::voice::g726_kernels

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#endif
