#include "voice_file.h"

#include <cerrno>
#include <cstring>

namespace velkorix::cli {

VoiceFrameReader::Status VoiceFrameReader::Next(uint8_t *frame, std::size_t *size) {
    frameOffset_ = position_;
    *size = 0;
    const std::size_t header = std::fread(frame, 1, 4, file_);
    position_ += header;
    if (std::ferror(file_)) {
        reason_ = std::strerror(errno);
        return Status::ReadError;
    }
    if (header == 0) return Status::End;
    if (header < 4) {
        reason_ = "the input ends inside a frame header (" + std::to_string(header) + " of 4 bytes)";
        return Status::Truncated;
    }
    const std::size_t payload = 2 * static_cast<std::size_t>(frame[2]);
    const std::size_t got = std::fread(frame + 4, 1, payload, file_);
    position_ += got;
    if (std::ferror(file_)) {
        reason_ = std::strerror(errno);
        return Status::ReadError;
    }
    if (got < payload) {
        reason_ = "the input ends inside a frame payload (" + std::to_string(got) + " of " + std::to_string(payload) +
                  " bytes)";
        return Status::Truncated;
    }
    *size = 4 + payload;
    return Status::Frame;
}

}  // namespace velkorix::cli
