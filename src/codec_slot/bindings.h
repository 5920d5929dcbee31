// How each codec type is created, fed and released behind a codec slot: the
// functions of the table's rows (codec_table.h), one binding per decoder
// family, and the sizes the rows state for them. Each binding checks at
// compile time that its sizes are its codec's.
#pragma once

#include <cstdint>

#include "codec_slot/video_seam.h"
#include "velkorix/codec_slot.h"

namespace velkorix::codec_slot {
struct CodecRow;
}

namespace velkorix::binding {

using codec_slot::CodecRow;

// Type 4: the G.726 24 kbit/s packed stream decoder (g726_stream_binding.cpp),
// 8 codes in every 3 bytes; a partial group gives its whole codes.
void *G726StreamCreate(const CodecRow &row, CodecSlot &slot, int32_t width, int32_t height);
int32_t G726StreamDecode(const CodecRow &row, CodecSlot &slot);
void G726StreamRelease(CodecSlot &slot);

inline constexpr int32_t kG726StreamGroupBytes = 3;
inline constexpr int32_t kG726StreamGroupSamples = 8;

// Types 6, 9 and 10: the voice library (voice_binding.cpp).
void *VoiceCreate(const CodecRow &row, CodecSlot &slot, int32_t width, int32_t height);
int32_t VoiceDecode(const CodecRow &row, CodecSlot &slot);
void VoiceRelease(CodecSlot &slot);

// Type 6 decodes one IMA ADPCM frame per call, its header declaring 82 words:
// a 164-byte payload, the first sample and 320 decoded samples. A payload may
// be as long as the frame's room, 2044 bytes; only its first 164 are read.
// Types 9 and 10 take one G.711 code per byte.
inline constexpr int32_t kAdpcmFrameWords = 82;
inline constexpr int32_t kAdpcmPayloadBytes = 2 * kAdpcmFrameWords;
inline constexpr int32_t kAdpcmFrameSamples = 4 * (kAdpcmFrameWords - 2) + 1;
inline constexpr int32_t kAdpcmFrameRoom = 2044;

// Type 8: G.729 Annex A (g729_binding.cpp), up to four 10-byte frames of 80
// samples a payload.
void *G729Create(const CodecRow &row, CodecSlot &slot, int32_t width, int32_t height);
int32_t G729Decode(const CodecRow &row, CodecSlot &slot);
void G729Release(CodecSlot &slot);

inline constexpr int32_t kG729PayloadFrames = 4;
inline constexpr int32_t kG729PayloadFrameBytes = 10;
inline constexpr int32_t kG729PayloadFrameSamples = 80;

// Types 0, 1 and 16 (video_binding.cpp): the input staged for the decoder of
// `kind`, past the row's prefix bytes.
template <video::Kind kind>
void *VideoCreate(const CodecRow &row, CodecSlot &slot, int32_t width, int32_t height);
template <video::Kind kind>
int32_t VideoDecodeStaged(const CodecRow &row, CodecSlot &slot);
template <video::Kind kind>
void VideoRelease(CodecSlot &slot);
template <video::Kind kind>
void *VideoCurrentFrame(CodecSlot &slot);

// Type 2 (video_binding.cpp): the frame size in the input, a frame buffer of
// the slot's own.
void *BlockVideoCreate(const CodecRow &row, CodecSlot &slot, int32_t width, int32_t height);
int32_t BlockVideoDecode(const CodecRow &row, CodecSlot &slot);
void BlockVideoRelease(CodecSlot &slot);

}  // namespace velkorix::binding
