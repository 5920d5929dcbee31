// Reader of framed stream files: input samples back to back, each the 18-byte
// frame header followed by the payload length it declares.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace velkorix::cli {

class StreamReader {
public:
    enum class Status { Record, End, Truncated, BadLength, ReadError };

    explicit StreamReader(std::FILE *file) : file_(file) {}

    // Reads the next record (header and payload) into `record`. `Record` when
    // one was read whole; `End` at a clean end of input; otherwise the stream
    // cannot go on, and Offset() tells where the failing record starts.
    Status Next(std::vector<uint8_t> &record);

    // Byte offset of the record that Next() last started on.
    uint64_t Offset() const { return recordOffset_; }
    // Why the stream stopped, in words, for the last non-Record status.
    const std::string &Reason() const { return reason_; }

private:
    // Reads up to `count` bytes, appending to `out`; returns the number read.
    std::size_t ReadAppend(std::vector<uint8_t> &out, std::size_t count);

    std::FILE *file_;
    uint64_t position_ = 0;
    uint64_t recordOffset_ = 0;
    std::string reason_;
};

// Parses a whole in-memory stream the same way, for tools and tests.
struct ParsedStream {
    std::vector<std::vector<uint8_t>> records;
    StreamReader::Status end = StreamReader::Status::End;
    uint64_t endOffset = 0;
    std::string reason;
};
ParsedStream ParseStream(const uint8_t *data, std::size_t size);

}  // namespace velkorix::cli
