// Codec types 0, 1, 2 and 16: the video decoders, through the seam in front
// of them (video_seam.h; on Linux types 0, 1 and 16 are the video module's).
// Types 0, 1 and 16 get their input copied into the slot's staging buffer;
// type 2 carries its frame size in the input's first two bytes, and the slot
// keeps a frame buffer of that size in `output`.
#include <cstring>

#include "codec_slot/bindings.h"
#include "codec_slot/codec_table.h"
#include "codec_slot/video_seam.h"
#include "common/aligned.h"
#include "common/debug_channel.h"

namespace velkorix::binding {

using video::Kind;

// ---- Types 0, 1 and 16: input staged for the decoder ----

template <Kind kind>
void *VideoCreate(const CodecRow &, CodecSlot &, int32_t width, int32_t height) {
    return video::Create(kind, width, height);
}

template <Kind kind>
int32_t VideoDecodeStaged(const CodecRow &row, CodecSlot &slot) {
    if (slot.inputLength > CODEC_SLOT_STAGING_SIZE) return 0;
    if (slot.inputLength < 0 || (slot.inputLength > 0 && !slot.input)) return 0;
    // The prefix (type 16: 4 bytes) is not the decoder's, and the decoder is
    // given exactly the bytes staged: were it told the whole length, it would
    // read as many stale staging bytes past the unit as the prefix is long.
    // Nothing staged (no input, or type 16 input of its prefix alone) drains
    // the pictures the decoder holds back.
    const int32_t skip = row.prefixBytes;
    const int32_t staged = slot.inputLength > skip ? slot.inputLength - skip : 0;
    if (staged > 0) std::memcpy(slot.staging, slot.input + skip, static_cast<std::size_t>(staged));
    return video::DecodeFrame(kind, slot.instance, slot.staging, staged);
}

template <Kind kind>
void VideoRelease(CodecSlot &slot) {
    video::Release(kind, slot.instance);
}

template <Kind kind>
void *VideoCurrentFrame(CodecSlot &slot) {
    return video::CurrentFrame(kind, slot.instance);
}

template void *VideoCreate<Kind::Mpeg4>(const CodecRow &, CodecSlot &, int32_t, int32_t);
template void *VideoCreate<Kind::H264>(const CodecRow &, CodecSlot &, int32_t, int32_t);
template int32_t VideoDecodeStaged<Kind::Mpeg4>(const CodecRow &, CodecSlot &);
template int32_t VideoDecodeStaged<Kind::H264>(const CodecRow &, CodecSlot &);
template void VideoRelease<Kind::Mpeg4>(CodecSlot &);
template void VideoRelease<Kind::H264>(CodecSlot &);
template void *VideoCurrentFrame<Kind::Mpeg4>(CodecSlot &);
template void *VideoCurrentFrame<Kind::H264>(CodecSlot &);

// ---- Type 2: the frame size travels in the input ----

namespace {

// Frame buffer of the type-2 decoder: three bytes per pixel. Sizes that cannot
// describe a frame get no buffer.
uint8_t *AllocateFrameBuffer(int32_t width, int32_t height) {
    if (width < 0 || height < 0) return nullptr;
    const int64_t bytes = 3LL * width * height;
    if (bytes > (int64_t{1} << 31)) return nullptr;
    return static_cast<uint8_t *>(AlignedAlloc(static_cast<std::size_t>(bytes), 16));
}

constexpr int32_t kBlockMinWidth = 160, kBlockMaxWidth = 704;
constexpr int32_t kBlockMinHeight = 112, kBlockMaxHeight = 576;
constexpr int32_t kBlockDecodeMode = 0x601;

}  // namespace

void *BlockVideoCreate(const CodecRow &, CodecSlot &slot, int32_t width, int32_t height) {
    slot.width = width;
    slot.height = height;
    slot.output = AllocateFrameBuffer(width, height);
    return video::Create(Kind::Block, width, height);
}

int32_t BlockVideoDecode(const CodecRow &, CodecSlot &slot) {
    if (slot.inputLength > CODEC_SLOT_STAGING_SIZE) return 0;
    // The two size bytes must be present before anything is read.
    if (slot.inputLength < 2 || !slot.input) return 0;
    const int32_t width = slot.input[0] * 16;
    const int32_t height = slot.input[1] * 16;
    if (width < kBlockMinWidth || width > kBlockMaxWidth || height < kBlockMinHeight ||
        height > kBlockMaxHeight) {
        DebugOutput("VIDEO FRAME SIZE OUT OF RANGE\n");
        return 0;
    }
    if (width != slot.width || height != slot.height) {
        if (slot.instance) video::Release(Kind::Block, slot.instance);
        slot.width = width;
        slot.height = height;
        slot.instance = video::Create(Kind::Block, width, height);
        // The frame buffer follows the frame size, so a larger frame never
        // lands in a buffer sized for a smaller one.
        AlignedFree(slot.output);
        slot.output = AllocateFrameBuffer(width, height);
    }
    // Without a decoder (its creation failed) or a frame buffer there is
    // nothing to decode into: refused as every type without a decoder is.
    if (!slot.instance || !slot.output) return 0;
    // The size bytes are not part of the picture data: stage what follows them.
    const int32_t pictureBytes = slot.inputLength - 2;
    std::memcpy(slot.staging, slot.input + 2, static_cast<std::size_t>(pictureBytes));
    const int32_t result = video::DecodeBlockFrame(slot.instance, slot.staging, slot.output, width,
                                                   kBlockDecodeMode, slot.skipConversion == 0 ? 4 : 0);
    if (slot.skipConversion == 0) video::ConvertColour(slot.instance, slot.output, width, height);
    return result;
}

void BlockVideoRelease(CodecSlot &slot) {
    if (slot.instance) video::Release(Kind::Block, slot.instance);
    AlignedFree(slot.output);
}

}  // namespace velkorix::binding
