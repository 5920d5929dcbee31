// The codec context of one filter: the codec slot through which all decoding
// runs, the working copy of the audio format table, and the codec type of the
// decoder the slot holds.
#pragma once

#include <cstdint>

#include "common/light_lock.h"
#include "stream/stream_index.h"
#include "velkorix/codec_slot.h"

namespace velkorix {

// Audio format byte -> codec type; -1 marks an invalid format.
inline constexpr int kAudioFormatCount = 7;
inline constexpr int8_t kAudioFormatTable[kAudioFormatCount] = {
    CODEC_TYPE_G726_STREAM,  // 0: G.726 24 kbit/s, packed 3-bit codes
    CODEC_TYPE_VOICE_G711A,  // 1: G.711 A-law
    CODEC_TYPE_VOICE_G711U,  // 2: G.711 mu-law
    CODEC_TYPE_G729,         // 3: G.729 Annex A, four frames
    -1,                      // 4: invalid
    -1,                      // 5: invalid
    CODEC_TYPE_VOICE_ADPCM,  // 6: IMA ADPCM with the first sample in front
};

// The codec type the filter decodes `format` with, or -1 when it decodes
// nothing (an invalid format, or one beyond the table) and keeps its decoder.
inline int CodecTypeOfFormat(uint8_t format) { return format < kAudioFormatCount ? kAudioFormatTable[format] : -1; }

// Whether the decoder of codec type `type` carries state from one record to
// the next: G.711 decodes every byte alone, and IMA ADPCM with the first
// sample in front starts each record from its header (first sample and step
// index); the G.726 and G.729 decoders adapt across records.
inline bool CodecCarriesState(int type) {
    return type != CODEC_TYPE_VOICE_G711A && type != CODEC_TYPE_VOICE_G711U && type != CODEC_TYPE_VOICE_ADPCM;
}

// The filter's map for the stream layer's DecodeStartFor.
inline stream::FormatDecoder FilterDecoderOf(uint8_t format) {
    const int type = CodecTypeOfFormat(format);
    return {type, CodecCarriesState(type)};
}

inline constexpr char kInvalidFormatMessage[] = "************INVALID AUDIO FORMAT*************";
inline constexpr char kDecodeErrorMessage[] = "audio decode error!\n";

class CodecContext {
public:
    CodecContext();
    virtual ~CodecContext();
    CodecContext(const CodecContext &) = delete;
    CodecContext &operator=(const CodecContext &) = delete;

    // Releases the held decoder, clears the slot, refills the format table and
    // forgets the current type.
    void Reset();

    // Decodes one payload of `length` bytes into `output`. A change of codec
    // type replaces the decoder; an invalid format leaves it in place. Failures
    // show on the debugger channel; returns whether the decoder ran (false for
    // an invalid format or a decoder that failed: nothing was written).
    bool DecodeByFormat(const uint8_t *payload, uint8_t *output, int32_t length, uint8_t format);

    // Observers for tests and tools.
    int8_t CurrentType() const { return currentType; }
    const CodecSlot &Slot() const { return slot; }

private:
    void ClearHeader();

    CodecSlot slot;
    int8_t formatTable[kAudioFormatCount];
    int8_t currentType;
    // Reset may come from the graph thread while the streaming thread
    // decodes; the decode takes this lock for every sample.
    LightLock lock;
};

}  // namespace velkorix
