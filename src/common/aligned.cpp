#include "common/aligned.h"

#include <atomic>
#include <cstdlib>

namespace velkorix {
namespace {

std::atomic<void *(*)(std::size_t)> g_allocate{&std::malloc};
std::atomic<void (*)(void *)> g_release{&std::free};

}  // namespace

RawAllocator SetRawAllocator(RawAllocator allocator) {
    RawAllocator previous{g_allocate.load(), g_release.load()};
    g_allocate.store(allocator.allocate ? allocator.allocate : &std::malloc);
    g_release.store(allocator.release ? allocator.release : &std::free);
    return previous;
}

void *AlignedAlloc(std::size_t size, std::uint32_t alignment) {
    const std::uintptr_t align = alignment & 0xFFu;
    if (align == 0) {
        auto *block = static_cast<unsigned char *>(g_allocate.load()(size + 1));
        if (!block) return nullptr;
        block[0] = 1;
        return block + 1;
    }
    auto *block = static_cast<unsigned char *>(g_allocate.load()(size + align));
    if (!block) return nullptr;
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(block);
    std::uintptr_t aligned = (start + align - 1) & ~(align - 1);
    if (aligned == start) aligned += align;  // always leave room for the header byte
    unsigned char *pointer = block + (aligned - start);
    pointer[-1] = static_cast<unsigned char>(aligned - start);
    return pointer;
}

void AlignedFree(void *pointer) {
    if (!pointer) return;
    auto *p = static_cast<unsigned char *>(pointer);
    // A distance of 128 is stored as 0x80; 256 cannot occur (alignment <= 128).
    g_release.load()(p - p[-1]);
}

}  // namespace velkorix
