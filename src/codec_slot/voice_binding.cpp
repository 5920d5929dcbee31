#include "codec_slot/bindings.h"

// Voice types are not bound yet: creation yields no instance, so the slot
// reports every decode of these types as a failure.
namespace velkorix::binding {

void *VoiceCreate(int32_t) { return nullptr; }
int32_t VoiceDecode(CodecSlot &) { return 0; }
void VoiceDestroy(void *) {}

}  // namespace velkorix::binding
