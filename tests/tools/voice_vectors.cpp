// Writes the voice-library record of tests/win/voice_vectors.h made with the
// native library, for comparison with Velkorix.ax under wine.
//   voice_vectors OUT
#include <cstdio>

#include "voice_vectors.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: voice_vectors OUT\n");
        return 2;
    }
    vtest::VoiceApi api;
    api.getVersion = &QX_VOICE_GetVersion;
    api.encReset = &QX_VOICE_EncReset;
    api.decReset = &QX_VOICE_DecReset;
    api.encodeFrame = &QX_VOICE_EncodeFrame;
    api.decodeFrame = &QX_VOICE_DecodeFrame;
    api.transCodeReset = &QX_VOICE_TransCodeReset;
    api.transCodeFrame = &QX_VOICE_TransCodeFrame;
    vtest::VoiceRecord record;
    vtest::RunVoiceVectors(api, record);
    FILE *out = std::fopen(argv[1], "wb");
    if (!out || std::fwrite(record.bytes.data(), 1, record.bytes.size(), out) != record.bytes.size() ||
        std::fclose(out) != 0) {
        std::fprintf(stderr, "voice_vectors: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
