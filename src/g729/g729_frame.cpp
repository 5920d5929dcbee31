// The per-frame driver: the bit reader, unpacking of the 11 parameters, the
// pitch parity check, the decoder stages in order, and the conversion of the
// filtered signal to 16-bit samples.
#include <cstring>

#include "g729/g729_decoder.h"

namespace velkorix::g729 {

namespace {

// Widths of the 11 parameters in frame order: L0+L1, L2+L3, P1, P0, C1, S1,
// GA1+GB1, P2, C2, S2, GA2+GB2 (80 bits).
constexpr int kParameterBits[kG729ParameterCount] = {8, 10, 8, 1, 13, 4, 7, 5, 13, 4, 7};

// Loads the next 32-bit word, first byte most significant; bytes past the
// end of the frame count as zero and are not read.
uint32_t LoadWord(G729BitReader *reader) {
    uint32_t word = 0;
    for (uint32_t k = 0; k < 4; ++k) {
        const uint32_t at = reader->wordOffset + k;
        const uint32_t byte = at < reader->length ? reader->frame[at] : 0u;
        word |= byte << (24 - 8 * k);
    }
    reader->wordOffset += 4;
    return word;
}

}  // namespace

void G729BitReaderStart(G729BitReader *reader, const uint8_t *frame, std::size_t length) {
    reader->frame = frame;
    reader->length = length > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(length);
    reader->wordOffset = 0;
    reader->bitPosition = 0;
    reader->currentWord = LoadWord(reader);
    reader->nextWord = LoadWord(reader);
}

uint32_t G729BitReaderRead(G729BitReader *reader, int bits) {
    const uint64_t window = static_cast<uint64_t>(reader->currentWord) << 32 | reader->nextWord;
    const uint32_t value = static_cast<uint32_t>((window << reader->bitPosition) >> (64 - bits));
    reader->bitPosition += bits;
    if (reader->bitPosition >= 32) {
        reader->currentWord = reader->nextWord;
        reader->nextWord = LoadWord(reader);
        reader->bitPosition -= 32;
    }
    return value;
}

int32_t G729PitchParityError(int32_t pitchIndex, int32_t parity) {
    int32_t sum = 1 + (parity & 1);
    for (int bit = 2; bit < 8; ++bit) sum += (pitchIndex >> bit) & 1;
    return sum & 1;
}

void G729UnpackFrame(G729Decoder *d) {
    G729BitReader *reader = d->bitReader;
    G729BitReaderStart(reader, d->inputFrame, kG729FrameBytes);
    for (int i = 0; i < kG729ParameterCount; ++i)
        d->params[i] = static_cast<int32_t>(G729BitReaderRead(reader, kParameterBits[i]));
    d->params[3] = G729PitchParityError(d->params[2], d->params[3]);
}

int32_t G729Decoder_DecodeFrame(G729Decoder *d) { return G729DecodeFrameWithExcitationBound(d, kG729ExcitationBound); }

int32_t G729DecodeFrameWithExcitationBound(G729Decoder *d, float excitationBound) {
    G729UnpackFrame(d);

    float lsp[kG729LpcOrder];
    G729DecodeLsp(d, lsp);
    G729InterpolateLpc(d, lsp);

    for (int subframe = 0; subframe < 2; ++subframe) {
        G729DecodeSubframeExcitation(d, subframe, nullptr, excitationBound);
        G729SynthesizeSubframe(d, subframe);
    }
    std::memmove(d->excitationHistory, d->excitationHistory + kG729FrameSamples,
                 sizeof(float) * kG729ExcitationPast);

    G729PostFilter(d);
    G729HighPassFrame(d);
    return kG729FrameBytes;
}

}  // namespace velkorix::g729
