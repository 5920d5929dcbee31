// The framed stream: records back to back, each an 18-byte header followed
// by the payload it declares. This is what the decoding filter takes on its
// input pin (one record per input sample) and what a captured stream file
// holds. Everything that needs the record layout or the output a record
// yields takes it from here: the filter, the tool, and the stream readers.
//
// Header layout (little-endian):
//   bytes 0-12   not read by the decoder (what the producer puts there is
//                its own business; the tool's pack command writes zeros)
//   byte  13     audio format
//   bytes 14-17  payload length, a signed 32-bit number
//   bytes 18-    payload
//
// Header-only and free of any platform type, so that both module builds and
// every reader can use it.
#pragma once

#include <cstdint>

namespace velkorix::stream {

inline constexpr int kHeaderSize = 18;
inline constexpr int kFormatOffset = 13;
inline constexpr int kLengthOffset = 14;

// The one output buffer the decoding filter asks for: no record yields more.
inline constexpr int32_t kOutputBufferBytes = 100000;

// Output samples are 16-bit.
inline constexpr int kBytesPerSample = 2;

struct RecordHeader {
    uint8_t format = 0;
    int32_t length = 0;  // as declared; a negative length is damage
};

constexpr int32_t ReadLength(const uint8_t *header) {
    const uint8_t *p = header + kLengthOffset;
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

constexpr uint8_t ReadFormat(const uint8_t *header) { return header[kFormatOffset]; }

// Reads the fields of a header of kHeaderSize bytes.
constexpr RecordHeader ParseHeader(const uint8_t *header) { return {ReadFormat(header), ReadLength(header)}; }

// Writes a header: bytes 0-12 zero, the format, the length.
constexpr void WriteHeader(uint8_t *header, uint8_t format, int32_t length) {
    for (int i = 0; i < kFormatOffset; ++i) header[i] = 0;
    header[kFormatOffset] = format;
    const uint32_t v = static_cast<uint32_t>(length);
    for (int i = 0; i < 4; ++i) header[kLengthOffset + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Output bytes the filter reports for a record of `format` declaring `length`
// payload bytes, before the output buffer bounds it: 640 (320 samples) for
// G.729 and IMA ADPCM records, one sample per payload byte for G.711, and
// length x 16 / 3 (truncated toward zero) for every other format. The rule
// looks at the declared length only, not at what the payload holds.
constexpr int64_t OutputLengthRule(uint8_t format, int32_t length) {
    switch (format) {
        case 3:
        case 6: return 640;
        case 1:
        case 2: return 2 * static_cast<int64_t>(length);
        default: return static_cast<int64_t>(length) * 16 / 3;
    }
}

// Output bytes the filter delivers for such a record into an output buffer
// of `capacity` bytes: the rule, never below 0 nor beyond the buffer.
constexpr int32_t OutputBytes(uint8_t format, int32_t length, int32_t capacity = kOutputBufferBytes) {
    const int64_t bytes = OutputLengthRule(format, length);
    return bytes < 0 ? 0 : bytes > capacity ? capacity : static_cast<int32_t>(bytes);
}

// Time of output sample `sample` (counted over all channels) at `rate`
// sample frames per second and `channels` channels, in units of which
// `unitsPerSecond` make a second (10^7 for DirectShow reference time, 10^9
// for nanoseconds). Exact for any sample count a file can hold.
constexpr int64_t SampleTime(uint64_t sample, int rate, int channels, int64_t unitsPerSecond) {
    if (rate <= 0 || channels <= 0) return 0;
    const uint64_t frames = sample / static_cast<uint64_t>(channels);
    const uint64_t r = static_cast<uint64_t>(rate);
    const uint64_t units = static_cast<uint64_t>(unitsPerSecond);
    return static_cast<int64_t>(frames / r * units + frames % r * units / r);
}

}  // namespace velkorix::stream
