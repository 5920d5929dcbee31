// IMA ADPCM in the three frame layouts of voice types 3 (ADPCM_PRED),
// 35 (ADPCM_FIRST) and 67 (ADPCM_BARE).
#pragma once

#include <cstdint>

namespace velkorix::voice {

struct AdpcmState {
    int16_t predictor;  // last reconstructed sample
    uint8_t stepIndex;  // 0..88
};

extern const int16_t kImaStepSize[89];
extern const int8_t kImaIndexAdjust[16];

inline void AdpcmReset(AdpcmState &state) {
    state.predictor = 0;
    state.stepIndex = 0;
}

// One sample through the IMA ADPCM coder.
int AdpcmEncodeSample(AdpcmState &state, int x);
int16_t AdpcmDecodeSample(AdpcmState &state, int code);

// Payload words of the type's frame for `count` samples, and samples carried
// by a frame of `length` words (negative for a frame without its header).
int AdpcmFrameLength(int type, int count);
int AdpcmFrameSamples(int type, int length);

// Writes a whole frame (flags, length, payload) for `count` samples (1..481)
// of `type`; the state advances over all of them. Returns the length in words.
int AdpcmEncodeFrame(int type, AdpcmState &state, const int16_t *pcm, int count, uint8_t *frame);

// Decodes a frame that passed the length rule (at least the 2-word header for
// types 3 and 35). Reads only the frame's declared payload; the frame is not
// modified. Returns the number of samples written.
int AdpcmDecodeFrame(int type, AdpcmState &state, const uint8_t *frame, int16_t *pcm);

// The payload of a type-35 frame of `words` words (at least 2) without its
// frame header: the first sample and step index, then 4 x (words - 2) codes.
// The state is set from the payload's header. Returns the samples written.
int AdpcmDecodeFirstPayload(AdpcmState &state, const uint8_t *payload, int words, int16_t *pcm);

}  // namespace velkorix::voice
