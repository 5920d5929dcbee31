// Frame header helpers shared by the codec families.
#pragma once

#include <cstdint>

namespace velkorix::voice {

inline constexpr int kFrameHeaderBytes = 4;
inline constexpr int kMaxSamples = 481;

// Writes flags 0x0100 and the length word.
inline void WriteFrameHeader(uint8_t *frame, int lengthWords) {
    frame[0] = 0x00;
    frame[1] = 0x01;
    frame[2] = static_cast<uint8_t>(lengthWords);
    frame[3] = static_cast<uint8_t>(lengthWords >> 8);
}

}  // namespace velkorix::voice
