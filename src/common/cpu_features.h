// The processor probe, in one place: the SIMD level reported to the video
// decoders (CpuLevel, with its debugger strings) and the instruction sets the
// codecs' vector kernels dispatch on (CurrentSimdLevel). Every kernel computes
// the same results as the portable code; only the speed differs.
#pragma once

#include <cstdint>

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

// ---- The level the video decoders choose their routines by ----

// The processor's best SIMD level: 16 SSSE3, 8 SSE3, 4 SSE2, 2 SSE, 1 MMX,
// 0 none. Writes one line such as "SSE2=4" to the debugger channel when a
// level is found.
int CpuLevel();

// The decision table behind CpuLevel, applied to the leaf-1 ECX and EDX words.
// Separate so that every row can be tested on any processor.
int CpuLevelFromFeatures(std::uint32_t ecx, std::uint32_t edx, const char **label);

// ---- The instruction sets the codecs' kernels dispatch on ----

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
