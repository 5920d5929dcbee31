// The voice codecs' frame-size rule: the words of the frame an encoder
// writes for a number of samples, the samples a decoder takes from a frame of
// a number of words, and from the two whether a frame size carries all its
// samples through encoding and decoding. QX_VOICE_EncodeFrame and
// QX_VOICE_DecodeFrame size frames by these functions; hosts (the
// command-line tool) ask them instead of restating the codecs' rules.
// Internal to the library: nothing here is exported.
#pragma once

namespace velkorix::voice {

// Payload words of the frame an encoder of `type` writes for `samples`
// samples, or -1 when the encoder refuses (unknown type, count not 1..481).
int EncodedFrameWords(int type, int samples);

// Samples a decoder of `type` takes from a frame of `words` payload words
// (1..255), or -1 when it rejects that length.
int DecodableSamples(int type, int words);

// True when frames of `samples` samples come back from decoding with every
// sample: the encoder accepts the count and the decoder takes exactly that
// many samples from the frame written.
inline bool FrameKeepsAllSamples(int type, int samples) {
    const int words = EncodedFrameWords(type, samples);
    return words > 0 && DecodableSamples(type, words) == samples;
}

}  // namespace velkorix::voice
