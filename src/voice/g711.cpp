#include "voice/g711.h"

#include <array>
#include <bit>

#include "voice/voice_frame.h"

namespace velkorix::voice {
namespace {

// Reconstruction value of an A-law code on the 13-bit scale, times 8.
constexpr int16_t AlawValue(int code) {
    const int c = code ^ 0x55;
    const int segment = (c >> 4) & 7;
    const int mantissa = c & 15;
    const int magnitude = segment == 0 ? 2 * mantissa + 1 : (2 * mantissa + 33) << (segment - 1);
    return static_cast<int16_t>((c & 0x80) ? magnitude * 8 : -magnitude * 8);
}

// Reconstruction value of a mu-law code on the 14-bit scale, times 4.
constexpr int16_t UlawValue(int code) {
    const int c = ~code & 0xFF;
    const int segment = (c >> 4) & 7;
    const int mantissa = c & 15;
    const int magnitude = ((2 * mantissa + 33) << segment) - 33;
    return static_cast<int16_t>((c & 0x80) ? -magnitude * 4 : magnitude * 4);
}

template <int16_t (*Value)(int)>
constexpr std::array<int16_t, 256> ExpansionTable() {
    std::array<int16_t, 256> table{};
    for (int code = 0; code < 256; ++code) table[code] = Value(code);
    return table;
}

// Segment of a non-negative magnitude whose segment 0 holds values below
// 2^`firstBits`, each later segment being twice as wide.
inline int Segment(int v, int firstBits) {
    const int segment = static_cast<int>(std::bit_width(static_cast<unsigned>(v))) - firstBits;
    return segment > 0 ? segment : 0;
}

template <G711Law law>
inline uint8_t Encode(int16_t x) {
    return law == G711Law::A ? G711AlawEncode(x) : G711UlawEncode(x);
}

template <G711Law law, bool swapped>
void EncodePairs(const int16_t *pcm, int pairs, uint8_t *payload) {
    for (int i = 0; i < pairs; ++i) {
        const uint8_t first = Encode<law>(pcm[2 * i]);
        const uint8_t second = Encode<law>(pcm[2 * i + 1]);
        payload[2 * i] = swapped ? second : first;
        payload[2 * i + 1] = swapped ? first : second;
    }
}

}  // namespace

constexpr std::array<int16_t, 256> kAlawToLinear = ExpansionTable<AlawValue>();
constexpr std::array<int16_t, 256> kUlawToLinear = ExpansionTable<UlawValue>();
static_assert(kAlawToLinear[0xD5] == 8 && kAlawToLinear[0x55] == -8 && kAlawToLinear[0xAA] == 32256 &&
              kAlawToLinear[0x2A] == -32256);
static_assert(kUlawToLinear[0xFF] == 0 && kUlawToLinear[0x7F] == 0 && kUlawToLinear[0x80] == 32124 &&
              kUlawToLinear[0x00] == -32124);

uint8_t G711AlawEncode(int16_t x) {
    int v = x >> 3;  // 13-bit value
    int mask = 0xD5;
    if (x < 0) {
        mask = 0x55;
        v = -v - 1;  // ones' complement
    }
    const int segment = Segment(v, 5);
    if (segment >= 8) return static_cast<uint8_t>(0x7F ^ mask);
    const int shift = segment > 1 ? segment : 1;
    return static_cast<uint8_t>(((segment << 4) | ((v >> shift) & 0x0F)) ^ mask);
}

uint8_t G711UlawEncode(int16_t x) {
    int v = x >> 2;  // 14-bit value
    int mask = 0xFF;
    if (x < 0) {
        mask = 0x7F;
        v = -v;
    }
    if (v > 8159) v = 8159;
    v += 33;
    const int segment = Segment(v, 6);
    if (segment >= 8) return static_cast<uint8_t>(0x7F ^ mask);
    return static_cast<uint8_t>(((segment << 4) | ((v >> (segment + 1)) & 0x0F)) ^ mask);
}

int G711EncodeFrame(G711Law law, bool swapped, const int16_t *pcm, int count, uint8_t *frame) {
    const int pairs = count / 2;
    WriteFrameHeader(frame, pairs);
    uint8_t *payload = frame + kFrameHeaderBytes;
    if (law == G711Law::A) {
        if (swapped)
            EncodePairs<G711Law::A, true>(pcm, pairs, payload);
        else
            EncodePairs<G711Law::A, false>(pcm, pairs, payload);
    } else {
        if (swapped)
            EncodePairs<G711Law::Mu, true>(pcm, pairs, payload);
        else
            EncodePairs<G711Law::Mu, false>(pcm, pairs, payload);
    }
    return pairs;
}

void G711DecodePayload(G711Law law, bool swapped, const uint8_t *payload, int count, int16_t *pcm) {
    const int16_t *table = law == G711Law::A ? kAlawToLinear.data() : kUlawToLinear.data();
    if (!swapped) {
        for (int i = 0; i < count; ++i) pcm[i] = table[payload[i]];
        return;
    }
    for (int i = 0; i + 1 < count; i += 2) {
        pcm[i] = table[payload[i + 1]];
        pcm[i + 1] = table[payload[i]];
    }
}

}  // namespace velkorix::voice
