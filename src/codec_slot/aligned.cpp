#include "codec_slot/aligned.h"

#include <atomic>
#include <cstdlib>

#include "common/debug_channel.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

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

int CpuLevelFromFeatures(std::uint32_t ecx, std::uint32_t edx, const char **label) {
    struct Row {
        bool inEcx;
        std::uint32_t bit;
        const char *text;
        int level;
    };
    static const Row rows[] = {
        {true, 0x200u, "SSSE3=16", 16},
        {true, 0x1u, "SSE3=8", 8},
        {false, 0x4000000u, "SSE2=4", 4},
        {false, 0x2000000u, "SSE=2", 2},
        {false, 0x800000u, "MMX=1", 1},
    };
    for (const Row &row : rows) {
        if (((row.inEcx ? ecx : edx) & row.bit) != 0) {
            if (label) *label = row.text;
            return row.level;
        }
    }
    if (label) *label = nullptr;
    return 0;
}

}  // namespace velkorix

void *AlignedAlloc(std::size_t size, std::uint32_t alignment) {
    const std::uintptr_t align = alignment & 0xFFu;
    if (align == 0) {
        auto *block = static_cast<unsigned char *>(velkorix::g_allocate.load()(size + 1));
        if (!block) return nullptr;
        block[0] = 1;
        return block + 1;
    }
    auto *block = static_cast<unsigned char *>(velkorix::g_allocate.load()(size + align));
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
    velkorix::g_release.load()(p - p[-1]);
}

int CpuLevel() {
    std::uint32_t ecx = 0, edx = 0;
#if defined(__i386__) || defined(__x86_64__)
    unsigned int a = 0, b = 0, c = 0, d = 0;
    // Processors without the identification instruction (before the late
    // 486) report no leaf 1; treat them as level 0.
    if (__get_cpuid(1, &a, &b, &c, &d)) {
        ecx = c;
        edx = d;
    }
#endif
    const char *label = nullptr;
    const int level = velkorix::CpuLevelFromFeatures(ecx, edx, &label);
    if (label) velkorix::DebugOutput(label);
    return level;
}
