#include "velkorix/codec_slot.h"

#include <cstring>

#include "codec_slot/codec_table.h"
#include "codec_slot/video_seam.h"

namespace {

using velkorix::codec_slot::CodecRow;
using velkorix::codec_slot::FindCodecRow;
using namespace velkorix::codec_slot;  // the row flags

void Clear(CodecSlot &slot) { std::memset(&slot, 0, sizeof(CodecSlot)); }

}  // namespace

int32_t CodecSlotCreate(CodecSlot *slot, int32_t width, int32_t height, int32_t type) {
    const CodecRow *row = FindCodecRow(type);
    if (!row) return 0;
    if (!slot) return 0;
    if (slot->instance) return 1;  // a holding slot keeps its decoder
    void *instance = row->create(*row, *slot, width, height);
    slot->type = type;
    slot->instance = instance;
    return 1;
}

int32_t CodecSlotDecode(CodecSlot *slot) {
    if (!slot) return 0;
    const CodecRow *row = FindCodecRow(slot->type);
    if (!row) return 1;  // no decoder to run: nothing to do
    // A type whose decoder failed to appear cannot decode; type 2 makes its
    // decoder from the size in the input.
    if (!slot->instance && !row->Has(kSizeInInput)) return 0;
    return row->decode(*row, *slot);
}

int32_t CodecSlotDestroy(CodecSlot *slot) {
    if (!slot) return 0;
    const CodecRow *row = FindCodecRow(slot->type);
    if (!row) return 0;
    // Nothing to release leaves the slot as it was, except where the slot
    // owns a frame buffer of its own.
    if (!slot->instance && !row->Has(kSizeInInput)) return 1;
    row->release(*slot);
    Clear(*slot);
    return 1;
}

void *CodecSlotGetFrame(CodecSlot *slot) {
    if (!slot) return nullptr;
    const CodecRow *row = FindCodecRow(slot->type);
    if (!row) return nullptr;
    if (row->Has(kSizeInInput) || row->frameBytes > 0) return slot->output;
    if (row->currentFrame && slot->instance) return row->currentFrame(*slot);
    return nullptr;
}

int32_t CodecSlotGetFrameSize(CodecSlot *slot, int32_t *width, int32_t *height, int32_t *third) {
    if (!slot) return 0;
    const CodecRow *row = FindCodecRow(slot->type);
    auto put = [&](int32_t w, int32_t h, int32_t t) {
        if (width) *width = w;
        if (height) *height = h;
        if (third) *third = t;
    };
    if (!row) return 1;
    if (row->frameBytes > 0) {
        put(row->frameBytes, 0, 0);
    } else if (row->Has(kSizeInInput)) {
        put(slot->width, slot->height, 0);
    } else if (row->Has(kStagedInput)) {
        if (!slot->instance) return 0;
        velkorix::video::FrameSize(slot->instance, width, height, third);
    }
    return 1;
}

int32_t CodecSlotSetOutputOptions(CodecSlot *slot, int32_t value, int32_t second) {
    if (!slot) return 0;
    const CodecRow *row = FindCodecRow(slot->type);
    if (!row) return 1;
    if (row->Has(kDecoderOptions)) {
        if (!slot->instance) return 0;
        velkorix::video::SetOutputOptions(slot->instance, value, second);
    } else if (row->Has(kSizeInInput)) {
        slot->skipConversion = value == 0 ? 1 : 0;
    }
    return 1;
}

int32_t CodecSlotQueryDecoder(CodecSlot *slot) {
    if (!slot) return 0;
    const CodecRow *row = FindCodecRow(slot->type);
    if (row && row->Has(kStagedInput)) return slot->instance ? velkorix::video::Query(slot->instance) : -1;
    return 0;
}

int32_t CodecSlotSetDelay(CodecSlot *slot, int32_t value) {
    if (!slot) return 0;
    const CodecRow *row = FindCodecRow(slot->type);
    if (!row || !row->Has(kDecoderOptions)) return 1;
    if (!slot->instance) return 0;
    velkorix::video::SetDelay(slot->instance, value);
    return 1;
}

int32_t CodecSlotSetDecoderFlag(CodecSlot *slot, int32_t value) {
    if (!slot) return 0;
    const CodecRow *row = FindCodecRow(slot->type);
    if (!row || !row->Has(kDecoderOptions)) return 1;
    if (!slot->instance) return 0;
    velkorix::video::SetFlag(slot->instance, value);
    return 1;
}
