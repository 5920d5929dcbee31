// The peer libraries (spandsp, libavcodec, bcg729) behind small wrappers, so
// that the rows call every contender the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace bench::peer {

// ---- spandsp ----

// G.711: law 0 = A-law, 1 = µ-law.
void SpandspG711Encode(int law, const int16_t *pcm, uint8_t *codes, int count);
void SpandspG711Decode(int law, const uint8_t *codes, int16_t *pcm, int count);

// G.726 at `bitRate` with linear PCM, codes packed least significant bit
// first (RFC 3551) or unpacked (one code per byte).
class SpandspG726 {
public:
    SpandspG726(int bitRate, bool packed);
    ~SpandspG726();
    SpandspG726(const SpandspG726 &) = delete;
    SpandspG726 &operator=(const SpandspG726 &) = delete;
    void Reset();
    int Encode(const int16_t *pcm, uint8_t *codes, int samples);
    int Decode(const uint8_t *codes, int16_t *pcm, int bytes);

private:
    int bitRate_;
    bool packed_;
    void *state_;
};

// IMA ADPCM, the RFC 3551 DVI4 variant (codes two per byte, first sample in
// the high nibble), state carried across calls.
class SpandspImaAdpcm {
public:
    SpandspImaAdpcm();
    ~SpandspImaAdpcm();
    SpandspImaAdpcm(const SpandspImaAdpcm &) = delete;
    SpandspImaAdpcm &operator=(const SpandspImaAdpcm &) = delete;
    void Reset();
    int Encode(const int16_t *pcm, uint8_t *codes, int samples);
    int Decode(const uint8_t *codes, int16_t *pcm, int bytes);

private:
    void *state_;
};

// ---- libavcodec ----

// One libavcodec audio decoder producing 16-bit mono samples at 8 kHz.
class AvDecoder {
public:
    enum class Codec { G726Le, G729 };
    // bitsPerCode: 2..5 for G.726, ignored for G.729.
    AvDecoder(Codec codec, int bitsPerCode);
    ~AvDecoder();
    AvDecoder(const AvDecoder &) = delete;
    AvDecoder &operator=(const AvDecoder &) = delete;
    bool Ok() const { return context_ != nullptr; }
    // Reopens the decoder with fresh state.
    void Reset();
    // Decodes one packet (the caller keeps `bytes` readable plus 64 bytes of
    // padding) and appends the samples at `out`; returns the samples written.
    int Decode(const uint8_t *packet, int bytes, int16_t *out);

private:
    void Open();
    void Close();
    Codec codec_;
    int bitsPerCode_;
    void *context_ = nullptr;
    void *packet_ = nullptr;
    void *frame_ = nullptr;
};

// ---- bcg729 ----

class Bcg729Decoder {
public:
    Bcg729Decoder();
    ~Bcg729Decoder();
    Bcg729Decoder(const Bcg729Decoder &) = delete;
    Bcg729Decoder &operator=(const Bcg729Decoder &) = delete;
    void Reset();
    void DecodeFrame(const uint8_t frame[10], int16_t pcm[80]);

private:
    void *state_;
};

// Encodes 80-sample frames of `pcm` into 10-byte G.729 frames (no VAD).
std::vector<uint8_t> Bcg729Encode(const std::vector<int16_t> &pcm);

}  // namespace bench::peer
