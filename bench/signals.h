// Input signals of the benchmark: speech (espeak-ng output when a file is
// given, else a generated speech-like signal) followed by noise.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// A speech-like signal at 8 kHz: voiced syllables (a pulse train at a
// gliding pitch through three moving formant resonators), unvoiced frication,
// pauses with a faint noise floor, at varying levels. Deterministic.
std::vector<int16_t> SpeechLike(std::size_t samples, uint32_t seed);

// White noise at several levels (-40, -20, -6 dBFS and clipped full scale),
// in equal parts. Deterministic.
std::vector<int16_t> Noise(std::size_t samples, uint32_t seed);

// Reads raw 16-bit little-endian mono samples; empty when the file cannot be read.
std::vector<int16_t> ReadRaw(const std::string &path);

// The benchmark input: `speechSeconds` of speech (the file's samples repeated
// as needed, or generated), then `noiseSeconds` of noise, at 8 kHz, cut to a
// multiple of `multiple` samples.
std::vector<int16_t> BenchInput(const std::string &speechFile, double speechSeconds, double noiseSeconds,
                                std::size_t multiple, std::string *description);

}  // namespace bench
