// Block kernels of the voice library's G.726 codec: a whole payload coded
// with the state in registers, one kernel per rate and instruction set, all
// built from the steps of g726/core.h. Every kernel gives bit for bit what
// every other gives, and what the plain per-sample model of the tests gives.
// Internal to the voice library and its tests.
#pragma once

#include <cstdint>

#include "common/cpu_features.h"
#include "voice/g726.h"

namespace velkorix::voice::g726_kernels {

// Encodes `count` samples (an even number) and packs their codewords LSB
// first, as G726PackLsbFirst.
using EncodeKernel = void (*)(G726State &state, const int16_t *pcm, uint8_t *payload, int count);
// Unpacks floor(8 * bytes / width) codewords LSB first and decodes them, as
// G726UnpackLsbFirst; returns the number of samples.
using DecodeKernel = int (*)(G726State &state, const uint8_t *payload, int16_t *pcm, int bytes);

// By code width 2..5 (index width - 2).
struct Kernels {
    EncodeKernel encode[4];
    DecodeKernel decode[4];
};

extern const Kernels kPortable;
#if VELKORIX_X86_KERNELS
extern const Kernels kAvx2;
#endif

// The kernels of the current SIMD level.
const Kernels &Current();

}  // namespace velkorix::voice::g726_kernels
