// The G.729 decoder with arbitrary frame sequences, one decoder per input,
// both directly and through the codec slot with any input length.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "g729/g729_decoder.h"
#include "velkorix/codec_slot.h"

using namespace velkorix::g729;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    G729SetDiagnosticSink([](void *, const char *) {}, nullptr, nullptr, nullptr);
    G729Decoder *decoder = G729Decoder_Create();
    if (!decoder) return 0;
    for (std::size_t at = 0; at + 10 <= size && at < 4000; at += 10) {
        std::memcpy(decoder->inputFrame, data + at, 10);
        if (G729Decoder_DecodeFrame(decoder) != 10) __builtin_trap();
        for (float v : decoder->synth)
            if (!std::isfinite(v)) __builtin_trap();
    }
    G729Decoder_Destroy(decoder);

    // Through the slot: the payload is exactly as long as the input.
    if (size > 0) {
        auto slot = std::make_unique<CodecSlot>();
        std::memset(slot.get(), 0, sizeof(CodecSlot));
        CodecSlotCreate(slot.get(), 0, 0, 8);
        const std::size_t take = std::min<std::size_t>(size - 1, 64);
        std::vector<uint8_t> payload(data + 1, data + 1 + take);
        std::vector<uint8_t> out(640);
        slot->input = payload.data();
        slot->inputLength = static_cast<int32_t>(std::min<std::size_t>(take, data[0]));
        slot->output = out.data();
        CodecSlotDecode(slot.get());
        CodecSlotDestroy(slot.get());
    }
    return 0;
}
