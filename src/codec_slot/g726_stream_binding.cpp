// Codec type 4: the G.726 24 kbit/s packed stream decoder. The decoder takes
// the whole payload in one call and writes 8 samples for every 3 bytes; the
// slot reports success whatever it answered.
#include "codec_slot/bindings.h"
#include "g726_stream/g726_stream.h"

namespace velkorix::binding {

using g726_stream::G726StreamDecoder;

static_assert(kG726StreamGroupBytes == g726_stream::kGroupBytes && kG726StreamGroupSamples == g726_stream::kGroupSamples,
              "the table's row states the decoder's groups");

void *G726StreamCreate(const CodecRow &, CodecSlot &, int32_t, int32_t) {
    return g726_stream::G726StreamDecoderCreate();
}

int32_t G726StreamDecode(const CodecRow &, CodecSlot &slot) {
    g726_stream::G726StreamDecoderDecode(static_cast<G726StreamDecoder *>(slot.instance), slot.input,
                                         reinterpret_cast<int16_t *>(slot.output), slot.inputLength);
    return 1;
}

void G726StreamRelease(CodecSlot &slot) {
    g726_stream::G726StreamDecoderDestroy(static_cast<G726StreamDecoder *>(slot.instance));
}

}  // namespace velkorix::binding
