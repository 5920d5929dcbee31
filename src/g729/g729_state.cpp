// The decoder record: creation with the reset values, and release.
#include <cstring>
#include <new>

#include "common/aligned.h"
#include "g729/g729_decoder.h"

namespace velkorix::g729 {

namespace {

// The LSF quantizer's reset vector (radians): equally spaced frequencies.
constexpr float kLsfReset[kG729LpcOrder] = {0.285599f, 0.571199f, 0.856798f, 1.142397f, 1.427997f,
                                            1.713596f, 1.999195f, 2.284795f, 2.570394f, 2.855993f};

// The LSPs (cosine domain) assumed before the first frame.
constexpr float kLspReset[kG729LpcOrder] = {0.9595f,  0.8413f,  0.6549f,  0.4154f,  0.1423f,
                                            -0.1423f, -0.4154f, -0.6549f, -0.8413f, -0.9595f};

constexpr float kInitialEnergy = -14.0f;     // dB, each of the four predictor memories
constexpr float kInitialSharpness = 0.2f;    // the smallest sharpening factor
constexpr int32_t kInitialPitchLag = 60;     // delay of a parity error before any subframe 2

// Alignment of the record: lets the compiler use whole vector loads on the
// larger buffers.
constexpr std::uint32_t kRecordAlignment = 32;

}  // namespace

G729Decoder *G729Decoder_Create() {
    void *block = AlignedAlloc(sizeof(G729Decoder), kRecordAlignment);
    if (!block) return nullptr;
    void *readerBlock = AlignedAlloc(sizeof(G729BitReader), 16);
    if (!readerBlock) {
        AlignedFree(block);
        return nullptr;
    }
    // Every field starts at zero; the fields below take their reset values.
    auto *d = new (block) G729Decoder{};
    d->bitReader = new (readerBlock) G729BitReader{};

    for (auto &row : d->lsfHistory) std::memcpy(row, kLsfReset, sizeof(kLsfReset));
    for (float &e : d->pastQuantEnergy) e = kInitialEnergy;
    std::memcpy(d->lspOld, kLspReset, sizeof(kLspReset));
    d->sharpness = kInitialSharpness;
    d->previousPitchLag = kInitialPitchLag;
    d->agcGain = 1.0f;
    return d;
}

void G729Decoder_Destroy(G729Decoder *decoder) {
    if (!decoder) return;
    AlignedFree(decoder->bitReader);
    AlignedFree(decoder);
}

}  // namespace velkorix::g729
