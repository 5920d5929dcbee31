// A byte source over a file opened with the platform's file API, for the
// stream layer's readers: reads, passes over payloads by moving the file
// pointer (never beyond the end the file had when it was opened), and seeks
// to indexed records.
#pragma once

#include <cstdint>
#include <string>

#include "platform.h"
#include "stream/byte_source.h"

namespace velkorix {

class FileByteSource final : public stream::ByteSource {
public:
    FileByteSource() = default;
    ~FileByteSource() override;
    FileByteSource(const FileByteSource &) = delete;
    FileByteSource &operator=(const FileByteSource &) = delete;

    // Opens `path` for reading (others may read and write it meanwhile);
    // S_OK, or the platform's error as an HRESULT. A directory is refused.
    HRESULT Open(const WCHAR *path);
    void Close();
    bool IsOpen() const { return file_ != INVALID_HANDLE_VALUE; }
    // The file's size when it was opened.
    uint64_t Size() const { return size_; }

    std::size_t Read(uint8_t *into, std::size_t size) override;
    uint64_t Skip(uint64_t count) override;
    bool Seek(uint64_t offset) override;
    bool Failed() const override { return failed_; }
    std::string Error() const override { return error_; }

private:
    void Fail(DWORD error);

    HANDLE file_ = INVALID_HANDLE_VALUE;
    uint64_t size_ = 0;
    uint64_t position_ = 0;
    bool failed_ = false;
    std::string error_;
};

}  // namespace velkorix
