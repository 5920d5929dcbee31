// A fixed set of calls of the seven QX_VOICE_ functions covering every codec
// type, the transcoding selectors and the failure paths, written to one byte
// record: every result code, frame and decoded sample in call order. The
// native library (tests/tools/voice_vectors) and Velkorix.ax through
// GetProcAddress (tests/win/voice_test) must write the same bytes.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "velkorix/qx_voice.h"

namespace vtest {

struct VoiceApi {
    decltype(&QX_VOICE_GetVersion) getVersion = nullptr;
    decltype(&QX_VOICE_EncReset) encReset = nullptr;
    decltype(&QX_VOICE_DecReset) decReset = nullptr;
    decltype(&QX_VOICE_EncodeFrame) encodeFrame = nullptr;
    decltype(&QX_VOICE_DecodeFrame) decodeFrame = nullptr;
    decltype(&QX_VOICE_TransCodeReset) transCodeReset = nullptr;
    decltype(&QX_VOICE_TransCodeFrame) transCodeFrame = nullptr;
};

class VoiceRecord {
public:
    void Code(int32_t value) { Put32(static_cast<uint32_t>(value)); }
    void Bytes(const void *data, size_t size) {
        Put32(static_cast<uint32_t>(size));
        const auto *p = static_cast<const uint8_t *>(data);
        bytes.insert(bytes.end(), p, p + size);
    }
    void Frame(const VoiceFrame &frame) { Bytes(&frame, 4 + 2 * static_cast<size_t>(frame.length)); }
    std::vector<uint8_t> bytes;

private:
    void Put32(uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
};

// Speech-like test signal: two tones with a slow envelope and a little noise
// from a fixed generator, in plain integer arithmetic.
inline std::vector<int16_t> VoiceSignal(size_t count) {
    std::vector<int16_t> pcm(count);
    uint32_t noise = 12345;
    int32_t a = 0, b = 0;
    for (size_t i = 0; i < count; ++i) {
        a = (a + 1433) % 65536;  // ~175 Hz at 8 kHz
        b = (b + 9011) % 65536;  // ~1.1 kHz
        const int32_t triangleA = a < 32768 ? a - 16384 : 49151 - a;
        const int32_t triangleB = b < 32768 ? b - 16384 : 49151 - b;
        noise = noise * 1103515245u + 12345u;
        const int32_t envelope = static_cast<int32_t>((i / 40) % 64);
        int32_t v = (triangleA * envelope) / 40 + triangleB / 6 + static_cast<int32_t>((noise >> 16) & 0x3FF) - 512;
        if (i % 997 == 0) v = (i / 997) % 2 ? 32767 : -32768;  // full-scale peaks
        pcm[i] = static_cast<int16_t>(v < -32768 ? -32768 : v > 32767 ? 32767 : v);
    }
    return pcm;
}

inline void RunVoiceVectors(const VoiceApi &api, VoiceRecord &out) {
    const int16_t types[] = {G711_A,  G711_U,      ADPCM_PRED,  G726_16,     G726_24,     G726_32,
                             G726_40, ADPCM_FIRST, G726_16_MSB, G726_24_MSB, G726_32_MSB, G726_40_MSB,
                             G711_A_SWAP, G711_U_SWAP, ADPCM_BARE, ADPCM2_LINEAR};
    const int16_t counts[] = {80, 160, 240, 320, 480, 481, 81, 1, 17, 400};
    const std::vector<int16_t> signal = VoiceSignal(8000);

    char version[VOICE_VERSION_BYTES + 8];
    std::memset(version, 0x55, sizeof(version));
    out.Code(api.getVersion(version));
    out.Bytes(version, sizeof(version));
    out.Code(api.getVersion(nullptr));

    static VoiceState encoder, decoder;
    for (int16_t type : types) {
        std::memset(&encoder, 0, sizeof(encoder));
        std::memset(&decoder, 0, sizeof(decoder));
        out.Code(api.encReset(&encoder, type));
        out.Code(api.decReset(&decoder, type));
        size_t at = 0;
        for (int round = 0; round < 3; ++round) {
            for (int16_t count : counts) {
                if (at + static_cast<size_t>(count) > signal.size()) at = 0;
                VoiceFrame frame;
                std::memset(&frame, 0xAA, sizeof(frame));
                out.Code(api.encodeFrame(&encoder, signal.data() + at, &frame, count));
                out.Frame(frame);
                at += static_cast<size_t>(count);
                int16_t pcm[VOICE_MAX_SAMPLES + 8];
                std::memset(pcm, 0x33, sizeof(pcm));
                int16_t decoded = -7;
                out.Code(api.decodeFrame(&decoder, &frame, pcm, &decoded));
                out.Code(decoded);
                out.Bytes(pcm, sizeof(int16_t) * (decoded > 0 ? static_cast<size_t>(decoded) : 0));
                out.Frame(frame);  // MSB-first types are rewritten in place
            }
        }
        // Damaged frames: flags, zero length, a length the type refuses.
        VoiceFrame frame;
        std::memset(&frame, 0, sizeof(frame));
        out.Code(api.encodeFrame(&encoder, signal.data(), &frame, 160));
        int16_t pcm[VOICE_MAX_SAMPLES + 8];
        int16_t decoded = -7;
        VoiceFrame bad = frame;
        bad.flags[1] = 0x03;
        out.Code(api.decodeFrame(&decoder, &bad, pcm, &decoded));
        out.Code(decoded);
        bad = frame;
        bad.flags[0] = 0x01;  // further flag bits are ignored
        out.Code(api.decodeFrame(&decoder, &bad, pcm, &decoded));
        out.Code(decoded);
        bad = frame;
        bad.length = 0;
        out.Code(api.decodeFrame(&decoder, &bad, pcm, &decoded));
        bad = frame;
        bad.length = 121;
        out.Code(api.decodeFrame(&decoder, &bad, pcm, &decoded));
        out.Code(decoded);
        // Sample counts outside 1..481.
        out.Code(api.encodeFrame(&encoder, signal.data(), &frame, 0));
        out.Code(api.encodeFrame(&encoder, signal.data(), &frame, 482));
    }

    // Types outside the table, and null pointers.
    VoiceFrame frame;
    int16_t pcm[VOICE_MAX_SAMPLES + 8];
    int16_t decoded = 0;
    for (int16_t type : {int16_t{0}, int16_t{8}, int16_t{34}, int16_t{69}, int16_t{-1}}) {
        out.Code(api.encReset(&encoder, type));
        out.Code(api.encodeFrame(&encoder, signal.data(), &frame, 160));
        out.Code(api.decReset(&decoder, type));
        frame = VoiceFrame{};
        frame.flags[1] = 0x01;
        frame.length = 40;
        out.Code(api.decodeFrame(&decoder, &frame, pcm, &decoded));
    }
    out.Code(api.encReset(nullptr, G711_A));
    out.Code(api.decReset(nullptr, G711_A));
    out.Code(api.encodeFrame(nullptr, signal.data(), &frame, 80));
    out.Code(api.encodeFrame(&encoder, nullptr, &frame, 80));
    out.Code(api.encodeFrame(&encoder, signal.data(), nullptr, 80));
    out.Code(api.decodeFrame(nullptr, &frame, pcm, &decoded));
    out.Code(api.decodeFrame(&decoder, nullptr, pcm, &decoded));
    out.Code(api.decodeFrame(&decoder, &frame, nullptr, &decoded));
    out.Code(api.decodeFrame(&decoder, &frame, pcm, nullptr));

    // Transcoding each variant into its plain type.
    static VoiceTransState trans;
    struct {
        int16_t selector, variant;
    } const transcodes[] = {{TRANS_G711_A, G711_A_SWAP}, {TRANS_G711_U, G711_U_SWAP}, {TRANS_ADPCM, ADPCM_BARE},
                            {TRANS_ADPCM2, ADPCM2_LINEAR}};
    for (const auto &t : transcodes) {
        std::memset(&trans, 0, sizeof(trans));
        out.Code(api.transCodeReset(&trans, t.selector));
        std::memset(&encoder, 0, sizeof(encoder));
        out.Code(api.encReset(&encoder, t.variant));
        size_t at = 0;
        for (int16_t count : {int16_t{160}, int16_t{80}, int16_t{320}, int16_t{480}, int16_t{160}}) {
            VoiceFrame variant;
            std::memset(&variant, 0, sizeof(variant));
            out.Code(api.encodeFrame(&encoder, signal.data() + at, &variant, count));
            at += static_cast<size_t>(count);
            out.Code(api.transCodeFrame(&trans, &variant));
            out.Frame(variant);
        }
    }
    out.Code(api.transCodeReset(&trans, 101));
    out.Code(api.transCodeReset(nullptr, TRANS_G711_A));
    out.Code(api.transCodeFrame(nullptr, &frame));
    out.Code(api.transCodeFrame(&trans, nullptr));
}

}  // namespace vtest
