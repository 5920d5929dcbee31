// Plain reference coders for the rows that have no peer library: written
// straight from the codec's description, one step after the other, with no
// regard for speed. The benchmark checks the fast code against them.
#pragma once

#include <cstdint>
#include <vector>

namespace bench::reference {

// G.711 encoding of one sample by segment search: law 0 = A-law, 1 = mu-law.
uint8_t G711Encode(int law, int16_t x);

// The 2-bit linear ADPCM of voice type 68: encodes frames of `frameSamples`
// (a multiple of 8) and returns their payloads end to end.
std::vector<uint8_t> Adpcm2Encode(const std::vector<int16_t> &pcm, int frameSamples);
// Decodes payloads end to end (8 codes per 16-bit little-endian word).
std::vector<int16_t> Adpcm2Decode(const std::vector<uint8_t> &payloads);

}  // namespace bench::reference
