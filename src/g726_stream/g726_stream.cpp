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

// Decodes one 3-bit code through the state held in registers.
VELKORIX_ALWAYS_INLINE int32_t Step(Registers &r, const G726StreamDecoder &tables, int code) {
    // Signal estimate from the six zero and two pole products.
    int32_t zeros = 0;
    for (int k = 0; k < 6; ++k) zeros += FMult(r.b[k] >> 2, r.dq[k]);
    const int32_t sezi = S16(zeros);
    const int32_t sez = sezi >> 1;
    const int32_t sei = S16(sezi + FMult(r.a2 >> 2, r.sr2) + FMult(r.a1 >> 2, r.sr1));
    const int32_t se = sei >> 1;

    Sample s;
    s.code = code;
    s.negative = (code & 4) != 0;
    s.y = ScaleFactor(r);
    const uint32_t quantized = InverseQuantize(tables, code, s.y);
    s.mag = static_cast<int32_t>(quantized & 0xFFFF);
    s.sr = S16(s.negative ? se - s.mag : se + s.mag);
    s.dqsez = S16((s.negative ? -s.mag : s.mag) + sez);  // SR - SE + SEZ, without waiting for SE

    if (AdaptScalars(r, tables, s)) {
        for (int k = 0; k < 6; ++k) r.b[k] = 0;
    } else {
        // Zero predictor: towards the sign agreement of DQ with each DQk.
        const int32_t signDq = s.negative ? -1 : 0;
        for (int k = 0; k < 6; ++k) {
            const int32_t agree = (signDq ^ r.dq[k]) >> 31;  // 0 when the signs agree, else -1
            const int32_t step = s.mag != 0 ? (128 ^ agree) - agree : 0;
            r.b[k] = S16(r.b[k] - (r.b[k] >> 8) + step);
        }
    }

    // Difference and signal history.
    for (int k = 5; k > 0; --k) r.dq[k] = r.dq[k - 1];
    r.dq[0] = static_cast<int32_t>(quantized >> 16) - ((code & 4) << 8);  // minus 1024 when negative
    r.sr2 = r.sr1;
    r.sr1 = SignalForm(s.sr);

    // Output: SR scaled to 16 bits, not limited.
    return S16(s.sr * 4);
}

}  // namespace

void DecodeGroupsPortable(G726StreamDecoder &d, const uint8_t *input, int32_t groups, int16_t *output) {
    Registers r = Load(d);
    std::size_t written = 0;
    for (int32_t g = 0; g < groups; ++g, input += 3) {
        const uint32_t group = static_cast<uint32_t>(input[0]) | static_cast<uint32_t>(input[1]) << 8 |
                               static_cast<uint32_t>(input[2]) << 16;
        for (int k = 0; k < 8; ++k) Put(output, written++, Step(r, d, static_cast<int>(group >> (3 * k)) & 7));
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
            Put(output, static_cast<std::size_t>(written++),
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
