// Heap blocks aligned to a power of two that can be released from the aligned
// pointer alone. The codec states, the codec slot's frame buffer and the
// decoders' own blocks all come from here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velkorix {

// Returns at least `size` usable bytes aligned to `alignment` (only its low
// 8 bits count: 0 or a power of two up to 128), or null when the heap fails.
// The byte before the returned pointer holds the distance back to the start of
// the underlying block (1 to alignment, never 0).
void *AlignedAlloc(std::size_t size, std::uint32_t alignment);

// Releases a block from AlignedAlloc; null is ignored.
void AlignedFree(void *pointer);

// The run-time allocator behind AlignedAlloc/AlignedFree. Tests replace it to
// observe exact request sizes and to simulate allocation failure.
struct RawAllocator {
    void *(*allocate)(std::size_t size);
    void (*release)(void *block);
};
RawAllocator SetRawAllocator(RawAllocator allocator);  // returns the previous one

}  // namespace velkorix
