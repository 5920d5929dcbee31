#include "velkorix/codec_slot.h"

#include <cstring>

#include "codec_slot/bindings.h"
#include "codec_slot/codec_table.h"
#include "codec_slot/video_seam.h"
#include "common/aligned.h"
#include "common/debug_channel.h"
#include "g726_stream/g726_stream.h"
#include "g729/g729_decoder.h"

namespace velkorix::codec_slot {
namespace {

using video::Kind;

void Clear(CodecSlot &slot) { std::memset(&slot, 0, sizeof(CodecSlot)); }

// ---- Video types 0, 1 and 16: input staged for the decoder ----

template <Kind kind>
void *CreateVideo(const CodecRow &, CodecSlot &, int32_t width, int32_t height) {
    return video::Create(kind, width, height);
}

template <Kind kind>
void ReleaseVideo(CodecSlot &slot) {
    video::Release(kind, slot.instance);
}

template <Kind kind>
void *CurrentVideoFrame(CodecSlot &slot) {
    return video::CurrentFrame(kind, slot.instance);
}

template <Kind kind>
int32_t DecodeStagedVideo(const CodecRow &row, CodecSlot &slot) {
    if (slot.inputLength > CODEC_SLOT_STAGING_SIZE) return 0;
    if (slot.inputLength < 0 || (slot.inputLength > 0 && !slot.input)) return 0;
    // The prefix (type 16: 4 bytes) is not the decoder's; it is still given
    // the whole length.
    const int32_t skip = row.prefixBytes;
    const int32_t staged = slot.inputLength > skip ? slot.inputLength - skip : 0;
    if (staged > 0) std::memcpy(slot.staging, slot.input + skip, static_cast<std::size_t>(staged));
    return video::DecodeFrame(kind, slot.instance, slot.staging, slot.inputLength);
}

// ---- Video type 2: the frame size travels in the input ----

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

void *CreateBlockVideo(const CodecRow &, CodecSlot &slot, int32_t width, int32_t height) {
    slot.width = width;
    slot.height = height;
    slot.output = AllocateFrameBuffer(width, height);
    return video::Create(Kind::Block, width, height);
}

void ReleaseBlockVideo(CodecSlot &slot) {
    if (slot.instance) video::Release(Kind::Block, slot.instance);
    AlignedFree(slot.output);
}

int32_t DecodeBlockVideo(const CodecRow &, CodecSlot &slot) {
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

// ---- The table ----

// What CodecSlotGetFrameSize reports for the audio types that have a frame:
// 320 samples, a 120-byte G.726 payload or four G.729 frames.
constexpr int32_t kAudioFrameBytes = 640;

using namespace binding;

// One row per type: create, decode, release, current frame; flags, prefix
// bytes, frame bytes; unit bytes, unit samples, largest input.
constexpr CodecRow kRows[] = {
    {CODEC_TYPE_VIDEO_MPEG4,  // 0
     CreateVideo<Kind::Mpeg4>, DecodeStagedVideo<Kind::Mpeg4>, ReleaseVideo<Kind::Mpeg4>, CurrentVideoFrame<Kind::Mpeg4>,
     kStagedInput | kDecoderOptions, 0, 0,
     0, 0, 0},
    {CODEC_TYPE_VIDEO_H264,  // 1
     CreateVideo<Kind::H264>, DecodeStagedVideo<Kind::H264>, ReleaseVideo<Kind::H264>, CurrentVideoFrame<Kind::H264>,
     kStagedInput, 0, 0,
     0, 0, 0},
    {CODEC_TYPE_VIDEO_BLOCK,  // 2
     CreateBlockVideo, DecodeBlockVideo, ReleaseBlockVideo, nullptr,
     kSizeInInput, 0, 0,
     0, 0, 0},
    {CODEC_TYPE_G726_STREAM,  // 4: 3-byte groups of 8 codes, a partial group gives its whole codes
     G726StreamCreate, G726StreamDecode, G726StreamRelease, nullptr,
     kPartialUnit, 0, kAudioFrameBytes,
     g726_stream::kGroupBytes, g726_stream::kGroupSamples, 0},
    {CODEC_TYPE_VOICE_ADPCM,  // 6: one 164-byte frame of 321 samples per call, 2044 bytes of room
     VoiceCreate, VoiceDecode, VoiceRelease, nullptr,
     kOneUnit, 0, 0,
     kAdpcmPayloadBytes, kAdpcmFrameSamples, kAdpcmFrameRoom},
    {CODEC_TYPE_G729,  // 8: four 10-byte frames of 80 samples
     G729Create, G729Decode, G729Release, nullptr,
     kFixedPayload, 0, kAudioFrameBytes,
     g729::kG729FrameBytes, g729::kG729FrameSamples, kG729FramesPerPayload * g729::kG729FrameBytes},
    {CODEC_TYPE_VOICE_G711A,  // 9: one code per byte
     VoiceCreate, VoiceDecode, VoiceRelease, nullptr,
     0, 0, 0,
     1, 1, 0},
    {CODEC_TYPE_VOICE_G711U,  // 10: one code per byte
     VoiceCreate, VoiceDecode, VoiceRelease, nullptr,
     0, 0, 0,
     1, 1, 0},
    {CODEC_TYPE_VIDEO_H264_PREFIXED,  // 16: as 1, after a 4-byte prefix
     CreateVideo<Kind::H264>, DecodeStagedVideo<Kind::H264>, ReleaseVideo<Kind::H264>, CurrentVideoFrame<Kind::H264>,
     kStagedInput, 4, 0,
     0, 0, 0},
};

// Row by type, for a lookup on every decode.
constexpr int32_t kTypeCount = CODEC_TYPE_VIDEO_H264_PREFIXED + 1;
struct RowIndex {
    const CodecRow *row[kTypeCount] = {};
    constexpr RowIndex() {
        for (const CodecRow &r : kRows) row[r.type] = &r;
    }
};
constexpr RowIndex kRowIndex{};

}  // namespace

const CodecRow *FindCodecRow(int32_t type) {
    return type >= 0 && type < kTypeCount ? kRowIndex.row[type] : nullptr;
}

}  // namespace velkorix::codec_slot

using velkorix::codec_slot::CodecRow;
using velkorix::codec_slot::FindCodecRow;
using namespace velkorix::codec_slot;  // the row flags

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
    velkorix::codec_slot::Clear(*slot);
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
