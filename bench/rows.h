// The rows of the benchmark table, one family per source file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "harness.h"

namespace bench {

struct Input {
    std::vector<int16_t> pcm;  // 8 kHz mono; a multiple of 480 samples
    int frameSamples = 160;    // samples per voice-library frame
};

void AddVoiceRows(std::vector<Row> &rows, const Input &input);
void AddStreamRows(std::vector<Row> &rows, const Input &input);
void AddG729Rows(std::vector<Row> &rows, const Input &input);
void AddFilterRows(std::vector<Row> &rows, const Input &input);

// Helpers shared by the row files.

// Empty when equal, else where and how the two first differ.
std::string Mismatch(const std::vector<int16_t> &ours, const std::vector<int16_t> &reference);

// The input as G.726 24 kbit/s codes packed least significant bit first (spandsp's encoder).
std::vector<uint8_t> PackedStream24(const std::vector<int16_t> &pcm);

}  // namespace bench
