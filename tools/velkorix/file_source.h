// A byte source over a stdio stream, for the stream readers: a file, standard
// input or a pipe. In a regular file payloads longer than kReadThrough are
// passed over by seeking, so a structure scan does not read them; shorter
// ones, and anything in a pipe, are read and dropped.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "stream/byte_source.h"

namespace velkorix::cli {

class FileSource final : public stream::ByteSource {
public:
    // `file` stays open and owned by the caller.
    explicit FileSource(std::FILE *file);

    // Skips up to this many bytes by reading them.
    static constexpr uint64_t kReadThrough = 16 * 1024;

    std::size_t Read(uint8_t *into, std::size_t size) override;
    uint64_t Skip(uint64_t count) override;
    bool Seek(uint64_t offset) override;
    bool Failed() const override { return failed_; }
    std::string Error() const override { return error_; }

private:
    void Fail(int error);

    std::FILE *file_;
    bool regular_ = false;  // a regular file: size known, seeking works
    uint64_t size_ = 0;
    uint64_t position_ = 0;
    bool failed_ = false;
    std::string error_;
};

}  // namespace velkorix::cli
