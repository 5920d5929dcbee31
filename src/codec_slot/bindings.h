// How each audio codec type is created, fed and released behind a codec slot.
// Each binding owns one decoder family; the slot dispatches to it by type.
#pragma once

#include <cstdint>

#include "velkorix/codec_slot.h"

namespace velkorix::binding {

// Type 4: G.726 24 kbit/s packed stream decoder.
void *G726StreamCreate();
int32_t G726StreamDecode(CodecSlot &slot);
void G726StreamDestroy(void *instance);

// Types 6, 9 and 10: the voice library.
void *VoiceCreate(int32_t codecType);
int32_t VoiceDecode(CodecSlot &slot);
void VoiceDestroy(void *instance);

// Type 8: G.729 Annex A.
void *G729Create();
int32_t G729Decode(CodecSlot &slot);
void G729Destroy(void *instance);

}  // namespace velkorix::binding
