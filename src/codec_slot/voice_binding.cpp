// Codec types 6, 9 and 10 decode through the voice library: the slot holds a
// decoder VoiceState, and every payload is wrapped in a VoiceFrame for
// QX_VOICE_DecodeFrame.
//
// Type 6 (IMA ADPCM with the first sample in the header) always declares an
// 82-word frame: 321 samples (642 bytes) from a 164-byte payload. Only those
// 164 bytes are read; the part of them that the input does not fill is zero.
// A whole payload is decoded where it lies; a short one through a frame.
//
// Types 9 and 10 (G.711 A-law, mu-law) carry one code per byte, so a payload
// of n bytes is n samples, 2 x n bytes in all, expanded by the library's G.711
// decoder (the same tables as its frames, which hold at most 480 codes: a
// payload is expanded in one pass, not frame by frame).
//
// Samples are written to `output` as little-endian 16-bit values; the output
// pointer need not be aligned. An aligned output (the usual case: sample
// buffers come from the allocator) is written directly, without a copy.
#include <cstdint>
#include <cstring>

#include "codec_slot/bindings.h"
#include "codec_slot/codec_table.h"
#include "common/aligned.h"
#include "velkorix/qx_voice.h"
#include "voice/adpcm.h"
#include "voice/g711.h"
#include "voice/voice_state.h"

namespace velkorix::binding {
namespace {

constexpr int kG711ChunkSamples = 480;

bool IsG711Type(int32_t type) { return type == CODEC_TYPE_VOICE_G711A || type == CODEC_TYPE_VOICE_G711U; }

bool Aligned(const uint8_t *p) { return reinterpret_cast<std::uintptr_t>(p) % alignof(int16_t) == 0; }

void PutSamples(uint8_t *output, const int16_t *pcm, int count) {
    std::memcpy(output, pcm, static_cast<std::size_t>(count) * sizeof(int16_t));
}

void DecodeAdpcm(VoiceState *state, const uint8_t *input, int32_t length, uint8_t *output) {
    if (length >= kAdpcmPayloadBytes && Aligned(output)) {
        // A whole payload decodes in place, as the library would decode the
        // frame built around it, without copying it into one first.
        voice::AdpcmState codec{};  // set from the payload's header
        voice::AdpcmDecodeFirstPayload(codec, input, kAdpcmFrameWords, reinterpret_cast<int16_t *>(output));
        voice::Store(state, codec);
        return;
    }
    uint8_t frame[VOICE_FRAME_HEADER_BYTES + kAdpcmPayloadBytes];
    frame[0] = 0x00;
    frame[1] = 0x01;
    frame[2] = kAdpcmFrameWords;
    frame[3] = 0x00;
    const int32_t copied = length < 0 ? 0 : length > kAdpcmPayloadBytes ? kAdpcmPayloadBytes : length;
    if (copied > 0) std::memcpy(frame + VOICE_FRAME_HEADER_BYTES, input, static_cast<std::size_t>(copied));
    if (copied < kAdpcmPayloadBytes)
        std::memset(frame + VOICE_FRAME_HEADER_BYTES + copied, 0, static_cast<std::size_t>(kAdpcmPayloadBytes - copied));

    int16_t scratch[VOICE_MAX_SAMPLES];
    int16_t *pcm = Aligned(output) ? reinterpret_cast<int16_t *>(output) : scratch;
    int16_t count = 0;
    if (QX_VOICE_DecodeFrame(state, reinterpret_cast<VoiceFrame *>(frame), pcm, &count) == VOICE_OK && pcm == scratch)
        PutSamples(output, pcm, count);
}

void DecodeG711(int32_t type, const uint8_t *input, int32_t length, uint8_t *output) {
    const auto law = type == CODEC_TYPE_VOICE_G711A ? voice::G711Law::A : voice::G711Law::Mu;
    if (Aligned(output)) {
        voice::G711DecodePayload(law, false, input, length, reinterpret_cast<int16_t *>(output));
        return;
    }
    int16_t pcm[kG711ChunkSamples];
    for (int32_t done = 0; done < length; done += kG711ChunkSamples) {
        const int n = length - done < kG711ChunkSamples ? static_cast<int>(length - done) : kG711ChunkSamples;
        voice::G711DecodePayload(law, false, input + done, n, pcm);
        PutSamples(output + 2 * done, pcm, n);
    }
}

}  // namespace

void *VoiceCreate(const CodecRow &row, CodecSlot &, int32_t, int32_t) {
    const int32_t codecType = row.type;
    const bool g711 = IsG711Type(codecType);
    const int16_t voiceType = codecType == CODEC_TYPE_VOICE_G711A   ? G711_A
                              : codecType == CODEC_TYPE_VOICE_G711U ? G711_U
                                                                    : ADPCM_FIRST;
    void *block = AlignedAlloc(g711 ? 8 : 16, 4);
    if (!block) return nullptr;
    QX_VOICE_DecReset(static_cast<VoiceState *>(block), voiceType);
    return block;
}

int32_t VoiceDecode(const CodecRow &, CodecSlot &slot) {
    auto *state = static_cast<VoiceState *>(slot.instance);
    if (!slot.output) return 1;  // nowhere to write: nothing to do
    const int32_t length = slot.input ? slot.inputLength : 0;
    if (IsG711Type(slot.type))
        DecodeG711(slot.type, slot.input, length, slot.output);
    else
        DecodeAdpcm(state, slot.input, length, slot.output);
    return 1;
}

void VoiceRelease(CodecSlot &slot) { AlignedFree(slot.instance); }

}  // namespace velkorix::binding
