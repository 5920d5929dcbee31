#include "g729_support.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace g729test {
namespace {

constexpr uint16_t kSyncWord = 0x6B21;
constexpr uint16_t kBitCount = 80;
constexpr uint16_t kOne = 0x0081;
constexpr uint16_t kZero = 0x007F;
constexpr std::size_t kWordsPerFrame = 2 + kBitCount;

void PutLe32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

std::string VectorsDir() { return std::string(VELKORIX_SOURCE_DIR) + "/tests/data/g729a"; }

std::vector<uint8_t> ReadFile(const std::string &path) {
    std::vector<uint8_t> bytes;
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return bytes;
    uint8_t buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(f);
    return bytes;
}

bool WriteFile(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

std::vector<int16_t> ReadPcm(const std::string &path) {
    const std::vector<uint8_t> bytes = ReadFile(path);
    std::vector<int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8));
    return samples;
}

ItuBitstream ParseItuBitstream(const std::vector<uint8_t> &bytes) {
    ItuBitstream result;
    const std::size_t frameBytes = 2 * kWordsPerFrame;
    auto word = [&](std::size_t at) { return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8); };
    std::size_t at = 0;
    for (; at + frameBytes <= bytes.size(); at += frameBytes) {
        if (word(at) != kSyncWord || word(at + 2) != kBitCount) {
            result.error = "no frame header at byte " + std::to_string(at);
            return result;
        }
        Frame frame{};
        for (int k = 0; k < kBitCount; ++k) {
            const uint16_t w = word(at + 4 + 2 * k);
            if (w == kOne) frame[k / 8] |= static_cast<uint8_t>(0x80u >> (k % 8));
            else if (w != kZero) ++result.erasedBits;
        }
        result.frames.push_back(frame);
    }
    if (at != bytes.size()) result.error = "partial frame at byte " + std::to_string(at);
    return result;
}

ItuBitstream ReadItuBitFile(const std::string &path) { return ParseItuBitstream(ReadFile(path)); }

std::vector<uint8_t> MakeItuBitstream(const std::vector<Frame> &frames) {
    std::vector<uint8_t> bytes;
    auto put = [&](uint16_t w) {
        bytes.push_back(static_cast<uint8_t>(w));
        bytes.push_back(static_cast<uint8_t>(w >> 8));
    };
    for (const Frame &frame : frames) {
        put(kSyncWord);
        put(kBitCount);
        for (int k = 0; k < kBitCount; ++k) put((frame[k / 8] >> (7 - k % 8)) & 1 ? kOne : kZero);
    }
    return bytes;
}

std::vector<uint8_t> MakeFormat3Stream(const std::vector<Frame> &frames, LastRecord last) {
    std::vector<uint8_t> stream;
    for (std::size_t first = 0; first < frames.size(); first += 4) {
        const std::size_t held = std::min<std::size_t>(4, frames.size() - first);
        const std::size_t payload = last == LastRecord::Short ? held * kG729FrameBytes : 4 * kG729FrameBytes;
        uint8_t header[18] = {};
        header[13] = 3;
        PutLe32(header + 14, static_cast<uint32_t>(payload));
        stream.insert(stream.end(), header, header + sizeof(header));
        for (std::size_t k = 0; k < held; ++k) stream.insert(stream.end(), frames[first + k].begin(), frames[first + k].end());
        stream.resize(stream.size() + (payload - held * kG729FrameBytes), 0);
    }
    return stream;
}

Frame Pack(const int32_t (&params)[kG729ParameterCount]) {
    Frame f{};
    int bit = 0;
    for (int i = 0; i < kG729ParameterCount; ++i)
        for (int b = kWidths[i] - 1; b >= 0; --b, ++bit)
            if ((params[i] >> b) & 1) f[bit / 8] |= static_cast<uint8_t>(0x80u >> (bit % 8));
    return f;
}

int32_t GoodParity(int32_t p1) {
    int ones = 0;
    for (int b = 2; b < 8; ++b) ones += (p1 >> b) & 1;
    return (ones + 1) & 1;
}

std::vector<int16_t> DecodeFrames(const std::vector<Frame> &frames) {
    std::vector<int16_t> out;
    out.reserve(frames.size() * kG729FrameSamples);
    G729Decoder *d = G729Decoder_Create();
    if (!d) return out;
    for (const Frame &frame : frames) {
        std::memcpy(d->inputFrame, frame.data(), kG729FrameBytes);
        G729Decoder_DecodeFrame(d);
        out.insert(out.end(), d->outputPcm, d->outputPcm + kG729FrameSamples);
    }
    G729Decoder_Destroy(d);
    return out;
}

double SnrDb(const std::vector<int16_t> &reference, const std::vector<int16_t> &output) {
    const std::size_t n = std::min(reference.size(), output.size());
    double signal = 0.0, noise = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double r = reference[i];
        const double e = r - output[i];
        signal += r * r;
        noise += e * e;
    }
    if (noise == 0.0) return 200.0;
    return 10.0 * std::log10(signal / noise);
}

DiagnosticCapture::DiagnosticCapture() { G729SetDiagnosticSink(&DiagnosticCapture::Sink, this, &previous_, &previousContext_); }

DiagnosticCapture::~DiagnosticCapture() { G729SetDiagnosticSink(previous_, previousContext_); }

void DiagnosticCapture::Sink(void *context, const char *text) {
    auto *self = static_cast<DiagnosticCapture *>(context);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->messages_.emplace_back(text);
}

std::vector<std::string> DiagnosticCapture::Messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
}

int DiagnosticCapture::Count(const std::string &text) const {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (const auto &m : messages_) n += m == text;
    return n;
}

void DiagnosticCapture::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.clear();
}

}  // namespace g729test
