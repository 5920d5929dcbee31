// The codec slot's table: one row for every codec type that names a decoder,
// saying how the slot creates, feeds and releases it, which of the slot's
// rules apply to it, and what one decode call takes and writes. The slot's
// operations read the row of the slot's type and nothing else; the filter
// plans each payload from the same rows. A new codec type is a new row (and
// its binding, see bindings.h).
#pragma once

#include <cstdint>

#include "codec_slot/bindings.h"
#include "velkorix/codec_slot.h"

namespace velkorix::codec_slot {

struct CodecRow;

// Creates the type's decoder (null when that fails); may also set up the
// slot's own parts of the type (type 2: size and frame buffer).
using CreateFunction = void *(*)(const CodecRow &row, CodecSlot &slot, int32_t width, int32_t height);
// Decodes `inputLength` bytes at `input` into `output`; 1 for success, 0 for
// failure. Called with an instance present unless the row is kSizeInInput.
using DecodeFunction = int32_t (*)(const CodecRow &row, CodecSlot &slot);
// Releases what the create function made; the slot clears itself after.
using ReleaseFunction = void (*)(CodecSlot &slot);
// The decoder's current frame (staged video); called with an instance present.
using FrameFunction = void *(*)(CodecSlot &slot);

// Rules of the slot that only some types follow.
enum CodecRowFlag : uint32_t {
    // Video input is copied into the slot's staging buffer, past the row's
    // prefix bytes, before the decoder sees it (types 0, 1 and 16). The
    // decoder answers the frame (the row's currentFrame), frame size and
    // query operations itself.
    kStagedInput = 1u << 0,
    // The frame size travels in the input (type 2): the decoder follows it and
    // the slot owns a frame buffer in `output`, so a release always clears the
    // slot, the frame is `output` and the output options set skipConversion.
    kSizeInInput = 1u << 1,
    // Output options, delay and decoder flag reach the decoder (type 0).
    kDecoderOptions = 1u << 2,
    // Audio: a partial last unit still decodes to the whole samples it holds
    // (packed codes: 1 byte of a 3-byte group gives 2 codes).
    kPartialUnit = 1u << 3,
    // Audio: every call decodes exactly one unit, whatever the payload holds;
    // bytes the payload lacks decode as zeros. `largestInput` is the most a
    // payload may carry (only the unit's bytes are read).
    kOneUnit = 1u << 4,
    // Audio: the payload is `largestInput` bytes whatever the length declared
    // with it (G.729: four frames).
    kFixedPayload = 1u << 5,
};

struct CodecRow {
    int32_t type;  // the CodecType
    CreateFunction create;
    DecodeFunction decode;
    ReleaseFunction release;
    FrameFunction currentFrame;  // null: the decoder keeps no frame of its own
    uint32_t flags;              // CodecRowFlag bits
    int32_t prefixBytes;         // leading input bytes the decoder does not see
    int32_t frameBytes;          // audio: the output is the frame, CodecSlotGetFrameSize reports
                                 // this many bytes as its width; 0: no such frame
    // Audio types (0 for video): the payload is read in units of `unitBytes`
    // bytes, each decoding to `unitSamples` 16-bit samples, at most
    // `largestInput` bytes in one call (0: as many as the output has room for).
    int32_t unitBytes;
    int32_t unitSamples;
    int32_t largestInput;

    constexpr bool Has(CodecRowFlag flag) const { return (flags & flag) != 0; }
    constexpr int64_t UnitOutputBytes() const { return 2 * static_cast<int64_t>(unitSamples); }
};

// What CodecSlotGetFrameSize reports for the audio types that have a frame:
// 320 samples, a 120-byte G.726 payload or four G.729 frames.
inline constexpr int32_t kAudioFrameBytes = 640;

// One row per type: create, decode, release, current frame; flags, prefix
// bytes, frame bytes; unit bytes, unit samples, largest input.
inline constexpr CodecRow kCodecTable[] = {
    {CODEC_TYPE_VIDEO_MPEG4,  // 0
     binding::VideoCreate<video::Kind::Mpeg4>, binding::VideoDecodeStaged<video::Kind::Mpeg4>,
     binding::VideoRelease<video::Kind::Mpeg4>, binding::VideoCurrentFrame<video::Kind::Mpeg4>,
     kStagedInput | kDecoderOptions, 0, 0,
     0, 0, 0},
    {CODEC_TYPE_VIDEO_H264,  // 1
     binding::VideoCreate<video::Kind::H264>, binding::VideoDecodeStaged<video::Kind::H264>,
     binding::VideoRelease<video::Kind::H264>, binding::VideoCurrentFrame<video::Kind::H264>,
     kStagedInput, 0, 0,
     0, 0, 0},
    {CODEC_TYPE_VIDEO_BLOCK,  // 2
     binding::BlockVideoCreate, binding::BlockVideoDecode, binding::BlockVideoRelease, nullptr,
     kSizeInInput, 0, 0,
     0, 0, 0},
    {CODEC_TYPE_G726_STREAM,  // 4: 3-byte groups of 8 codes, a partial group gives its whole codes
     binding::G726StreamCreate, binding::G726StreamDecode, binding::G726StreamRelease, nullptr,
     kPartialUnit, 0, kAudioFrameBytes,
     binding::kG726StreamGroupBytes, binding::kG726StreamGroupSamples, 0},
    {CODEC_TYPE_VOICE_ADPCM,  // 6: one 164-byte frame of 321 samples per call, 2044 bytes of room
     binding::VoiceCreate, binding::VoiceDecode, binding::VoiceRelease, nullptr,
     kOneUnit, 0, 0,
     binding::kAdpcmPayloadBytes, binding::kAdpcmFrameSamples, binding::kAdpcmFrameRoom},
    {CODEC_TYPE_G729,  // 8: four 10-byte frames of 80 samples
     binding::G729Create, binding::G729Decode, binding::G729Release, nullptr,
     kFixedPayload, 0, kAudioFrameBytes,
     binding::kG729PayloadFrameBytes, binding::kG729PayloadFrameSamples,
     binding::kG729PayloadFrames * binding::kG729PayloadFrameBytes},
    {CODEC_TYPE_VOICE_G711A,  // 9: one code per byte
     binding::VoiceCreate, binding::VoiceDecode, binding::VoiceRelease, nullptr,
     0, 0, 0,
     1, 1, 0},
    {CODEC_TYPE_VOICE_G711U,  // 10: one code per byte
     binding::VoiceCreate, binding::VoiceDecode, binding::VoiceRelease, nullptr,
     0, 0, 0,
     1, 1, 0},
    {CODEC_TYPE_VIDEO_H264_PREFIXED,  // 16: as 1, after a 4-byte prefix
     binding::VideoCreate<video::Kind::H264>, binding::VideoDecodeStaged<video::Kind::H264>,
     binding::VideoRelease<video::Kind::H264>, binding::VideoCurrentFrame<video::Kind::H264>,
     kStagedInput, 4, 0,
     0, 0, 0},
};

// The rows by type, for a lookup on every decode.
inline constexpr int32_t kCodecTypeLimit = CODEC_TYPE_VIDEO_H264_PREFIXED + 1;
struct CodecRowIndex {
    const CodecRow *row[kCodecTypeLimit] = {};
    constexpr CodecRowIndex() {
        for (const CodecRow &r : kCodecTable) row[r.type] = &r;
    }
};
inline constexpr CodecRowIndex kCodecRowIndex{};

// The row of `type`; null for a type that names no decoder.
constexpr const CodecRow *FindCodecRow(int32_t type) {
    return type >= 0 && type < kCodecTypeLimit ? kCodecRowIndex.row[type] : nullptr;
}

// Where the row of `type` stands in kCodecTable; -1 for a type that names no
// decoder. For a constant type, a caller takes the row as a constant
// (kCodecTable[position]) and its arithmetic on the row's sizes is done at
// compile time.
constexpr int CodecRowPosition(int32_t type) {
    for (int i = 0; i < static_cast<int>(sizeof(kCodecTable) / sizeof(kCodecTable[0])); ++i)
        if (kCodecTable[i].type == type) return i;
    return -1;
}

}  // namespace velkorix::codec_slot
