// Where a codec family's state lives inside a caller's VoiceState block: the
// type word at byte 0, the family's state from byte 4. Blocks are read and
// written through memcpy only, so their alignment does not matter.
#pragma once

#include <cstddef>
#include <cstring>

#include "velkorix/qx_voice.h"
#include "voice/adpcm.h"

namespace velkorix::voice {

inline constexpr std::size_t kCodecOffset = 4;

template <class T>
T Load(const VoiceState *state) {
    T codec;
    std::memcpy(&codec, reinterpret_cast<const unsigned char *>(state) + kCodecOffset, sizeof(T));
    return codec;
}

template <class T>
void Store(VoiceState *state, const T &codec) {
    std::memcpy(reinterpret_cast<unsigned char *>(state) + kCodecOffset, &codec, sizeof(T));
}

// The IMA ADPCM state as stored, with its step index kept inside the table.
inline AdpcmState LoadAdpcm(const VoiceState *state) {
    AdpcmState codec = Load<AdpcmState>(state);
    if (codec.stepIndex > 88) codec.stepIndex = 88;
    return codec;
}

}  // namespace velkorix::voice
