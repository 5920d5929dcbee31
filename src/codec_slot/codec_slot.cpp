#include "velkorix/codec_slot.h"

#include <cstring>

#include "common/aligned.h"
#include "codec_slot/bindings.h"
#include "codec_slot/video_seam.h"
#include "common/debug_channel.h"

namespace {

using velkorix::video::Kind;

bool IsAudioType(int32_t type) {
    return type == 4 || type == 6 || type == 8 || type == 9 || type == 10;
}

bool IsStagedVideoType(int32_t type) { return type == 0 || type == 1 || type == 16; }

bool NamesDecoder(int32_t type) { return IsAudioType(type) || IsStagedVideoType(type) || type == 2; }

Kind VideoKind(int32_t type) { return type == 0 ? Kind::Mpeg4 : type == 2 ? Kind::Block : Kind::H264; }

void Clear(CodecSlot *slot) { std::memset(slot, 0, sizeof(CodecSlot)); }

// Frame buffer of the type-2 decoder: three bytes per pixel. Sizes that cannot
// describe a frame get no buffer.
uint8_t *AllocateFrameBuffer(int32_t width, int32_t height) {
    if (width < 0 || height < 0) return nullptr;
    const int64_t bytes = 3LL * width * height;
    if (bytes > (int64_t{1} << 31)) return nullptr;
    return static_cast<uint8_t *>(velkorix::AlignedAlloc(static_cast<std::size_t>(bytes), 16));
}

constexpr int32_t kBlockMinWidth = 160, kBlockMaxWidth = 704;
constexpr int32_t kBlockMinHeight = 112, kBlockMaxHeight = 576;
constexpr int32_t kBlockDecodeMode = 0x601;

int32_t DecodeBlockVideo(CodecSlot *slot) {
    if (slot->inputLength > CODEC_SLOT_STAGING_SIZE) return 0;
    // The two size bytes must be present before anything is read.
    if (slot->inputLength < 2 || !slot->input) return 0;
    const int32_t width = slot->input[0] * 16;
    const int32_t height = slot->input[1] * 16;
    if (width < kBlockMinWidth || width > kBlockMaxWidth || height < kBlockMinHeight ||
        height > kBlockMaxHeight) {
        velkorix::DebugOutput("VIDEO FRAME SIZE OUT OF RANGE\n");
        return 0;
    }
    if (width != slot->width || height != slot->height) {
        if (slot->instance) velkorix::video::Release(Kind::Block, slot->instance);
        slot->width = width;
        slot->height = height;
        slot->instance = velkorix::video::Create(Kind::Block, width, height);
        // The frame buffer follows the frame size, so a larger frame never
        // lands in a buffer sized for a smaller one.
        velkorix::AlignedFree(slot->output);
        slot->output = AllocateFrameBuffer(width, height);
    }
    // Without a decoder (its creation failed) or a frame buffer there is
    // nothing to decode into: refused as every type without a decoder is.
    if (!slot->instance || !slot->output) return 0;
    // The size bytes are not part of the picture data: stage what follows them.
    const int32_t pictureBytes = slot->inputLength - 2;
    std::memcpy(slot->staging, slot->input + 2, static_cast<std::size_t>(pictureBytes));
    const int32_t result =
        velkorix::video::DecodeBlockFrame(slot->instance, slot->staging, slot->output, width,
                                          kBlockDecodeMode, slot->skipConversion == 0 ? 4 : 0);
    if (slot->skipConversion == 0) velkorix::video::ConvertColour(slot->instance, slot->output, width, height);
    return result;
}

int32_t DecodeStagedVideo(CodecSlot *slot) {
    if (!slot->instance) return 0;
    if (slot->inputLength > CODEC_SLOT_STAGING_SIZE) return 0;
    if (slot->inputLength < 0 || (slot->inputLength > 0 && !slot->input)) return 0;
    // Type 16 input carries a 4-byte prefix that the decoder does not see.
    const int32_t skip = slot->type == 16 ? 4 : 0;
    const int32_t staged = slot->inputLength > skip ? slot->inputLength - skip : 0;
    if (staged > 0) std::memcpy(slot->staging, slot->input + skip, static_cast<std::size_t>(staged));
    return velkorix::video::DecodeFrame(VideoKind(slot->type), slot->instance, slot->staging,
                                        slot->inputLength);
}

}  // namespace

int32_t CodecSlotCreate(CodecSlot *slot, int32_t width, int32_t height, int32_t type) {
    if (!NamesDecoder(type)) return 0;
    if (!slot) return 0;
    if (slot->instance) return 1;  // a holding slot keeps its decoder
    void *instance = nullptr;
    switch (type) {
        case 4: instance = velkorix::binding::G726StreamCreate(); break;
        case 6:
        case 9:
        case 10: instance = velkorix::binding::VoiceCreate(type); break;
        case 8: instance = velkorix::binding::G729Create(); break;
        case 2:
            slot->width = width;
            slot->height = height;
            slot->output = AllocateFrameBuffer(width, height);
            instance = velkorix::video::Create(Kind::Block, width, height);
            break;
        default: instance = velkorix::video::Create(VideoKind(type), width, height); break;
    }
    slot->type = type;
    slot->instance = instance;
    return 1;
}

int32_t CodecSlotDecode(CodecSlot *slot) {
    if (!slot) return 0;
    switch (slot->type) {
        case 4:
            if (!slot->instance) return 0;
            return velkorix::binding::G726StreamDecode(*slot);
        case 6:
        case 9:
        case 10:
            if (!slot->instance) return 0;
            return velkorix::binding::VoiceDecode(*slot);
        case 8:
            if (!slot->instance) return 0;
            return velkorix::binding::G729Decode(*slot);
        case 0:
        case 1:
        case 16: return DecodeStagedVideo(slot);
        case 2: return DecodeBlockVideo(slot);
        default: return 1;
    }
}

int32_t CodecSlotDestroy(CodecSlot *slot) {
    if (!slot) return 0;
    const int32_t type = slot->type;
    if (!NamesDecoder(type)) return 0;
    if (type == 2) {
        if (slot->instance) velkorix::video::Release(Kind::Block, slot->instance);
        velkorix::AlignedFree(slot->output);
        Clear(slot);
        return 1;
    }
    if (!slot->instance) return 1;  // nothing to release: the slot is left as it was
    switch (type) {
        case 4: velkorix::binding::G726StreamDestroy(slot->instance); break;
        case 6:
        case 9:
        case 10: velkorix::binding::VoiceDestroy(slot->instance); break;
        case 8: velkorix::binding::G729Destroy(slot->instance); break;
        default: velkorix::video::Release(VideoKind(type), slot->instance); break;
    }
    Clear(slot);
    return 1;
}

void *CodecSlotGetFrame(CodecSlot *slot) {
    if (!slot) return nullptr;
    switch (slot->type) {
        case 2:
        case 4:
        case 8: return slot->output;
        case 0:
        case 1:
        case 16:
            return slot->instance ? velkorix::video::CurrentFrame(VideoKind(slot->type), slot->instance)
                                  : nullptr;
        default: return nullptr;
    }
}

int32_t CodecSlotGetFrameSize(CodecSlot *slot, int32_t *width, int32_t *height, int32_t *third) {
    if (!slot) return 0;
    auto put = [&](int32_t w, int32_t h, int32_t t) {
        if (width) *width = w;
        if (height) *height = h;
        if (third) *third = t;
    };
    switch (slot->type) {
        case 4:
        case 8: put(640, 0, 0); return 1;
        case 2: put(slot->width, slot->height, 0); return 1;
        case 0:
        case 1:
        case 16:
            if (!slot->instance) return 0;
            velkorix::video::FrameSize(slot->instance, width, height, third);
            return 1;
        default: return 1;
    }
}

int32_t CodecSlotSetOutputOptions(CodecSlot *slot, int32_t value, int32_t second) {
    if (!slot) return 0;
    if (slot->type == 0) {
        if (!slot->instance) return 0;
        velkorix::video::SetOutputOptions(slot->instance, value, second);
    } else if (slot->type == 2) {
        slot->skipConversion = value == 0 ? 1 : 0;
    }
    return 1;
}

int32_t CodecSlotQueryDecoder(CodecSlot *slot) {
    if (!slot) return 0;
    if (IsStagedVideoType(slot->type)) return slot->instance ? velkorix::video::Query(slot->instance) : -1;
    return 0;
}

int32_t CodecSlotSetDelay(CodecSlot *slot, int32_t value) {
    if (!slot) return 0;
    if (slot->type != 0) return 1;
    if (!slot->instance) return 0;
    velkorix::video::SetDelay(slot->instance, value);
    return 1;
}

int32_t CodecSlotSetDecoderFlag(CodecSlot *slot, int32_t value) {
    if (!slot) return 0;
    if (slot->type != 0) return 1;
    if (!slot->instance) return 0;
    velkorix::video::SetFlag(slot->instance, value);
    return 1;
}
