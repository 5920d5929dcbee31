#include "stream/byte_source.h"

#include <algorithm>
#include <cstring>

namespace velkorix::stream {

uint64_t ByteSource::Skip(uint64_t count) {
    uint8_t scratch[4096];
    uint64_t skipped = 0;
    while (skipped < count) {
        const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(sizeof(scratch), count - skipped));
        const std::size_t got = Read(scratch, want);
        skipped += got;
        if (got < want) break;
    }
    return skipped;
}

bool ByteSource::Seek(uint64_t) { return false; }

std::size_t MemorySource::Read(uint8_t *into, std::size_t size) {
    const std::size_t n = std::min(size, size_ - position_);
    if (n > 0) std::memcpy(into, data_ + position_, n);
    position_ += n;
    return n;
}

uint64_t MemorySource::Skip(uint64_t count) {
    const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(count, size_ - position_));
    position_ += n;
    return n;
}

bool MemorySource::Seek(uint64_t offset) {
    if (offset > size_) return false;
    position_ = static_cast<std::size_t>(offset);
    return true;
}

}  // namespace velkorix::stream
