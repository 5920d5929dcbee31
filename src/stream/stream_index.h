// The index of a framed stream: per record its byte offset, format, declared
// length, the output bytes it yields and where its output starts in the whole
// decode, and how the stream ended. Built from the structure alone (payloads
// are passed over, not read), on load by a source that seeks, or record by
// record by a push-mode parser. Time stamps follow from the output position
// at a given rate and channel count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "stream/byte_source.h"
#include "stream/frame_format.h"
#include "stream/scanner.h"

namespace velkorix::stream {

struct IndexEntry {
    uint64_t offset = 0;        // byte offset of the record's header
    uint64_t outputOffset = 0;  // output bytes of every record before this one
    int32_t length = 0;         // declared payload length
    int32_t outputBytes = 0;    // output bytes the filter delivers for it
    uint8_t format = 0;

    // First output sample of the record, counted over all channels from the
    // start of the stream. (A record's output may end in the middle of a
    // sample: the rule gives odd byte counts for some lengths.)
    uint64_t FirstSample() const { return outputOffset / kBytesPerSample; }
    uint64_t Size() const { return kHeaderSize + static_cast<uint64_t>(length); }
};

class StreamIndex {
public:
    // Indexes the stream that `source` delivers from its current position,
    // passing over the payloads with the source's Skip.
    static StreamIndex Build(ByteSource &source);
    static StreamIndex Build(const uint8_t *data, std::size_t size);

    // Building record by record: each complete record in stream order, then
    // how the stream ended.
    void Add(const RecordInfo &record);
    void SetEnd(const StreamEnd &end) { end_ = end; }

    const std::vector<IndexEntry> &Records() const { return records_; }
    const StreamEnd &End() const { return end_; }

    // Output bytes and whole samples of the stream (its complete records; a
    // byte left over at the very end makes no sample).
    uint64_t OutputBytes() const { return outputBytes_; }
    uint64_t Samples() const { return outputBytes_ / kBytesPerSample; }

    // The record whose output holds sample `sample` (where a sample spans two
    // records, the first; records that yield no output are passed over);
    // Records().size() for a sample at or beyond Samples().
    std::size_t RecordAtSample(uint64_t sample) const;
    // The record whose output holds the sample at `time` (in units of which
    // `unitsPerSecond` make a second) at `rate` and `channels`.
    std::size_t RecordAtTime(int64_t time, int rate, int channels, int64_t unitsPerSecond) const;
    // Start time of record `record` (or the end of the stream for
    // Records().size()) in such units.
    int64_t TimeOf(std::size_t record, int rate, int channels, int64_t unitsPerSecond) const;

private:
    std::vector<IndexEntry> records_;
    uint64_t outputBytes_ = 0;
    StreamEnd end_;
};

// What the decoding filter does with a record of a given format: the
// decoder it selects (a codec type number, or -1 for a format it does not
// decode: it keeps the decoder it holds) and whether that decoder carries
// state from one record to the next. The stream layer knows no codecs: the
// host passes the filter's map.
struct FormatDecoder {
    int type = -1;
    bool carriesState = true;
};
using DecoderOfFormat = FormatDecoder (*)(uint8_t format);

// Where decoding must start for the output of record `target` and after to
// equal the whole decode: the latest record at or before it that decodes the
// same from a fresh decoder as in the whole decode, and whose output begins
// on a whole sample frame of `bytesPerFrame` bytes (an odd output length
// earlier shifts every later sample by a byte, which only the earlier output
// can supply). A record decodes the same from a fresh decoder when the
// filter starts one there anyway (the first record, or one whose format maps
// to another codec type than the last decodable record before it) or when
// its decoder carries no state across records. Record 0 always qualifies;
// with a null `decoderOf` it is the answer.
std::size_t DecodeStartFor(const StreamIndex &index, std::size_t target, int bytesPerFrame,
                           DecoderOfFormat decoderOf);

// Reads the record structure that `source` delivers, passing over payloads,
// and calls `onRecord` for every complete record in order; returns how the
// stream ended. What StreamIndex::Build does without keeping the entries,
// for a summary of a stream of any size.
StreamEnd WalkRecords(ByteSource &source, const std::function<void(const RecordInfo &)> &onRecord);

}  // namespace velkorix::stream
