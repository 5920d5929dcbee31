#include "codec_slot/bindings.h"

// G.729 is not bound yet: creation yields no instance, so the slot reports
// every decode of this type as a failure.
namespace velkorix::binding {

void *G729Create() { return nullptr; }
int32_t G729Decode(CodecSlot &) { return 0; }
void G729Destroy(void *) {}

}  // namespace velkorix::binding
