#include "common/cpu_features.h"

#include <atomic>

#include "common/debug_channel.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

namespace velkorix {

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
    const int level = CpuLevelFromFeatures(ecx, edx, &label);
    if (label) DebugOutput(label);
    return level;
}

namespace {

SimdLevel Detect() {
#if VELKORIX_X86_KERNELS
    // The compiler's probe checks the processor flags and that the operating
    // system saves the YMM registers (XGETBV) before it reports AVX2.
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2"))
        return SimdLevel::Avx2;
#endif
    return SimdLevel::Portable;
}

std::atomic<int> &Cap() {
    static std::atomic<int> cap{static_cast<int>(SimdLevel::Avx2)};
    return cap;
}

}  // namespace

SimdLevel CurrentSimdLevel() {
    static const SimdLevel detected = Detect();
    const int cap = Cap().load(std::memory_order_relaxed);
    return static_cast<int>(detected) < cap ? detected : static_cast<SimdLevel>(cap);
}

SimdLevel ForceSimdLevel(SimdLevel cap) {
    return static_cast<SimdLevel>(Cap().exchange(static_cast<int>(cap), std::memory_order_relaxed));
}

}  // namespace velkorix
