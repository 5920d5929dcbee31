#include "file_source.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace velkorix::cli {

FileSource::FileSource(std::FILE *file) : file_(file) {
    struct stat info;
    const off_t at = ftello(file);
    if (at >= 0 && fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode)) {
        regular_ = true;
        size_ = static_cast<uint64_t>(info.st_size);
        position_ = static_cast<uint64_t>(at);
    }
}

void FileSource::Fail(int error) {
    failed_ = true;
    error_ = std::strerror(error);
}

std::size_t FileSource::Read(uint8_t *into, std::size_t size) {
    const std::size_t got = size == 0 ? 0 : std::fread(into, 1, size, file_);
    position_ += got;
    if (got < size && std::ferror(file_)) Fail(errno);
    return got;
}

uint64_t FileSource::Skip(uint64_t count) {
    // A short payload lies on pages that are read anyway, most likely in the
    // stream's buffer already: reading past it costs a copy, where a seek
    // costs a system call (the C library asks the kernel on every seek).
    if (!regular_ || count <= kReadThrough) return ByteSource::Skip(count);
    const uint64_t n = std::min(count, size_ > position_ ? size_ - position_ : 0);
    if (n > 0 && fseeko(file_, static_cast<off_t>(n), SEEK_CUR) != 0) {
        Fail(errno);
        return 0;
    }
    position_ += n;
    return n;
}

bool FileSource::Seek(uint64_t offset) {
    if (!regular_ || offset > size_) return false;
    if (fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
    position_ = offset;
    return true;
}

}  // namespace velkorix::cli
