#include "g726_stream/g726_stream.h"

#include <cstring>

#include "codec_slot/aligned.h"
#include "codec_slot/bindings.h"
#include "g726_stream/g726_stream_core.h"

namespace velkorix::g726s {
namespace {

constexpr int16_t kDqln[8] = {-2048, 135, 273, 373, 373, 273, 135, -2048};
constexpr int16_t kW[8] = {-128, 960, 4384, 18624, 18624, 4384, 960, -128};
constexpr int16_t kF[8] = {0, 512, 1024, 3584, 3584, 1024, 512, 0};

// Decodes one 3-bit code through the state held in registers. The record's
// tables (DQLN, and W and F scaled as the adaptation uses them) give the
// per-code values; the output is SR scaled to 16 bits, not limited.
VELKORIX_ALWAYS_INLINE int32_t Step(Registers &r, const G726StreamDecoder &tables, int code) {
    using namespace g726;
    const Estimate e = EstimatePortable(r);
    const int32_t y = ScaleFactor(r);
    const uint32_t quantized = InverseQuantize(tables.DQLN[code], y);
    const Sample s = Reconstruct(code, (code & 4) != 0, y, quantized, e);
    const bool tr = AdaptScalars(r, tables.W, tables.F, s);
    AdaptHistoryPortable(r, s, quantized, tr, 8);
    return S16(s.sr * 4);
}

}  // namespace

void DecodeGroupsPortable(G726StreamDecoder &d, const uint8_t *input, int32_t groups, int16_t *output) {
    Registers r = Load(d);
    std::size_t written = 0;
    for (int32_t g = 0; g < groups; ++g, input += 3) {
        const uint32_t group = static_cast<uint32_t>(input[0]) | static_cast<uint32_t>(input[1]) << 8 |
                               static_cast<uint32_t>(input[2]) << 16;
        for (int k = 0; k < 8; ++k) g726::Put(output, written++, Step(r, d, static_cast<int>(group >> (3 * k)) & 7));
    }
    Store(r, d);
}

namespace {

using GroupKernel = void (*)(G726StreamDecoder &, const uint8_t *, int32_t, int16_t *);

GroupKernel ChooseKernel() {
#if VELKORIX_X86_KERNELS
    if (CurrentSimdLevel() >= SimdLevel::Avx2) return DecodeGroupsAvx2;
#endif
    return DecodeGroupsPortable;
}

}  // namespace
}  // namespace velkorix::g726s

using namespace velkorix::g726s;

int16_t G726StreamDecodeCode(G726StreamDecoder *decoder, int code) {
    Registers r = Load(*decoder);
    const int32_t sample = Step(r, *decoder, code & 7);
    Store(r, *decoder);
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
    const int32_t groups = length / 3;
    ChooseKernel()(*decoder, input, groups, output);
    int32_t written = 8 * groups;

    // A partial last group: the whole codes of its one or two bytes.
    uint32_t accumulator = 0;
    int32_t count = 0;
    for (int32_t at = 3 * groups; at < length; ++at) {
        accumulator |= static_cast<uint32_t>(input[at]) << count;
        count += 8;
        while (count >= 3) {
            velkorix::g726::Put(output, static_cast<std::size_t>(written++),
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

namespace velkorix::binding {

void *G726StreamCreate() { return G726StreamDecoderCreate(); }

int32_t G726StreamDecode(CodecSlot &slot) {
    G726StreamDecoderDecode(static_cast<G726StreamDecoder *>(slot.instance), slot.input,
                            reinterpret_cast<int16_t *>(slot.output), slot.inputLength);
    return 1;
}

void G726StreamDestroy(void *instance) { G726StreamDecoderDestroy(static_cast<G726StreamDecoder *>(instance)); }

}  // namespace velkorix::binding
