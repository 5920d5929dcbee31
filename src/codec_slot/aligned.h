// Heap blocks aligned to a power of two that can be released from the aligned
// pointer alone, and the processor's SIMD level.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velkorix {

// The run-time allocator behind AlignedAlloc/AlignedFree. Tests replace it to
// observe exact request sizes and to simulate allocation failure.
struct RawAllocator {
    void *(*allocate)(std::size_t size);
    void (*release)(void *block);
};
RawAllocator SetRawAllocator(RawAllocator allocator);  // returns the previous one

}  // namespace velkorix

// Returns at least `size` usable bytes aligned to `alignment` (only its low
// 8 bits count: 0 or a power of two up to 128), or null when the heap fails.
// The byte before the returned pointer holds the distance back to the start of
// the underlying block (1 to alignment, never 0).
void *AlignedAlloc(std::size_t size, std::uint32_t alignment);

// Releases a block from AlignedAlloc; null is ignored.
void AlignedFree(void *pointer);

// The processor's best SIMD level: 16 SSSE3, 8 SSE3, 4 SSE2, 2 SSE, 1 MMX,
// 0 none. Writes one line such as "SSE2=4" to the debugger channel when a
// level is found.
int CpuLevel();

namespace velkorix {
// The decision table behind CpuLevel, applied to the leaf-1 ECX and EDX words.
// Separate so that every row can be tested on any processor.
int CpuLevelFromFeatures(std::uint32_t ecx, std::uint32_t edx, const char **label);
}  // namespace velkorix
