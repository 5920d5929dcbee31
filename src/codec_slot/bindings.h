// How each codec type is created, fed and released behind a codec slot: the
// functions of the table's rows (codec_table.h), one binding per decoder
// family, and the sizes the rows state for them.
#pragma once

#include <cstdint>

#include "codec_slot/codec_table.h"
#include "velkorix/codec_slot.h"

namespace velkorix::binding {

using codec_slot::CodecRow;

// Type 4: the G.726 24 kbit/s packed stream decoder (g726_stream_binding.cpp).
void *G726StreamCreate(const CodecRow &row, CodecSlot &slot, int32_t width, int32_t height);
int32_t G726StreamDecode(const CodecRow &row, CodecSlot &slot);
void G726StreamRelease(CodecSlot &slot);

// Types 6, 9 and 10: the voice library (voice_binding.cpp).
void *VoiceCreate(const CodecRow &row, CodecSlot &slot, int32_t width, int32_t height);
int32_t VoiceDecode(const CodecRow &row, CodecSlot &slot);
void VoiceRelease(CodecSlot &slot);

// Type 6 decodes one IMA ADPCM frame per call, its header declaring 82 words:
// a 164-byte payload, the first sample and 320 decoded samples. A payload may
// be as long as the frame's room, 2044 bytes; only its first 164 are read.
inline constexpr int32_t kAdpcmFrameWords = 82;
inline constexpr int32_t kAdpcmPayloadBytes = 2 * kAdpcmFrameWords;
inline constexpr int32_t kAdpcmFrameSamples = 4 * (kAdpcmFrameWords - 2) + 1;
inline constexpr int32_t kAdpcmFrameRoom = 2044;

// Type 8: G.729 Annex A (g729_binding.cpp), four 10-byte frames a payload.
void *G729Create(const CodecRow &row, CodecSlot &slot, int32_t width, int32_t height);
int32_t G729Decode(const CodecRow &row, CodecSlot &slot);
void G729Release(CodecSlot &slot);

inline constexpr int32_t kG729FramesPerPayload = 4;

}  // namespace velkorix::binding
