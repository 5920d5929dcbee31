// G.726 at 24 kbit/s over a packed stream of 3-bit codes (8 codes in every
// 3 bytes, least significant bit first), decoded to 16-bit linear PCM. The
// arithmetic is that of src/g726; this unit adds the record, the unpacking
// and the unlimited output.
#pragma once

#include <cstdint>

namespace velkorix::g726_stream {

struct G726StreamDecoder {
    int32_t YL;          // locked scale factor, on the scale of YU x 64
    int16_t YU;          // unlocked scale factor, 544..5120
    int16_t DMS;         // short-term average of F(I)
    int16_t DML;         // long-term average of F(I)
    int16_t AP;          // speed control, 0..512
    int16_t A1, A2;      // pole predictor coefficients
    int16_t B[6];        // zero predictor coefficients B1..B6
    int16_t PK1, PK2;    // signs of the last two DQSEZ values (1 = negative)
    int16_t DQ[6];       // last six quantized differences, floating form, newest first
    int16_t SR1, SR2;    // last two reconstructed signals, floating form
    int8_t TD;           // tone detected
    uint32_t bitAccumulator;
    int32_t bitCount;
    int16_t DQLN[8];     // inverse quantizer log magnitude by code
    int16_t W[8];        // scale factor multiplier by code
    int16_t F[8];        // speed-control weight by code
    int16_t POW2[15];    // 2^i
};

// Every 3 bytes of payload hold 8 codes.
inline constexpr int32_t kGroupBytes = 3;
inline constexpr int32_t kGroupSamples = 8;

// Allocates (16-byte aligned) and fills a fresh decoder; null when the heap fails.
G726StreamDecoder *G726StreamDecoderCreate();

// Decodes every whole code of `length` payload bytes into `output` and returns
// the number of samples written. A length below 1 writes nothing and is
// returned as it is. A trailing partial group (length not a multiple of 3)
// yields the whole codes it holds: 2 codes from 1 byte, 5 from 2 bytes, so at
// most floor(8 * length / 3) samples are written and no byte past `length` is read.
int32_t G726StreamDecoderDecode(G726StreamDecoder *decoder, const uint8_t *input, int16_t *output,
                                int32_t length);

void G726StreamDecoderDestroy(G726StreamDecoder *decoder);

// One code through the decoder (exposed for tests and the benchmark).
int16_t G726StreamDecodeCode(G726StreamDecoder *decoder, int code);

}  // namespace velkorix::g726_stream
