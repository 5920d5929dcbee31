// Where the stream readers get their bytes: a file, a pipe, a COM stream, a
// block of memory. The readers know only this interface, so the layer has no
// file or platform calls of its own; each host supplies a source over the
// I/O it has.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velkorix::stream {

class ByteSource {
public:
    virtual ~ByteSource() = default;

    // Reads up to `size` bytes into `into` and returns how many were read.
    // Fewer than asked only at the end of the input or after an error.
    virtual std::size_t Read(uint8_t *into, std::size_t size) = 0;

    // Passes over up to `count` bytes without handing them out; returns how
    // many were passed over (fewer only at the end of the input or after an
    // error). This default reads and drops them; a source that can seek
    // moves instead, so that a structure scan does not read payloads.
    virtual uint64_t Skip(uint64_t count);

    // Moves to byte `offset` from the start. False when the source cannot
    // seek (a pipe) or the offset lies beyond the end.
    virtual bool Seek(uint64_t offset);

    // True once a read failed; Error() says why, in words.
    virtual bool Failed() const { return false; }
    virtual std::string Error() const { return {}; }
};

// A source over bytes in memory (not copied; they must outlive the source).
class MemorySource final : public ByteSource {
public:
    MemorySource(const uint8_t *data, std::size_t size) : data_(data), size_(size) {}

    std::size_t Read(uint8_t *into, std::size_t size) override;
    uint64_t Skip(uint64_t count) override;
    bool Seek(uint64_t offset) override;

    std::size_t Position() const { return position_; }

private:
    const uint8_t *data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

}  // namespace velkorix::stream
