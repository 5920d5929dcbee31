// The group kernels of the G.726 24 kbit/s stream decoder, portable and AVX2:
// 3-byte groups of 8 codes through the steps of g726/core.h with the
// record's state in registers. Internal to the decoder and its tests.
#pragma once

#include <cstdint>

#include "common/cpu_features.h"
#include "g726_stream/g726_stream.h"

namespace velkorix::g726_stream {

// Decodes `groups` whole 3-byte groups (8 codes each) into 8 x groups
// samples, starting from and updating the record's adaptive state.
void DecodeGroupsPortable(G726StreamDecoder &d, const uint8_t *input, int32_t groups, int16_t *output);
#if VELKORIX_X86_KERNELS
void DecodeGroupsAvx2(G726StreamDecoder &d, const uint8_t *input, int32_t groups, int16_t *output);
#endif

}  // namespace velkorix::g726_stream
