#include "common/cpu_features.h"

#include <atomic>

namespace velkorix {
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
