// Codec types 6, 9 and 10 decode through the voice library: the slot holds a
// decoder VoiceState, and every payload is wrapped in a VoiceFrame for
// QX_VOICE_DecodeFrame.
//
// Type 6 (IMA ADPCM with the first sample in the header) always declares an
// 82-word frame: 321 samples (642 bytes) from a 164-byte payload. Payload
// bytes beyond the scratch frame's 2044-byte room are not read, and the part
// of the declared payload that the input does not fill is zero.
//
// Types 9 and 10 (G.711 A-law, mu-law) carry one code per byte, so a payload
// of n bytes is n samples: it is decoded as frames the library accepts (up to
// 480 samples, a multiple of 80) and a remainder of fewer than 80 codes through
// the same expansion tables, 2 x n bytes in all.
//
// Samples are written to `output` as little-endian 16-bit values; the output
// pointer need not be aligned.
#include <cstring>

#include "codec_slot/aligned.h"
#include "codec_slot/bindings.h"
#include "velkorix/qx_voice.h"
#include "voice/g711.h"

namespace velkorix::binding {
namespace {

constexpr int kAdpcmFrameWords = 82;
constexpr int kAdpcmScratchBytes = 2048;
constexpr int kG711ChunkSamples = 480;

bool IsG711Type(int32_t type) { return type == CODEC_TYPE_VOICE_G711A || type == CODEC_TYPE_VOICE_G711U; }

void PutSamples(uint8_t *output, const int16_t *pcm, int count) {
    std::memcpy(output, pcm, static_cast<std::size_t>(count) * sizeof(int16_t));
}

void DecodeAdpcm(VoiceState *state, const uint8_t *input, int32_t length, uint8_t *output) {
    uint8_t scratch[kAdpcmScratchBytes];
    scratch[0] = 0x00;
    scratch[1] = 0x01;
    scratch[2] = kAdpcmFrameWords;
    scratch[3] = 0x00;
    constexpr int32_t room = kAdpcmScratchBytes - VOICE_FRAME_HEADER_BYTES;
    const int32_t copied = length < 0 ? 0 : length > room ? room : length;
    if (copied > 0) std::memcpy(scratch + VOICE_FRAME_HEADER_BYTES, input, static_cast<std::size_t>(copied));
    std::memset(scratch + VOICE_FRAME_HEADER_BYTES + copied, 0, static_cast<std::size_t>(room - copied));

    int16_t pcm[VOICE_MAX_SAMPLES];
    int16_t count = 0;
    if (QX_VOICE_DecodeFrame(state, reinterpret_cast<VoiceFrame *>(scratch), pcm, &count) == VOICE_OK)
        PutSamples(output, pcm, count);
}

void DecodeG711(VoiceState *state, int32_t type, const uint8_t *input, int32_t length, uint8_t *output) {
    int32_t done = 0;
    VoiceFrame frame;
    int16_t pcm[VOICE_MAX_SAMPLES];
    while (length - done >= 80) {
        const int32_t rest = length - done;
        const int samples = rest >= kG711ChunkSamples ? kG711ChunkSamples : rest / 80 * 80;
        frame.flags[0] = 0x00;
        frame.flags[1] = 0x01;
        frame.length = static_cast<uint8_t>(samples / 2);
        frame.lengthHigh = 0;
        std::memcpy(frame.payload, input + done, static_cast<std::size_t>(samples));
        int16_t count = 0;
        if (QX_VOICE_DecodeFrame(state, &frame, pcm, &count) == VOICE_OK) PutSamples(output + 2 * done, pcm, count);
        done += samples;
    }
    // Fewer than 80 codes make no frame the library accepts: expand them with
    // the same tables.
    const int remainder = length - done;
    if (remainder > 0) {
        const auto law = type == CODEC_TYPE_VOICE_G711A ? voice::G711Law::A : voice::G711Law::Mu;
        voice::G711DecodePayload(law, false, input + done, remainder, pcm);
        PutSamples(output + 2 * done, pcm, remainder);
    }
}

}  // namespace

void *VoiceCreate(int32_t codecType) {
    const bool g711 = IsG711Type(codecType);
    const int16_t voiceType = codecType == CODEC_TYPE_VOICE_G711A   ? G711_A
                              : codecType == CODEC_TYPE_VOICE_G711U ? G711_U
                                                                    : ADPCM_FIRST;
    void *block = AlignedAlloc(g711 ? 8 : 16, 4);
    if (!block) return nullptr;
    QX_VOICE_DecReset(static_cast<VoiceState *>(block), voiceType);
    return block;
}

int32_t VoiceDecode(CodecSlot &slot) {
    auto *state = static_cast<VoiceState *>(slot.instance);
    if (!slot.output) return 1;  // nowhere to write: nothing to do
    const int32_t length = slot.input ? slot.inputLength : 0;
    if (IsG711Type(slot.type))
        DecodeG711(state, slot.type, slot.input, length, slot.output);
    else
        DecodeAdpcm(state, slot.input, length, slot.output);
    return 1;
}

void VoiceDestroy(void *instance) { AlignedFree(instance); }

}  // namespace velkorix::binding
