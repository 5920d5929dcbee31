#include "filter/codec_context.h"

#include <cstddef>
#include <cstring>
#include <mutex>

#include "common/debug_channel.h"

namespace velkorix {

CodecContext::CodecContext() {
    std::memset(&slot, 0, sizeof(slot));
    std::memcpy(formatTable, kAudioFormatTable, sizeof(formatTable));
    currentType = -1;
}

CodecContext::~CodecContext() { CodecSlotDestroy(&slot); }

// The context only ever creates audio decoders, which never write the slot's
// staging buffer: it stays as the constructor cleared it, so clearing the
// fields before it clears the whole slot (without writing 400 KB of zeros on
// every reset and format change).
void CodecContext::ClearHeader() { std::memset(&slot, 0, offsetof(CodecSlot, staging)); }

void CodecContext::Reset() {
    std::lock_guard<LightLock> hold(lock);
    CodecSlotDestroy(&slot);
    ClearHeader();
    std::memcpy(formatTable, kAudioFormatTable, sizeof(formatTable));
    currentType = -1;
}

bool CodecContext::DecodeByFormat(const uint8_t *payload, uint8_t *output, int32_t length, uint8_t format) {
    std::lock_guard<LightLock> hold(lock);
    if (format >= kAudioFormatCount) return false;
    const int8_t type = formatTable[format];
    if (type == -1) {
        DebugOutput(kInvalidFormatMessage);
        return false;
    }
    if (type != currentType) {
        CodecSlotDestroy(&slot);
        ClearHeader();
        slot.type = type;
        currentType = type;
        CodecSlotCreate(&slot, 0, 0, type);
    }
    slot.inputLength = length;
    slot.input = payload;
    slot.output = output;
    if (CodecSlotDecode(&slot) != 0) return true;
    DebugOutput(kDecodeErrorMessage);
    return false;
}

}  // namespace velkorix
