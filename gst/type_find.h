// Recognising a framed stream by its structure, without GStreamer: records
// that chain from the first byte, each header's payload length leading to
// the next header, with format bytes the filter decodes. Used by the plugin's
// type finder and driven directly by the fuzz target and the tests.
#pragma once

#include <cstdint>

namespace velkorix::gst {

// Returns `size` bytes at stream offset `offset`, or null when they are not
// all available (beyond the end, or not yet arrived).
using PeekFunction = const uint8_t *(*)(void *context, uint64_t offset, uint32_t size);

// Bounds of the look: records checked, and how far into the input.
inline constexpr int kTypeFindRecords = 32;
inline constexpr uint64_t kTypeFindBytes = 8u << 20;
// A payload longer than this is taken as a sign of something else: no
// record of a decodable format comes near it (the filter's output buffer
// holds 100000 bytes, at most 50000 payload bytes of any format).
inline constexpr int32_t kTypeFindLongestPayload = 1 << 20;

struct TypeFindResult {
    int probability = 0;  // 0 (not a framed stream) to 100, as GStreamer's type finders rate
    int records = 0;      // records confirmed: followed by a sound header or by the end of the input
    int decodable = 0;    // of those, records of a format the filter decodes with a payload
    bool wholeInput = false;  // the records cover the input exactly, to its known end
};

// Looks at the stream through `peek`; `length` is the input's size in bytes,
// 0 when unknown.
//
// A record counts once the next header follows it (a non-negative payload
// length no longer than kTypeFindLongestPayload) or the input ends exactly
// after it. The first record must be of a decodable format (one the filter's
// format table maps to a codec) with a payload; records of other formats,
// and empty ones, are allowed in between but must stay fewer than half the
// decodable ones, so that a run of zero bytes (a chain of empty records) is
// not taken for a stream. The probability grows with the records confirmed:
// 20 for one, 40, 60, 75 for two to four, 90 for five to seven, 99 from
// eight on; records that cover the whole input give 80 for one and 100 for
// two or more.
TypeFindResult FindStreamType(PeekFunction peek, void *context, uint64_t length);

}  // namespace velkorix::gst
