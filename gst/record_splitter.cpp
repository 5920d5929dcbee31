#include "record_splitter.h"

#include <string>

namespace velkorix::gst {

RecordTimes TimesOf(const stream::IndexEntry &entry, int rate, int channels) {
    const uint64_t first = entry.FirstSample();
    const uint64_t end = (entry.outputOffset + static_cast<uint64_t>(entry.outputBytes)) / stream::kBytesPerSample;
    RecordTimes times;
    times.pts = static_cast<uint64_t>(stream::SampleTime(first, rate, channels, kNanosecondsPerSecond));
    const uint64_t stop = static_cast<uint64_t>(stream::SampleTime(end, rate, channels, kNanosecondsPerSecond));
    times.duration = stop - times.pts;
    return times;
}

uint64_t DurationOf(const stream::StreamIndex &index, int rate, int channels) {
    return static_cast<uint64_t>(stream::SampleTime(index.Samples(), rate, channels, kNanosecondsPerSecond));
}

RecordSplitter::Step RecordSplitter::Feed(const uint8_t *data, std::size_t size) {
    std::size_t used = 0;
    for (;;) {
        const stream::Scanner::Step step = scanner_.Feed(data + used, size - used);
        used += step.consumed;
        switch (step.event) {
            case stream::Scanner::Event::Header: continue;  // its payload follows
            case stream::Scanner::Event::Record: return Take(used);
            case stream::Scanner::Event::NeedMore: return {used, Event::NeedMore, 0};
            case stream::Scanner::Event::Damaged:
                index_.SetEnd(scanner_.End());
                complete_ = true;
                return {used, Event::Ended, 0};
        }
    }
}

RecordSplitter::Step RecordSplitter::Take(std::size_t consumed) {
    const stream::RecordInfo &record = scanner_.Current();
    const auto &records = index_.Records();
    if (next_ < records.size()) {
        // Met again after a restart: the bytes must be those indexed.
        const stream::IndexEntry &known = records[next_];
        if (known.offset != record.offset || known.format != record.format || known.length != record.length) {
            index_.SetEnd(scanner_.Fail("the record at byte offset " + std::to_string(record.offset) +
                                        " differs from the one read there before: the input changed"));
            complete_ = true;
            return {consumed, Event::Ended, 0};
        }
    } else {
        index_.Add(record);
    }
    return {consumed, Event::Record, next_++};
}

const stream::StreamEnd &RecordSplitter::Finish() {
    index_.SetEnd(scanner_.Finish());
    complete_ = true;
    return index_.End();
}

uint64_t RecordSplitter::OffsetOf(std::size_t record) const {
    const auto &records = index_.Records();
    if (record < records.size()) return records[record].offset;
    return records.empty() ? 0 : records.back().offset + records.back().Size();
}

bool RecordSplitter::RestartAt(std::size_t record) {
    if (record > index_.Records().size()) return false;
    scanner_.Restart(OffsetOf(record));
    next_ = record;
    return true;
}

}  // namespace velkorix::gst
