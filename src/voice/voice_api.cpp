// The exported QX_VOICE_ functions: argument checks, the frame rules of each
// codec type, dispatch to the codec families, and transcoding.
//
// A caller's state block is read and written only through memcpy at fixed
// offsets (the type word at 0, the family's state at 4), so a block of any
// size that holds the family's fields works, whatever its declared type.
#include <cstddef>
#include <cstring>

#include "velkorix/qx_voice.h"
#include "voice/adpcm.h"
#include "voice/adpcm2.h"
#include "voice/frame_rule.h"
#include "voice/g711.h"
#include "voice/g726.h"
#include "voice/voice_frame.h"
#include "voice/voice_state.h"

namespace {

using namespace velkorix::voice;

static_assert(kCodecOffset + sizeof(AdpcmState) <= 8, "IMA ADPCM state must fit the 8-byte block");
static_assert(kCodecOffset + sizeof(G726State) <= 112, "G.726 state must fit its documented block");
static_assert(kCodecOffset + sizeof(Adpcm2State) <= 56, "2-bit ADPCM state must fit its documented block");
static_assert(sizeof(VoiceState) == VOICE_STATE_BYTES);
static_assert(offsetof(VoiceTransState, decoder) == VOICE_STATE_BYTES);
static_assert(sizeof(VoiceFrame) == VOICE_FRAME_MAX_BYTES);
static_assert(sizeof(VOICE_VERSION_STRING) == VOICE_VERSION_BYTES);

enum class Family { None, G711, Adpcm, G726, Adpcm2 };

Family FamilyOf(int type) {
    switch (type) {
        case G711_A:
        case G711_U:
        case G711_A_SWAP:
        case G711_U_SWAP: return Family::G711;
        case ADPCM_PRED:
        case ADPCM_FIRST:
        case ADPCM_BARE: return Family::Adpcm;
        case G726_16:
        case G726_24:
        case G726_32:
        case G726_40:
        case G726_16_MSB:
        case G726_24_MSB:
        case G726_32_MSB:
        case G726_40_MSB: return Family::G726;
        case ADPCM2_LINEAR: return Family::Adpcm2;
        default: return Family::None;
    }
}

G711Law LawOf(int type) { return (type == G711_A || type == G711_A_SWAP) ? G711Law::A : G711Law::Mu; }
bool IsSwapped(int type) { return type == G711_A_SWAP || type == G711_U_SWAP; }
bool IsMsbFirst(int type) { return type >= G726_16_MSB && type <= G726_40_MSB; }

int16_t TypeOf(const VoiceState *state) {
    int16_t type;
    std::memcpy(&type, state, sizeof(type));
    return type;
}

void SetType(VoiceState *state, int16_t type) { std::memcpy(state, &type, sizeof(type)); }

// A codec state with every byte zero, padding included, so that a reset
// writes only defined bytes into the caller's block.
template <class T>
T Cleared() {
    T codec;
    std::memset(&codec, 0, sizeof(T));
    return codec;
}

inline int32_t SignExtend16(int32_t v) { return static_cast<int16_t>(static_cast<uint16_t>(v)); }

// The G.726 state as stored; the code width always follows the type word.
// Every field is held to the width G.726 gives it, which leaves a state made
// by the coder as it is and keeps a damaged or foreign block from driving the
// arithmetic out of range.
G726State LoadG726(const VoiceState *state, int type) {
    G726State codec = Load<G726State>(state);
    codec.codeWidth = G726CodeWidth(type);
    codec.A1 = SignExtend16(codec.A1);
    codec.A2 = SignExtend16(codec.A2);
    for (int32_t &b : codec.B) b = SignExtend16(b);
    codec.AP &= 1023;
    codec.DML &= 16383;
    codec.DMS &= 4095;
    for (int32_t &dq : codec.DQ) dq &= 2047;
    codec.SR1 &= 2047;
    codec.SR2 &= 2047;
    codec.PK1 &= 1;
    codec.PK2 &= 1;
    codec.TD &= 1;
    // Adaptation keeps YL between 64 times the lowest and the highest YU.
    codec.YL = codec.YL < 34816 ? 34816 : codec.YL > 327680 ? 327680 : codec.YL;
    codec.YU = codec.YU < 544 ? 544 : codec.YU > 5120 ? 5120 : codec.YU;
    return codec;
}

// The 2-bit ADPCM state as stored, with its scale factors inside the range
// their adaptation keeps them in.
Adpcm2State LoadAdpcm2(const VoiceState *state) {
    Adpcm2State codec = Load<Adpcm2State>(state);
    codec.YU = codec.YU < 544 ? 544 : codec.YU > 5120 ? 5120 : codec.YU;
    codec.YL = codec.YL < 34816 ? 34816 : codec.YL > 327680 ? 327680 : codec.YL;
    codec.AP = codec.AP < 0 ? 0 : codec.AP > 512 ? 512 : codec.AP;
    return codec;
}

int32_t Reset(VoiceState *state, int16_t type, int32_t typeError) {
    if (!state) return VOICE_ERR_NULL_STATE;
    switch (FamilyOf(type)) {
        case Family::G711: break;
        case Family::Adpcm: {
            AdpcmState codec = Cleared<AdpcmState>();
            AdpcmReset(codec);
            Store(state, codec);
            break;
        }
        case Family::G726: {
            G726State codec = Cleared<G726State>();
            G726Reset(codec, G726CodeWidth(type));
            Store(state, codec);
            break;
        }
        case Family::Adpcm2: {
            Adpcm2State codec = Cleared<Adpcm2State>();
            Adpcm2Reset(codec);
            Store(state, codec);
            break;
        }
        case Family::None:
            SetType(state, type);
            return typeError;
    }
    SetType(state, type);
    return VOICE_OK;
}

}  // namespace

namespace velkorix::voice {

int EncodedFrameWords(int type, int samples) {
    if (samples <= 0 || samples > VOICE_MAX_SAMPLES) return -1;
    switch (FamilyOf(type)) {
        case Family::G711: return samples / 2;  // two codes per word
        case Family::G726: return samples * G726CodeWidth(type) / 16;
        case Family::Adpcm2: return samples / 8;  // eight 2-bit codes per word
        case Family::Adpcm: return AdpcmFrameLength(type, samples);
        case Family::None: break;
    }
    return -1;
}

int DecodableSamples(int type, int words) {
    auto unitFrame = [](int samples) { return samples <= VOICE_MAX_SAMPLES && samples % 80 == 0 ? samples : -1; };
    switch (FamilyOf(type)) {
        case Family::G711: return unitFrame(2 * words);
        case Family::G726: return unitFrame(16 * words / G726CodeWidth(type));
        case Family::Adpcm2: return unitFrame(8 * words);
        case Family::Adpcm: {
            // A frame of types 3 and 35 must hold its 2-word header.
            if (type != ADPCM_BARE && words < 2) return -1;
            const int samples = AdpcmFrameSamples(type, words);
            return samples <= VOICE_MAX_SAMPLES ? samples : -1;
        }
        case Family::None: break;
    }
    return -1;
}

}  // namespace velkorix::voice

extern "C" {

int32_t QX_VOICE_GetVersion(char *buffer) {
    if (!buffer) return VOICE_ERR_VERSION_BUFFER;
    std::memcpy(buffer, VOICE_VERSION_STRING, sizeof(VOICE_VERSION_STRING));
    return VOICE_OK;
}

int32_t QX_VOICE_EncReset(VoiceState *state, int16_t type) { return Reset(state, type, VOICE_ERR_ENC_TYPE); }

int32_t QX_VOICE_DecReset(VoiceState *state, int16_t type) { return Reset(state, type, VOICE_ERR_DEC_TYPE); }

int32_t QX_VOICE_EncodeFrame(VoiceState *state, const int16_t *pcm, VoiceFrame *frame, int16_t count) {
    if (!state) return VOICE_ERR_NULL_STATE;
    if (!pcm) return VOICE_ERR_NULL_INPUT;
    if (!frame) return VOICE_ERR_NULL_OUTPUT;
    if (count <= 0 || count > VOICE_MAX_SAMPLES) return VOICE_ERR_ENC_LEN;
    const int type = TypeOf(state);
    const Family family = FamilyOf(type);
    if (family == Family::None) return VOICE_ERR_ENC_TYPE;

    // The codec writes into a private frame that holds 481 samples of any
    // codec; the caller receives exactly the frame's 4 + 2 x length bytes.
    alignas(4) uint8_t buffer[VOICE_FRAME_MAX_BYTES + 4];
    int length = 0;
    switch (family) {
        case Family::G711: length = G711EncodeFrame(LawOf(type), IsSwapped(type), pcm, count, buffer); break;
        case Family::Adpcm: {
            AdpcmState codec = LoadAdpcm(state);
            length = AdpcmEncodeFrame(type, codec, pcm, count, buffer);
            Store(state, codec);
            break;
        }
        case Family::G726: {
            G726State codec = LoadG726(state, type);
            G726PackLsbFirst(codec, pcm, buffer + kFrameHeaderBytes, count);
            Store(state, codec);
            length = EncodedFrameWords(type, count);
            WriteFrameHeader(buffer, length);
            if (IsMsbFirst(type)) G726ReorderToMsb(buffer + kFrameHeaderBytes, codec.codeWidth, 2 * length);
            break;
        }
        case Family::Adpcm2: {
            Adpcm2State codec = LoadAdpcm2(state);
            length = Adpcm2EncodeFrame(codec, pcm, count, buffer);
            Store(state, codec);
            break;
        }
        case Family::None: break;
    }
    std::memcpy(frame, buffer, static_cast<std::size_t>(kFrameHeaderBytes + 2 * length));
    return VOICE_OK;
}

int32_t QX_VOICE_DecodeFrame(VoiceState *state, VoiceFrame *frame, int16_t *pcm, int16_t *count) {
    if (!state) return VOICE_ERR_NULL_STATE;
    if (!frame) return VOICE_ERR_NULL_INPUT;
    if (!pcm || !count) return VOICE_ERR_NULL_OUTPUT;
    *count = 0;
    uint8_t *bytes = reinterpret_cast<uint8_t *>(frame);
    const int flags = bytes[0] | bytes[1] << 8;
    if ((flags & 0x0300) != 0x0100) return VOICE_ERR_DEC_HEADER;
    const int length = bytes[2];  // byte 3 is never read
    if (length == 0) return VOICE_ERR_DEC_LEN;
    const int type = TypeOf(state);
    const Family family = FamilyOf(type);
    const int samples = DecodableSamples(type, length);
    if (family != Family::None && samples < 0) return VOICE_ERR_DEC_LEN;
    if (family == Family::None) return VOICE_ERR_DEC_TYPE;

    uint8_t *payload = bytes + kFrameHeaderBytes;
    switch (family) {
        case Family::G711: G711DecodePayload(LawOf(type), IsSwapped(type), payload, samples, pcm); break;
        case Family::Adpcm: {
            AdpcmState codec = LoadAdpcm(state);
            AdpcmDecodeFrame(type, codec, bytes, pcm);
            Store(state, codec);
            break;
        }
        case Family::G726: {
            G726State codec = LoadG726(state, type);
            if (IsMsbFirst(type)) G726ReorderToLsb(payload, codec.codeWidth, 2 * length);
            G726UnpackLsbFirst(codec, payload, pcm, 2 * length);
            Store(state, codec);
            break;
        }
        case Family::Adpcm2: {
            Adpcm2State codec = LoadAdpcm2(state);
            Adpcm2DecodePayload(codec, payload, length, pcm);
            Store(state, codec);
            break;
        }
        case Family::None: break;
    }
    *count = static_cast<int16_t>(samples);
    return VOICE_OK;
}

int32_t QX_VOICE_TransCodeReset(VoiceTransState *state, int16_t selector) {
    if (!state) return VOICE_ERR_TRANS_NULL_STATE;
    if (selector < TRANS_G711_A || selector > TRANS_ADPCM2) return VOICE_ERR_TRANS_TYPE;
    QX_VOICE_DecReset(&state->decoder, static_cast<int16_t>(selector - 32));
    QX_VOICE_EncReset(&state->encoder, static_cast<int16_t>(selector - 96));
    return VOICE_OK;
}

int32_t QX_VOICE_TransCodeFrame(VoiceTransState *state, VoiceFrame *frame) {
    if (!state) return VOICE_ERR_TRANS_NULL_STATE;
    if (!frame) return VOICE_ERR_NULL_INPUT;
    const int type = TypeOf(&state->encoder);
    if (type < G711_A || type > G726_16) return VOICE_ERR_TRANS_TYPE;
    uint8_t *bytes = reinterpret_cast<uint8_t *>(frame);
    if (type == G711_A || type == G711_U) {
        // The frame holds 4 + 2 x length bytes: exchange the bytes of each word.
        uint8_t *payload = bytes + kFrameHeaderBytes;
        for (int i = 0, n = bytes[2]; i < n; ++i) {
            const uint8_t first = payload[2 * i];
            payload[2 * i] = payload[2 * i + 1];
            payload[2 * i + 1] = first;
        }
        return VOICE_OK;
    }
    // Decode with the variant type, then encode with the plain one. A frame
    // the decoder rejects yields 0 samples, which the encoder rejects in turn,
    // so the frame stays as it was.
    int16_t pcm[VOICE_MAX_SAMPLES + 1];
    int16_t count = 0;
    QX_VOICE_DecodeFrame(&state->decoder, frame, pcm, &count);
    QX_VOICE_EncodeFrame(&state->encoder, pcm, frame, count);
    return VOICE_OK;
}

}  // extern "C"
