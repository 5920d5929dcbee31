// Small vector kernels shared by the decoder's blocks. Sums are taken over
// eight interleaved partial sums so that the compiler can keep them in vector
// registers; the order of accumulation is free for this decoder.
#pragma once

#include <cstring>

namespace velkorix::g729 {

#if defined(__GNUC__)
// Four floats as one SIMD value (GCC and Clang vector extension), for the
// kernels whose plain loops the optimiser is apt to vectorise the wrong way.
typedef float Float4 __attribute__((vector_size(16)));
inline Float4 LoadFloat4(const float *p) {
    Float4 v;
    std::memcpy(&v, p, sizeof(v));
    return v;
}
inline void StoreFloat4(float *p, Float4 v) { std::memcpy(p, &v, sizeof(v)); }
#endif

// Sum of x[k] * y[k] for k < N, N a multiple of 8.
template <int N>
inline float Dot(const float *x, const float *y) {
    static_assert(N % 8 == 0, "whole groups of eight");
    float acc[8] = {};
    for (int i = 0; i < N; i += 8)
        for (int k = 0; k < 8; ++k) acc[k] += x[i + k] * y[i + k];
    return ((acc[0] + acc[4]) + (acc[1] + acc[5])) + ((acc[2] + acc[6]) + (acc[3] + acc[7]));
}

// Sum of x[k] * y[k] for k < n, any n.
inline float Dot(const float *x, const float *y, int n) {
    float acc[4] = {};
    int i = 0;
    for (; i + 4 <= n; i += 4)
        for (int k = 0; k < 4; ++k) acc[k] += x[i + k] * y[i + k];
    for (; i < n; ++i) acc[0] += x[i] * y[i];
    return (acc[0] + acc[2]) + (acc[1] + acc[3]);
}

}  // namespace velkorix::g729
