// What the GStreamer elements need of a framed stream, without GStreamer:
// splitting bytes that arrive in chunks of any size into records (the stream
// layer's scanner does the splitting, the stream index keeps what was seen),
// the time stamps of a record's output, and where decoding must begin so that
// the output after a seek equals the whole decode from that point on.
// Kept apart from the elements so that the fuzz target and the tests drive
// exactly this code.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stream/scanner.h"
#include "stream/stream_index.h"

namespace velkorix::gst {

inline constexpr int64_t kNanosecondsPerSecond = 1000000000;

// Start and length of a record's output in nanoseconds at `rate` sample
// frames per second and `channels` channels: from the first sample of its
// output to the first sample of the next record's (a record with no output,
// or with less than a whole frame, may last 0).
struct RecordTimes {
    uint64_t pts = 0;
    uint64_t duration = 0;
};
RecordTimes TimesOf(const stream::IndexEntry &entry, int rate, int channels);

// Duration of the whole output of the indexed records.
uint64_t DurationOf(const stream::StreamIndex &index, int rate, int channels);

// Splits a stream that arrives in chunks into records and indexes them as
// they complete. After a seek of the byte source to an indexed record
// (RestartAt), records already indexed are met again and checked against
// the index; records beyond it extend the index.
class RecordSplitter {
public:
    enum class Event {
        NeedMore,  // every byte given was taken
        Record,    // a record is complete: Step::record is its index entry
        Ended,     // the stream cannot go on: End() says where and why
    };
    struct Step {
        std::size_t consumed = 0;  // bytes taken from the chunk given
        Event event = Event::NeedMore;
        std::size_t record = 0;
    };

    // Takes bytes up to and including the next record's end; call again with
    // the rest of the chunk.
    Step Feed(const uint8_t *data, std::size_t size);

    // The input has ended; returns how the stream ended.
    const stream::StreamEnd &Finish();

    // Continues at indexed record `record` (Records().size(): after the last
    // indexed record), for a source that was moved to OffsetOf(record).
    // False for a record beyond that.
    bool RestartAt(std::size_t record);
    uint64_t OffsetOf(std::size_t record) const;

    const stream::StreamIndex &Index() const { return index_; }
    // How the stream ended, once Ended() or Complete().
    const stream::StreamEnd &End() const { return index_.End(); }
    bool Ended() const { return scanner_.Ended(); }
    // True once the end of the stream was seen: the index holds every record.
    bool Complete() const { return complete_; }
    // Stream offset of the next byte to feed.
    uint64_t Position() const { return scanner_.Position(); }
    // Index of the next record to complete.
    std::size_t Next() const { return next_; }

private:
    Step Take(std::size_t consumed);

    stream::Scanner scanner_;
    stream::StreamIndex index_;
    std::size_t next_ = 0;
    bool complete_ = false;
};

}  // namespace velkorix::gst
