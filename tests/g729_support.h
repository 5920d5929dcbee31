// Helpers of the G.729 tests: the ITU serial bitstream reader, framed
// format-3 streams, direct decoding, and signal comparison.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "support/generators.h"
#include "g729/g729_decoder.h"

namespace g729test {

using namespace velkorix::g729;
namespace g729 = velkorix::g729;

using Frame = std::array<uint8_t, kG729FrameBytes>;

// Directory of the ITU G.729 Annex A vectors carried in the repository
// (tests/data/g729a of the source tree).
std::string VectorsDir();

// An ITU serial bitstream (.bit): per frame a sync word 0x6B21, the bit count
// 80, then one 16-bit word per bit (0x0081 one, 0x007F zero; any other word,
// such as 0x0000 for an erased bit, reads as zero). Frames pack most
// significant bit first into 10 bytes.
struct ItuBitstream {
    std::vector<Frame> frames;
    long erasedBits = 0;     // words that were neither a one nor a zero
    std::string error;       // empty when the whole file parsed
};
ItuBitstream ParseItuBitstream(const std::vector<uint8_t> &bytes);
ItuBitstream ReadItuBitFile(const std::string &path);
// The inverse: frames as an ITU serial bitstream.
std::vector<uint8_t> MakeItuBitstream(const std::vector<Frame> &frames);

std::vector<uint8_t> ReadFile(const std::string &path);
bool WriteFile(const std::string &path, const std::vector<uint8_t> &bytes);
std::vector<int16_t> ReadPcm(const std::string &path);  // 16-bit little-endian

// How the last record of a format-3 stream is completed when the frame count
// is not a multiple of four.
enum class LastRecord {
    // Filled up to four frames with frames of ten zero bytes, so every record
    // declares the usual 40 bytes; the samples they decode to come after the
    // real frames' samples and are not part of the comparison.
    PadWithZeroFrames,
    // Declares only the bytes of the frames it holds (10, 20 or 30); the
    // filter decodes those and delivers silence for the rest of the sample.
    Short,
};

// Records of an 18-byte header (audio format 3 at byte 13, payload length at
// bytes 14..17, little-endian) and a payload of four packed frames.
std::vector<uint8_t> MakeFormat3Stream(const std::vector<Frame> &frames,
                                       LastRecord last = LastRecord::PadWithZeroFrames);

// Widths of the 11 parameters of a frame, in frame order.
inline constexpr int kWidths[kG729ParameterCount] = {8, 10, 8, 1, 13, 4, 7, 5, 13, 4, 7};
// Packs the 11 parameters most significant bit first.
Frame Pack(const int32_t (&params)[kG729ParameterCount]);
// The parity bit that makes the pitch index of subframe 1 pass the check.
int32_t GoodParity(int32_t p1);

// Decodes frames one after the other through one fresh decoder.
std::vector<int16_t> DecodeFrames(const std::vector<Frame> &frames);

// 10 log10(sum ref^2 / sum (ref - out)^2) over the common length; 200 dB
// when the two are identical.
double SnrDb(const std::vector<int16_t> &reference, const std::vector<int16_t> &output);

using velkorix::test::Lcg;

// Captures what the decoder reports through its diagnostics hook while it
// lives, and restores the previous sink afterwards.
class DiagnosticCapture {
public:
    DiagnosticCapture();
    ~DiagnosticCapture();
    DiagnosticCapture(const DiagnosticCapture &) = delete;
    DiagnosticCapture &operator=(const DiagnosticCapture &) = delete;
    std::vector<std::string> Messages() const;
    int Count(const std::string &text) const;
    void Clear();

private:
    static void Sink(void *context, const char *text);
    mutable std::mutex mutex_;
    std::vector<std::string> messages_;
    G729DiagnosticSink previous_ = nullptr;
    void *previousContext_ = nullptr;
};

}  // namespace g729test
