#include "voice/g726.h"

#include "common/cpu_features.h"
#include "voice/g726_kernel.h"
#include "voice/g726_kernel_body.h"

namespace velkorix::voice {

int G726CodeWidth(int type) {
    switch (type) {
        case 4:
        case 36: return 2;
        case 5:
        case 37: return 3;
        case 6:
        case 38: return 4;
        case 7:
        case 39: return 5;
        default: return 0;
    }
}

void G726Reset(G726State &s, int codeWidth) {
    s.law = kG726LinearPcm;
    s.codeWidth = codeWidth;
    s.A1 = s.A2 = 0;
    s.AP = 0;
    for (int i = 0; i < 6; ++i) {
        s.B[i] = 0;
        s.DQ[i] = 32;
    }
    s.DML = s.DMS = 0;
    s.PK1 = s.PK2 = 0;
    s.SR1 = s.SR2 = 32;
    s.TD = 0;
    s.YL = 34816;
    s.YU = 544;
}

void G726PackLsbFirst(G726State &s, const int16_t *pcm, uint8_t *payload, int count) {
    g726_kernels::Current().encode[s.codeWidth - 2](s, pcm, payload, count & ~1);
}

int G726UnpackLsbFirst(G726State &s, const uint8_t *payload, int16_t *pcm, int bytes) {
    return g726_kernels::Current().decode[s.codeWidth - 2](s, payload, pcm, bytes);
}

int G726ReorderToMsb(uint8_t *payload, int width, int bytes) {
    if (width <= 0 || bytes < 0 || (8 * bytes) % width != 0) return -1;
    const int mask = (1 << width) - 1;
    int p = 0;             // bit position in the current byte
    uint32_t acc = 0;      // codewords read, appended from the right
    uint8_t *at = payload;
    const uint8_t *end = payload + bytes;
    while (at < end) {
        uint32_t window = *at;
        if (p + width > 8 && at + 1 < end) window |= static_cast<uint32_t>(at[1]) << 8;
        acc = (acc << width) | ((window >> p) & mask);
        if (p + width >= 8) {
            const int rest = p + width - 8;
            *at++ = static_cast<uint8_t>(acc >> rest);
            acc &= (1u << rest) - 1;
            p = rest;
        } else {
            p += width;
        }
    }
    return 0;
}

int G726ReorderToLsb(uint8_t *payload, int width, int bytes) {
    if (width <= 0 || bytes < 0 || (8 * bytes) % width != 0) return -1;
    const int mask = (1 << width) - 1;
    int p = 0;             // bit position in the current byte, from the top
    uint32_t acc = 0;      // codewords read, assembled from the bottom
    uint8_t *at = payload;
    const uint8_t *end = payload + bytes;
    while (at < end) {
        uint32_t window = static_cast<uint32_t>(*at) << 8;
        if (p + width > 8 && at + 1 < end) window |= at[1];
        acc |= ((window >> (16 - p - width)) & mask) << p;
        if (p + width >= 8) {
            const int rest = p + width - 8;
            *at++ = static_cast<uint8_t>(acc);
            acc >>= 8;
            p = rest;
        } else {
            p += width;
        }
    }
    return 0;
}

}  // namespace velkorix::voice

namespace velkorix::voice::g726_kernels {
namespace {

template <int Width>
void EncodePortable(G726State &state, const int16_t *pcm, uint8_t *payload, int count) {
    EncodeBlock<Width, g726::PortablePredictor>(state, pcm, payload, count);
}

template <int Width>
int DecodePortable(G726State &state, const uint8_t *payload, int16_t *pcm, int bytes) {
    return DecodeBlock<Width, g726::PortablePredictor>(state, payload, pcm, bytes);
}

}  // namespace

const Kernels kPortable = {
    {EncodePortable<2>, EncodePortable<3>, EncodePortable<4>, EncodePortable<5>},
    {DecodePortable<2>, DecodePortable<3>, DecodePortable<4>, DecodePortable<5>},
};

const Kernels &Current() {
#if VELKORIX_X86_KERNELS
    if (CurrentSimdLevel() >= SimdLevel::Avx2) return kAvx2;
#endif
    return kPortable;
}

}  // namespace velkorix::voice::g726_kernels
