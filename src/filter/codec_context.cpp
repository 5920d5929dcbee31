#include "filter/codec_context.h"

#include <cstring>

#include "common/debug_channel.h"

namespace velkorix {

CodecContext::CodecContext() {
    std::memset(&slot, 0, sizeof(slot));
    std::memcpy(formatTable, kAudioFormatTable, sizeof(formatTable));
    currentType = -1;
}

CodecContext::~CodecContext() { CodecSlotDestroy(&slot); }

void CodecContext::Reset() {
    std::lock_guard<std::mutex> lock(lock_);
    CodecSlotDestroy(&slot);
    std::memset(&slot, 0, sizeof(slot));
    std::memcpy(formatTable, kAudioFormatTable, sizeof(formatTable));
    currentType = -1;
}

void CodecContext::DecodeByFormat(const uint8_t *payload, uint8_t *output, int32_t length, uint8_t format) {
    std::lock_guard<std::mutex> lock(lock_);
    if (format >= kAudioFormatCount) return;
    const int8_t type = formatTable[format];
    if (type == -1) {
        DebugOutput(kInvalidFormatMessage);
        return;
    }
    if (type != currentType) {
        CodecSlotDestroy(&slot);
        std::memset(&slot, 0, sizeof(slot));
        slot.type = type;
        currentType = type;
        CodecSlotCreate(&slot, 0, 0, type);
    }
    slot.inputLength = length;
    slot.input = payload;
    slot.output = output;
    if (CodecSlotDecode(&slot) == 0) DebugOutput(kDecodeErrorMessage);
}

}  // namespace velkorix
