// Vector expansion of G.711 codes. Internal to the voice library and its tests.
#pragma once

#include <cstdint>

#include "common/cpu_features.h"
#include "voice/g711.h"

namespace velkorix::voice {

#if VELKORIX_X86_KERNELS
// Expands the codes of `payload` into `pcm` sixteen at a time and returns how
// many it expanded (count rounded down to a multiple of 16); the caller does
// the rest. Same values as the expansion tables.
int G711ExpandAvx2(G711Law law, const uint8_t *payload, int count, int16_t *pcm);
#endif

}  // namespace velkorix::voice
