// Voice files: VoiceFrames back to back, each a 4-byte header whose byte 2
// gives the payload length in 16-bit words, then the payload. The format is
// self-delimiting; a frame's flags are not checked here (the library does).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace velkorix::cli {

// Room for the largest frame a length byte can declare (255 words), plus the
// 2 words a header-adding transcoding may append.
inline constexpr std::size_t kVoiceFrameBufferBytes = 4 + 2 * 255 + 4;

class VoiceFrameReader {
public:
    enum class Status { Frame, End, Truncated, ReadError };

    explicit VoiceFrameReader(std::FILE *file) : file_(file) {}

    // Reads the next frame into `frame` (kVoiceFrameBufferBytes of room) and
    // its size into `*size`.
    Status Next(uint8_t *frame, std::size_t *size);

    // Byte offset of the frame that Next() last started on.
    uint64_t Offset() const { return frameOffset_; }
    // Why the input stopped, for Truncated and ReadError.
    const std::string &Reason() const { return reason_; }

private:
    std::FILE *file_;
    uint64_t position_ = 0;
    uint64_t frameOffset_ = 0;
    std::string reason_;
};

}  // namespace velkorix::cli
