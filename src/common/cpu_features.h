// Run-time choice between the portable code paths and the ones written for
// wider instruction sets. Every path computes the same results; only the speed
// differs.
#pragma once

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
// The x86 kernels are compiled with target attributes (no global flags), so
// they exist in every x86 build and run only where the processor has them.
#define VELKORIX_X86_KERNELS 1
#define VELKORIX_TARGET_AVX2 __attribute__((target("avx2,bmi,bmi2")))
#else
#define VELKORIX_X86_KERNELS 0
#endif

#if defined(__GNUC__) || defined(__clang__)
#define VELKORIX_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define VELKORIX_ALWAYS_INLINE inline
#endif

namespace velkorix {

enum class SimdLevel {
    Portable = 0,  // plain C++
    Avx2 = 1,      // x86 AVX2 with BMI1 and BMI2, enabled by the operating system
};

// The best level this processor and operating system support, unless lowered
// by ForceSimdLevel. Read once, cheap afterwards.
SimdLevel CurrentSimdLevel();

// Caps the level used by the dispatching codecs (tests run every path this
// way); returns the previous cap. Not meant for use while other threads decode.
SimdLevel ForceSimdLevel(SimdLevel cap);

}  // namespace velkorix
