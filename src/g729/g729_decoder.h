// G.729 Annex A speech decoder (CS-ACELP, 8 kbit/s) in 32-bit floating point:
// one 10-byte frame (80 bits, 10 ms) decodes to 80 signed 16-bit samples at
// 8 kHz. The decoder is a plain record with free functions; every inter-frame
// memory lives in the record, so frames must be decoded in stream order.
//
// Blocks of the decoder, one unit each:
//   g729_state.cpp       the record, its creation with the reset values, release
//   g729_lsp.cpp         LSP decoding and interpolation to LP coefficients
//   g729_excitation.cpp  pitch delay, adaptive and fixed codebooks, gains
//   g729_synthesis.cpp   LP synthesis, adaptive post-filter, high-pass filter
//   g729_frame.cpp       bit reader, frame unpacking, the per-frame driver
//   g729_diagnostics.cpp the hook through which the decoder reports warnings
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace velkorix::g729 {

inline constexpr int kG729FrameBytes = 10;        // one frame: 80 bits
inline constexpr int kG729FrameSamples = 80;      // 10 ms at 8 kHz
inline constexpr int kG729SubframeSamples = 40;   // two subframes per frame
inline constexpr int kG729LpcOrder = 10;          // LP order M
inline constexpr int kG729ParameterCount = 11;    // parameters of one frame
inline constexpr int kG729MinPitchLag = 20;       // smallest integer lag of the subframe-2 window
inline constexpr int kG729MaxPitchLag = 143;      // largest pitch delay
// Past excitation kept before the current frame: the largest delay (143),
// one more for the 2/3 fraction reached through subframe 2 (144 - 1/3), and
// the 10 taps of the interpolation filter.
inline constexpr int kG729ExcitationPast = 154;
// Past post-filter residual kept before the current subframe.
inline constexpr int kG729ResidualPast = 143;

// Reads a frame as one bit string, most significant bit of byte 0 first. It
// takes the bytes of the frame in 32-bit words but never reads past the end
// it is given: bytes beyond it count as zero.
struct G729BitReader {
    uint32_t currentWord;        // the word being read; its first byte is most significant
    uint32_t nextWord;           // the word after it
    int32_t bitPosition;         // bits of currentWord already consumed (0..31)
    uint32_t wordOffset;         // byte offset of the word after nextWord
    const uint8_t *frame;        // the frame being read
    uint32_t length;             // its bytes; bytes past them read as zero
};

// Starts `reader` on `length` bytes at `frame`.
void G729BitReaderStart(G729BitReader *reader, const uint8_t *frame, std::size_t length);
// The next `bits` (1..32) bits of the string as an unsigned number, first bit
// most significant.
uint32_t G729BitReaderRead(G729BitReader *reader, int bits);

// The decoder record. Field order matters: `synthHistory` lies directly before
// `synth` so that synth[-10..-1] are the last samples of the previous frame,
// and the excitation and residual histories hold their past samples directly
// before the current ones, so past samples are reached by negative offsets.
struct G729Decoder {
    int16_t outputPcm[kG729FrameSamples];          // samples of the last decoded frame
    float synthHistory[kG729LpcOrder];             // last 10 unfiltered synthesis samples of the previous frame
    float synth[kG729FrameSamples];                // synthesis, then post-filter output, then high-pass output
    int32_t params[kG729ParameterCount];           // unpacked parameters; [3] = parity error (0 or 1)
    float lpcCoeffs[2][kG729LpcOrder + 1];         // a[0..10] of subframe 1 and 2, a[0] = 1
    int32_t pitchLags[2];                          // integer pitch delay of subframe 1 and 2
    float hpX1, hpX2, hpY1, hpY2;                  // high-pass filter: last two inputs and outputs
    float lsfHistory[4][kG729LpcOrder];            // MA predictor memory, newest row first
    float pastQuantEnergy[4];                      // quantized fixed-codebook energies (dB), newest first
    float excitationHistory[kG729ExcitationPast + kG729FrameSamples];  // past, then the current frame
    float lspOld[kG729LpcOrder];                   // LSPs of the previous frame (cosine domain)
    float synthMemory[kG729LpcOrder];              // memory of 1/A(z), oldest first
    float sharpness;                               // pitch sharpening factor
    int32_t previousPitchLag;                      // delay taken when the pitch parity fails
    float gainCode;                                // fixed-codebook gain of the last subframe
    float gainPitch;                               // adaptive-codebook gain of the last subframe
    float agcGain;                                 // post-filter gain control factor
    uint8_t inputFrame[kG729FrameBytes];           // the frame to decode next
    float tiltMemory;                              // memory of the tilt compensation filter
    float residualHistory[kG729ResidualPast + kG729SubframeSamples];  // past, then the current subframe
    float postSynthMemory[kG729LpcOrder];          // memory of the post-filter's 1/A(z/0.7), oldest first
    G729BitReader *bitReader;                      // owned
};

static_assert(offsetof(G729Decoder, outputPcm) == 0, "outputPcm opens the record");
static_assert(offsetof(G729Decoder, synth) == offsetof(G729Decoder, synthHistory) + sizeof(float) * kG729LpcOrder,
              "synthHistory lies directly before synth");

// ---- Creation and release (g729_state.cpp) ----

// A new decoder holding the reset values; null when the heap fails.
G729Decoder *G729Decoder_Create();
// Releases the bit reader, then the record. Null is ignored.
void G729Decoder_Destroy(G729Decoder *decoder);

// ---- Frame decoding (g729_frame.cpp) ----

// Bound of the excitation guard. The adaptive codebook feeds the excitation
// back into itself: pitch gains above 1 (the gain codebook reaches 1.36)
// repeated over many subframes make it grow without end, until the float
// filters reach infinity and every later frame decodes to nothing. The guard
// holds each excitation sample to this bound. It lies far beyond what the
// decoding of any real stream reaches (the ITU conformance streams peak near
// 1.4e6, 57 dB below it), so it never acts on one; and it keeps the signals
// after it, which the synthesis filter of a reachable LP vector amplifies by
// up to about 1e5, far below the 1e18 where the post-filter's energies (sums
// of 40 squares) would leave the float range. The memories are short, so
// about twenty frames after such a stream ends the decoder gives the output
// of a fresh one again.
inline constexpr float kG729ExcitationBound = 1.0e9f;

// Decodes the 10 bytes in `inputFrame` into the 80 samples of `outputPcm`.
// Every bit pattern is a frame; the answer is always 10, the bytes consumed.
int32_t G729Decoder_DecodeFrame(G729Decoder *decoder);
// The same with another bound of the excitation guard; infinity decodes with
// no guard at all (the tests compare the two).
int32_t G729DecodeFrameWithExcitationBound(G729Decoder *decoder, float excitationBound);

// Unpacks `inputFrame` into `params` and replaces params[3] by the pitch
// parity result (0 holds, 1 error). Steps 1-3 of the frame driver.
void G729UnpackFrame(G729Decoder *decoder);
// Parity check of the first subframe's pitch index: 0 when its six most
// significant bits and `parity` hold an odd number of ones, else 1.
int32_t G729PitchParityError(int32_t pitchIndex, int32_t parity);
// Conversion of one filtered value to a 16-bit sample: halves round away from
// zero, the 16-bit range saturates, and a value that is not a number gives 0
// (the float filters run unchecked; the conversion must stay defined).
inline int16_t G729ToPcm(float value) {
    // Written with selects rather than branches so that a frame of
    // conversions runs as vector code; the not-a-number test looks at the
    // bits for the same reason. Rounding happens in double, so that values
    // just below a half are not pushed over it.
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    const bool notANumber = (bits & 0x7FFFFFFFu) > 0x7F800000u;
    double rounded = static_cast<double>(value) + std::copysign(0.5, static_cast<double>(value));
    rounded = rounded < -32768.0 ? -32768.0 : rounded;
    rounded = rounded > 32767.0 ? 32767.0 : rounded;
    rounded = notANumber ? 0.0 : rounded;
    return static_cast<int16_t>(static_cast<int32_t>(rounded));
}

// ---- LSP decoding (g729_lsp.cpp) ----

// Decodes this frame's LSPs (cosine domain) from params[0] and params[1] and
// moves the MA predictor memory on. Reports "warning LSP Low \n" and
// "warning LSP High \n" through the diagnostics hook when a clamp fires.
void G729DecodeLsp(G729Decoder *decoder, float lsp[kG729LpcOrder]);
// Fills both rows of `lpcCoeffs` (subframe 1 from the midpoint with lspOld,
// subframe 2 from `lsp`) and then makes `lsp` the new lspOld.
void G729InterpolateLpc(G729Decoder *decoder, const float lsp[kG729LpcOrder]);
// LP coefficients a[0..10] (a[0] = 1) of an LSP vector in the cosine domain.
void G729LspToLpc(const float lsp[kG729LpcOrder], float a[kG729LpcOrder + 1]);
// The stability steps applied to decoded LSFs (radians), in place: one
// ordering pass, the low limit, the minimum distance, the high limit.
void G729StabilizeLsf(float lsf[kG729LpcOrder]);

// ---- Excitation (g729_excitation.cpp) ----

struct G729PitchDelay {
    int32_t integer;   // T0
    int32_t fraction;  // -1, 0 or +1 thirds
};
// Subframe 1: from the 8-bit index, or `previousPitchLag` without a fraction
// when the parity check failed.
G729PitchDelay G729DecodePitchDelay1(int32_t index, int32_t parityError, int32_t previousPitchLag);
// Subframe 2: from the 5-bit index relative to subframe 1's integer delay.
G729PitchDelay G729DecodePitchDelay2(int32_t index, int32_t firstLag);
// Writes the adaptive-codebook vector (interpolated past excitation at the
// given delay) over `exc[0..39]`; exc[-154..-1] must be the past excitation.
void G729AdaptiveCodebook(float *exc, G729PitchDelay delay);
// The fixed-codebook vector of four unit pulses from a 13-bit position index
// and a 4-bit sign index.
void G729FixedCodebook(int32_t positions, int32_t signs, float code[kG729SubframeSamples]);
// Decodes subframe 0 or 1 into its 40 places of `excitationHistory`,
// storing its integer delay in `pitchLags` and updating the sharpness, the
// energy predictor memory and the two gains; subframe 1 also stores its delay
// as `previousPitchLag`. `code`, when given, receives the sharpened
// fixed-codebook vector. The excitation samples are held to +-`bound` (the
// excitation guard).
void G729DecodeSubframeExcitation(G729Decoder *decoder, int subframe, float *code = nullptr,
                                  float bound = kG729ExcitationBound);

// ---- Synthesis and post-processing (g729_synthesis.cpp) ----

// All-pole filtering of n samples of x through 1/A(z) into y (may be the same
// buffer): y[k] = x[k] - sum a[i] y[k-i], the outputs before the block coming
// from `memory` (oldest first). With `updateMemory`, the memory takes the last
// 10 outputs afterwards. n is at most 80.
void G729AllPoleFilter(const float a[kG729LpcOrder + 1], const float *x, float *y, int n,
                       float memory[kG729LpcOrder], bool updateMemory);
// Synthesizes subframe 0 or 1 of the excitation into `synth`.
void G729SynthesizeSubframe(G729Decoder *decoder, int subframe);
// Delay range of the pitch post-filter's search around T0.
void G729PostFilterDelayRange(int32_t pitchLag, int32_t *tmin, int32_t *tmax);
// Pitch post-filter of one subframe's residual r (r[-143..-1] its past) into
// p: searches tmin..tmax for the largest correlation (ties keep the smaller
// delay) and returns the delay it kept.
int32_t G729PitchPostFilter(const float *r, int32_t tmin, int32_t tmax, float p[kG729SubframeSamples]);
// Post-filters the 80 samples of `synth` in place.
void G729PostFilter(G729Decoder *decoder);
// One step of the high-pass post-processing filter.
float G729HighPass(G729Decoder *decoder, float value);
// The output step of a frame: every sample of `synth` through the high-pass
// filter, in order, the result stored back into `synth` and converted into
// `outputPcm`.
void G729HighPassFrame(G729Decoder *decoder);

// ---- Diagnostics (g729_diagnostics.cpp) ----

inline constexpr char kG729LspLowWarning[] = "warning LSP Low \n";
inline constexpr char kG729LspHighWarning[] = "warning LSP High \n";

using G729DiagnosticSink = void (*)(void *context, const char *text);

// Sends one warning text to the current sink. The default sink writes the text
// to standard output.
void G729Diagnostic(const char *text);
// Installs the sink for every later warning of every decoder; a null sink
// restores the default (standard output). The previous sink and context come
// back through the optional out pointers.
void G729SetDiagnosticSink(G729DiagnosticSink sink, void *context, G729DiagnosticSink *previous = nullptr,
                           void **previousContext = nullptr);
// A sink that writes to the stdio stream given as context (for example stderr).
void G729StreamSink(void *context, const char *text);

}  // namespace velkorix::g729
