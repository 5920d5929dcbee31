// Writes 8-bit RGB pictures as PNG files (uncompressed deflate blocks), so
// that test programs can leave screenshots for a person to look at.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velkorix::wintest {

// `rgb` holds height rows of width pixels, 3 bytes each (red, green, blue),
// top row first. False when the file cannot be written.
bool WritePng(const std::string &path, int width, int height, const std::vector<uint8_t> &rgb);

}  // namespace velkorix::wintest
