// Codec type 8: G.729 Annex A. One payload holds up to four 10-byte frames;
// each decodes into 160 bytes (80 samples) of the output, in order, through
// one decoder so that the frames' memories chain.
#include <algorithm>
#include <cstring>

#include "codec_slot/bindings.h"
#include "g729/g729_decoder.h"

namespace velkorix::binding {

using namespace g729;

static_assert(kG729PayloadFrameBytes == kG729FrameBytes && kG729PayloadFrameSamples == kG729FrameSamples,
              "the table's row states the decoder's frame");

namespace {
constexpr std::size_t kFrameOutputBytes = sizeof(int16_t) * kG729FrameSamples;
}  // namespace

void *G729Create(const CodecRow &, CodecSlot &, int32_t, int32_t) { return G729Decoder_Create(); }

// Decodes min(4, inputLength / 10) whole frames: nothing past `inputLength`
// bytes of input is read and nothing past 160 bytes per decoded frame is
// written (the filter passes only lengths whose output fits). The output
// need not be aligned: samples are stored byte-wise.
// Result: the last frame decode's answer (10), or 1 when the input holds no
// whole frame. That case is not a decoder failure: the caller has already
// judged the payload short, and a 0 would add a decode error for it.
int32_t G729Decode(const CodecRow &, CodecSlot &slot) {
    auto *decoder = static_cast<G729Decoder *>(slot.instance);
    const int32_t frames =
        slot.inputLength > 0 ? std::min(kG729PayloadFrames, slot.inputLength / kG729FrameBytes) : 0;
    if (frames == 0) return 1;
    if (!slot.input || !slot.output) return 0;
    int32_t result = 1;
    for (int32_t f = 0; f < frames; ++f) {
        std::memcpy(decoder->inputFrame, slot.input + kG729FrameBytes * f, kG729FrameBytes);
        result = G729Decoder_DecodeFrame(decoder);
        std::memcpy(slot.output + kFrameOutputBytes * static_cast<std::size_t>(f), decoder->outputPcm,
                    kFrameOutputBytes);
    }
    return result;
}

void G729Release(CodecSlot &slot) { G729Decoder_Destroy(static_cast<G729Decoder *>(slot.instance)); }

}  // namespace velkorix::binding
