// G.711 A-law and mu-law: per-sample encoders, the expansion tables, and the
// frame layouts of voice types 1, 2, 65 and 66.
#pragma once

#include <array>
#include <cstdint>

namespace velkorix::voice {

enum class G711Law { A, Mu };

// 16-bit linear sample to an 8-bit code (A-law codes carry the even-bit
// inversion, mu-law codes are bit-inverted), by segment search.
uint8_t G711AlawEncode(int16_t x);
uint8_t G711UlawEncode(int16_t x);

// Code to 16-bit linear value: A-law values are the 13-bit reconstruction
// values times 8, mu-law values the 14-bit ones times 4.
extern const std::array<int16_t, 256> kAlawToLinear;
extern const std::array<int16_t, 256> kUlawToLinear;

// Writes a whole frame for `count` samples (1..481): flags, length count / 2,
// then the codes in pairs; `swapped` exchanges the two codes of every word.
// An odd last sample is not carried. Returns the length in words.
int G711EncodeFrame(G711Law law, bool swapped, const int16_t *pcm, int count, uint8_t *frame);

// Expands `count` codes of a payload into samples. With `swapped` the codes
// are read pairwise exchanged (count must then be even).
void G711DecodePayload(G711Law law, bool swapped, const uint8_t *payload, int count, int16_t *pcm);

}  // namespace velkorix::voice
