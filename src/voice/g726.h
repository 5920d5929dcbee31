// G.726 at 16, 24, 32 and 40 kbit/s with a 16-bit linear PCM interface, and
// the two codeword packings of voice types 4-7 (LSB first) and 36-39 (MSB
// first). The arithmetic is that of src/g726; this unit adds the voice
// library's state, packings and output limit.
#pragma once

#include <cstdint>

namespace velkorix::voice {

// Coder state of one direction. Field names are those of ITU-T G.726; values
// keep the widths the Recommendation gives them. DQ1..DQ6 and SR1, SR2 are in
// the 11-bit floating form (sign << 10 | exponent << 6 | mantissa); PK1, PK2
// are sign bits (1 = negative).
struct G726State {
    int32_t law;        // PCM interface: always kG726LinearPcm here
    int32_t codeWidth;  // bits per codeword, 2..5
    int32_t A1, A2;     // pole predictor coefficients
    int32_t AP;         // speed-control parameter
    int32_t B[6];       // zero predictor coefficients B1..B6
    int32_t DML, DMS;   // long- and short-term averages of F(I)
    int32_t DQ[6];      // DQ1..DQ6
    int32_t PK1, PK2;
    int32_t SR1, SR2;
    int32_t TD;         // tone detector flag
    int32_t YL;         // locked scale factor (19 bits)
    int32_t YU;         // unlocked scale factor
};

inline constexpr int32_t kG726LinearPcm = 0;

// Code width of a G.726 voice type (4-7, 36-39); 0 for any other type.
int G726CodeWidth(int type);

void G726Reset(G726State &state, int codeWidth);

// Encodes `count` samples (rounded down to an even number) and packs their
// codewords LSB first into `payload`, whose every byte up to the last one the
// codewords reach is written (the last one padded with zero bits).
void G726PackLsbFirst(G726State &state, const int16_t *pcm, uint8_t *payload, int count);

// Unpacks floor(8 * bytes / width) codewords LSB first and decodes each into
// one 16-bit sample. Returns the number of samples.
int G726UnpackLsbFirst(G726State &state, const uint8_t *payload, int16_t *pcm, int bytes);

// In-place conversions of a payload of `bytes` bytes between the packings.
// Each returns -1 and leaves the data untouched when 8 * bytes is not a
// multiple of `width`, else 0.
int G726ReorderToMsb(uint8_t *payload, int width, int bytes);
int G726ReorderToLsb(uint8_t *payload, int width, int bytes);

}  // namespace velkorix::voice
