#include "stream_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace velkorix::cli {
namespace {
constexpr std::size_t kHeaderSize = 18;
constexpr std::size_t kChunk = 1 << 20;

int32_t DeclaredLength(const uint8_t *header) {
    return static_cast<int32_t>(static_cast<uint32_t>(header[14]) | static_cast<uint32_t>(header[15]) << 8 |
                                static_cast<uint32_t>(header[16]) << 16 | static_cast<uint32_t>(header[17]) << 24);
}
}  // namespace

std::size_t StreamReader::ReadAppend(std::vector<uint8_t> &out, std::size_t count) {
    // Grow in chunks so that a declared length far beyond the input does not
    // reserve memory for bytes that never arrive.
    std::size_t total = 0;
    while (total < count) {
        const std::size_t want = std::min(kChunk, count - total);
        const std::size_t old = out.size();
        out.resize(old + want);
        const std::size_t got = std::fread(out.data() + old, 1, want, file_);
        out.resize(old + got);
        total += got;
        position_ += got;
        if (got < want) break;
    }
    return total;
}

StreamReader::Status StreamReader::Next(std::vector<uint8_t> &record) {
    record.clear();
    recordOffset_ = position_;
    const std::size_t header = ReadAppend(record, kHeaderSize);
    if (std::ferror(file_)) {
        reason_ = std::strerror(errno);
        return Status::ReadError;
    }
    if (header == 0) return Status::End;
    if (header < kHeaderSize) {
        reason_ = "the input ends inside a record header (" + std::to_string(header) + " of 18 bytes)";
        return Status::Truncated;
    }
    const int32_t length = DeclaredLength(record.data());
    if (length < 0) {
        reason_ = "the record declares a negative payload length (" + std::to_string(length) + ")";
        return Status::BadLength;
    }
    const std::size_t got = ReadAppend(record, static_cast<std::size_t>(length));
    if (std::ferror(file_)) {
        reason_ = std::strerror(errno);
        return Status::ReadError;
    }
    if (got < static_cast<std::size_t>(length)) {
        reason_ = "the input ends inside a record payload (" + std::to_string(got) + " of " +
                  std::to_string(length) + " bytes)";
        return Status::Truncated;
    }
    return Status::Record;
}

ParsedStream ParseStream(const uint8_t *data, std::size_t size) {
    ParsedStream parsed;
    std::size_t at = 0;
    while (at < size) {
        if (size - at < kHeaderSize) {
            parsed.end = StreamReader::Status::Truncated;
            parsed.reason = "the input ends inside a record header";
            break;
        }
        const int32_t length = DeclaredLength(data + at);
        if (length < 0) {
            parsed.end = StreamReader::Status::BadLength;
            parsed.reason = "the record declares a negative payload length";
            break;
        }
        if (size - at - kHeaderSize < static_cast<std::size_t>(length)) {
            parsed.end = StreamReader::Status::Truncated;
            parsed.reason = "the input ends inside a record payload";
            break;
        }
        const std::size_t total = kHeaderSize + static_cast<std::size_t>(length);
        parsed.records.emplace_back(data + at, data + at + total);
        at += total;
    }
    parsed.endOffset = at;
    return parsed;
}

}  // namespace velkorix::cli
