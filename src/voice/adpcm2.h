// The 2-bit ADPCM with linear arithmetic of voice type 68 (ADPCM2_LINEAR): the
// structure of G.726 at 16 kbit/s computed on full 16-bit samples with plain
// fixed-point products. Encoder and decoder run the same per-sample update.
#pragma once

#include <cstdint>

namespace velkorix::voice {

struct Adpcm2State {
    int16_t SR1, SR2;  // last and second-last reconstructed sample, halved
    int16_t A1, A2;    // pole coefficients, 14 fractional bits
    int16_t B[6];      // zero coefficients B1..B6, 13 fractional bits
    int16_t DQ[6];     // quantized differences DQ6..DQ1 (DQ[5] is the latest)
    int16_t DMS, DML;  // short- and long-term averages of F(I)
    int16_t AP;        // speed-control parameter
    int16_t YU;        // unlocked scale factor
    int16_t TD;        // tone flag
    int16_t PK1, PK2;  // last two values of zero-predictor estimate + difference
    int32_t YL;        // locked scale factor
};

void Adpcm2Reset(Adpcm2State &state);

// One sample: the encoder returns the 2-bit code, the decoder the output sample.
int Adpcm2EncodeSample(Adpcm2State &state, int16_t x);
int16_t Adpcm2DecodeSample(Adpcm2State &state, int code);

// Writes a whole frame for `count` samples (1..481): flags, length count / 8,
// eight codes per word. The state advances over all samples. Returns the
// length in words.
int Adpcm2EncodeFrame(Adpcm2State &state, const int16_t *pcm, int count, uint8_t *frame);

// Decodes the 8 * length codes of a payload of `length` words.
void Adpcm2DecodePayload(Adpcm2State &state, const uint8_t *payload, int length, int16_t *pcm);

}  // namespace velkorix::voice
