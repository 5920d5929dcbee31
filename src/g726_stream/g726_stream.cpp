#include "g726_stream/g726_stream.h"

#include <cstring>

#include "common/aligned.h"
#include "g726/core.h"
#include "g726_stream/g726_stream_kernel_body.h"
#include "g726_stream/g726_stream_kernels.h"

namespace velkorix::g726_stream {

void DecodeGroupsPortable(G726StreamDecoder &d, const uint8_t *input, int32_t groups, int16_t *output) {
    DecodeGroups<g726::PortablePredictor>(d, input, groups, output);
}

namespace {

// The tables every record carries, indexed by code: DQLN, and W and F
// scaled as the adaptation uses them (W(I) x 32, F(I) x 512).
constexpr int16_t kDqln[8] = {-2048, 135, 273, 373, 373, 273, 135, -2048};
constexpr int16_t kW[8] = {-128, 960, 4384, 18624, 18624, 4384, 960, -128};
constexpr int16_t kF[8] = {0, 512, 1024, 3584, 3584, 1024, 512, 0};

using GroupKernel = void (*)(G726StreamDecoder &, const uint8_t *, int32_t, int16_t *);

GroupKernel ChooseKernel() {
#if VELKORIX_X86_KERNELS
    if (CurrentSimdLevel() >= SimdLevel::Avx2) return DecodeGroupsAvx2;
#endif
    return DecodeGroupsPortable;
}

}  // namespace

int16_t G726StreamDecodeCode(G726StreamDecoder *decoder, int code) {
    g726::Registers r = g726::LoadRegisters(*decoder);
    g726::PortablePredictor p;
    const int32_t sample = DecodeOne(r, p, *decoder, code & 7);
    g726::StoreRegisters(r, *decoder);
    return static_cast<int16_t>(sample);
}

G726StreamDecoder *G726StreamDecoderCreate() {
    auto *d = static_cast<G726StreamDecoder *>(AlignedAlloc(sizeof(G726StreamDecoder), 16));
    if (!d) return nullptr;
    std::memset(d, 0, sizeof(*d));
    d->YL = 34816;
    d->YU = 544;
    for (int k = 0; k < 6; ++k) d->DQ[k] = 32;
    d->SR1 = d->SR2 = 32;
    std::memcpy(d->DQLN, kDqln, sizeof(kDqln));
    std::memcpy(d->W, kW, sizeof(kW));
    std::memcpy(d->F, kF, sizeof(kF));
    for (int k = 0; k < 15; ++k) d->POW2[k] = static_cast<int16_t>(1 << k);
    return d;
}

int32_t G726StreamDecoderDecode(G726StreamDecoder *decoder, const uint8_t *input, int16_t *output,
                                int32_t length) {
    decoder->bitAccumulator = 0;
    decoder->bitCount = 0;
    if (length < 1) return length;
    // Whole groups (3 bytes, 8 codes, least significant bits first) through
    // the fastest kernel this processor runs; all kernels agree bit for bit.
    const int32_t groups = length / kGroupBytes;
    ChooseKernel()(*decoder, input, groups, output);
    int32_t written = kGroupSamples * groups;

    // A partial last group: the whole codes of its one or two bytes.
    uint32_t accumulator = 0;
    int32_t count = 0;
    for (int32_t at = kGroupBytes * groups; at < length; ++at) {
        accumulator |= static_cast<uint32_t>(input[at]) << count;
        count += 8;
        while (count >= 3) {
            g726::PutSample(output, static_cast<std::size_t>(written++),
                            G726StreamDecodeCode(decoder, static_cast<int>(accumulator & 7u)));
            accumulator >>= 3;
            count -= 3;
        }
    }
    decoder->bitAccumulator = accumulator;
    decoder->bitCount = count;
    return written;
}

void G726StreamDecoderDestroy(G726StreamDecoder *decoder) { AlignedFree(decoder); }

}  // namespace velkorix::g726_stream
