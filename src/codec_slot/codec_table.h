// The codec slot's table: one row for every codec type that names a decoder,
// saying how the slot creates, feeds and releases it, which of the slot's
// rules apply to it, and what one decode call takes and writes. The slot's
// operations read the row of the slot's type and nothing else; the filter
// plans each payload from the same rows. A new codec type is a new row (and
// its binding, see bindings.h).
#pragma once

#include <cstdint>

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

    bool Has(CodecRowFlag flag) const { return (flags & flag) != 0; }
    int64_t UnitOutputBytes() const { return 2 * static_cast<int64_t>(unitSamples); }
};

// The row of `type`; null for a type that names no decoder.
const CodecRow *FindCodecRow(int32_t type);

}  // namespace velkorix::codec_slot
