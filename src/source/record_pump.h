// What a stream source delivers, free of any platform type: the index of a
// framed stream file built when the file is opened (headers only, through
// the stream layer's reader), the plan of a run from a seek position (which
// records go out, which of them as preroll, with which time stamps), the
// bytes of a record as one sample, and how a run ends. The Windows source
// filter (VelkorixSource.ax) drives it from its streaming thread; the tests
// and the fuzz target drive it natively.
//
// Times are reference time (100 ns units) at the stream's rate and channel
// count; a record's time is that of its first output sample in the whole
// decode (stream::StreamIndex::TimeOf). A run's time stamps are relative to
// its segment: the first record delivered as it is starts at 0, preroll
// records before it have negative times.
//
// Seeking lands on a record boundary: the record that holds the time asked
// for (or, where that record's output starts inside a sample frame, the
// nearest record before it whose output starts on a frame). The decoders
// carry state from record to record (G.726 and G.729 adapt, the held
// decoder stays in place across records of one format), so a record decoded
// without the records before it gives other samples than the whole decode.
// A run that does not begin at the start of the stream therefore delivers
// records before it as preroll: the decoder decodes them from a fresh state
// (the run's first sample announces the media type, which makes the
// decoding filter reset its codec context) and the renderer drops them, and
// the first record delivered as it is decodes to exactly the samples of the
// whole decode. The preroll starts at the latest record that decodes alike
// from a fresh decoder (a change of codec, where the filter starts a fresh
// one in the whole decode too, or a record of a codec that keeps no state
// across records; stream::DecodeStartFor), so nothing decoded before it
// reaches the output; a pump that is not told what decoder each format
// selects prerolls from the start of the stream, which is exact for any
// filter.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stream/byte_source.h"
#include "stream/scanner.h"
#include "stream/stream_index.h"

namespace velkorix::source {

// Reference time: 10^7 units a second.
inline constexpr int64_t kUnitsPerSecond = 10000000;

// Payload bytes one sample carries at most. A longer record goes out with
// its header as it is (declaring its whole length) and the first this many
// payload bytes: no decoder takes more than a few ten thousand bytes of one
// payload (the decoding filter's output buffer of 100000 bytes bounds every
// format), so the samples decode as the whole record would, and a hostile
// record of a gigabyte does not make the source ask for gigabyte buffers.
inline constexpr int32_t kMaxSamplePayload = 1 << 20;

// Records a stream may hold: the index keeps 32 bytes a record, so this
// bounds it to 128 MiB (some 46 hours of 40 ms records). A file with more
// is refused when it is opened.
inline constexpr std::size_t kMaxRecords = std::size_t{1} << 22;

// The PCM the stream decodes to: 16-bit samples at `rate` frames a second
// in `channels` channels (the tool's defaults: 8000 Hz mono).
struct PcmFormat {
    int rate = 8000;
    int channels = 1;

    int BlockAlign() const { return 2 * channels; }
    bool Valid() const { return rate >= 1 && rate <= 768000 && channels >= 1 && channels <= 16; }
};

enum class LoadResult {
    Ok,            // at least one complete record
    Empty,         // the file holds no byte
    NoRecord,      // the file holds bytes but no complete record (the stream is damaged at once)
    ReadError,     // the file could not be read
    TooManyRecords,  // more than kMaxRecords records
    OutOfMemory,   // the index could not be kept
};

// The records one run delivers: [prerollFrom, first) as preroll, then
// [first, end) as they are.
struct Segment {
    std::size_t prerollFrom = 0;
    std::size_t first = 0;
    std::size_t end = 0;
    int64_t start = 0;  // segment start: the time of record `first`
    int64_t stop = 0;   // segment stop: the stop position

    std::size_t PrerollCount() const { return first - prerollFrom; }
    std::size_t Count() const { return end - prerollFrom; }
};

// One sample of a run.
struct Delivery {
    std::size_t record = 0;
    bool preroll = false;
    // The run's first sample: a discontinuity, and it announces the media
    // type (so the decoder starts from a fresh state).
    bool first = false;
    int64_t start = 0, stop = 0;  // relative to the segment start
};

// How a run ends: always with end of stream; with damage to report when the
// run reached a damaged end of the stream or a record could not be read as
// it was indexed (then `end` names that record's offset and why).
struct Ending {
    bool damaged = false;
    stream::StreamEnd end;
};

// A record read as a sample's bytes.
struct RecordRead {
    bool ok = false;
    uint32_t bytes = 0;     // header and payload bytes placed in the buffer
    stream::StreamEnd failure;  // when not ok: why the record cannot be delivered
};

class RecordPump {
public:
    // `decoderOf` tells what decoder the decoding filter selects for each
    // format; null makes every seek preroll from the start of the stream.
    explicit RecordPump(stream::DecoderOfFormat decoderOf = nullptr) : decoderOf_(decoderOf) {}

    // Indexes the stream `source` holds from its current position, reading
    // headers and passing over payloads; at most `maxRecords` records.
    // Replaces what was loaded before; on any result but Ok the pump holds
    // nothing. A format that is not Valid() is taken as the default.
    LoadResult Load(stream::ByteSource &source, PcmFormat format, std::size_t maxRecords = kMaxRecords);

    bool Loaded() const { return loaded_; }
    const stream::StreamIndex &Index() const { return index_; }
    std::size_t RecordCount() const { return index_.Records().size(); }
    PcmFormat Format() const { return format_; }

    // The duration of the whole decode and the time of a record's first
    // sample (RecordCount() gives the duration).
    int64_t Duration() const { return TimeOf(RecordCount()); }
    int64_t TimeOf(std::size_t record) const;

    // Bytes of the sample that carries `record`, and of the largest one: the
    // buffer size a run needs.
    uint32_t SampleBytes(std::size_t record) const;
    uint32_t LargestSample() const { return largestSample_; }

    // The run from position `current` to `stop` (reference time, clamped to
    // [0, Duration()]): `first` is the record the position lands on (0 for
    // a position at or before the start, RecordCount() for one at or beyond
    // the end), `end` the first record from there that starts at or after
    // `stop` (RecordCount() for a stop at the end), and a run that starts
    // past the first record and before the end prerolls from where decoding
    // must start for it (record 0 without a decoder map).
    Segment Plan(int64_t current, int64_t stop) const;

    // The sample `delivery` number `n` of `segment` (n < segment.Count()).
    Delivery DeliveryAt(const Segment &segment, std::size_t n) const;

    // Reads record `record` from `source` into `buffer` (`capacity` bytes,
    // at least SampleBytes(record)): its header and payload up to
    // kMaxSamplePayload bytes. Fails when the source no longer holds the
    // record as it was indexed: it ends before the record does (HeaderCut,
    // PayloadCut), its header changed, or the source fails (ReadError). Reads
    // nothing beyond the record.
    RecordRead Read(stream::ByteSource &source, std::size_t record, uint8_t *buffer, std::size_t capacity) const;

    // How a run of `segment` ends when every one of its records went out:
    // damaged when it reached the end of a stream that is damaged there.
    Ending EndOf(const Segment &segment) const;
    // How a run ends when `record` could not be read (`read` says why).
    static Ending EndAfterFailure(const RecordRead &read);

private:
    stream::DecoderOfFormat decoderOf_;
    stream::StreamIndex index_;
    PcmFormat format_;
    uint32_t largestSample_ = 0;
    bool loaded_ = false;
};

}  // namespace velkorix::source
