// A byte source over a stdio stream, for the stream readers: a file, standard
// input or a pipe. A regular file is passed over by seeking, so a structure
// scan does not read payloads; anything else is read and dropped.
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
