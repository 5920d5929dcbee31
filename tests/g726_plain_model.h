// The plain per-sample G.726 coder the tests hold the voice library's block
// kernels against: written block by block after the Recommendation
// (ADDA, ANTILOG, FMULT, UPA1, UPA2, UPB, TRANS, ...), on the library's
// G726State, one sample at a time, with nothing of src/g726 but the rate
// tables of the Recommendation. The codec itself never runs it.
#pragma once

#include <cstdint>

#include "voice/g726.h"

namespace velkorix::test {

// One sample through the coder. The encoder takes a 16-bit sample and
// returns its codeword. The decoder returns the reconstructed signal SR of the
// Recommendation (16-bit two's complement, 14-bit scale, not limited);
// G726OutputSample turns it into the 16-bit output sample.
int G726EncodeSample(voice::G726State &state, int16_t x);
int16_t G726DecodeSample(voice::G726State &state, int code);
inline int16_t G726OutputSample(int16_t sr) {
    const int limited = sr < -8192 ? -8192 : sr > 8191 ? 8191 : sr;
    return static_cast<int16_t>(limited * 4);
}

// Packs raw codewords LSB first (the layout of G726PackLsbFirst), the last
// byte padded with zero bits.
void G726PackCodesLsbFirst(const uint8_t *codes, int count, int width, uint8_t *payload);

}  // namespace velkorix::test
