#include "source/record_pump.h"

#include <algorithm>
#include <new>

#include "stream/frame_format.h"
#include "stream/record_reader.h"

namespace velkorix::source {

LoadResult RecordPump::Load(stream::ByteSource &source, PcmFormat format, std::size_t maxRecords) {
    index_ = stream::StreamIndex();
    loaded_ = false;
    largestSample_ = 0;
    format_ = format.Valid() ? format : PcmFormat{};

    LoadResult result = LoadResult::Ok;
    try {
        stream::StreamIndex index;
        stream::RecordReader reader(source);
        std::size_t records = 0;
        while (reader.NextHeader() == stream::RecordReader::Status::Record) {
            if (++records > maxRecords) {
                result = LoadResult::TooManyRecords;
                break;
            }
            index.Add(reader.Current());
        }
        if (result == LoadResult::Ok) {
            index.SetEnd(reader.End());
            index_ = std::move(index);
        }
    } catch (const std::bad_alloc &) {
        index_ = stream::StreamIndex();
        result = LoadResult::OutOfMemory;
    }
    if (result != LoadResult::Ok) return result;

    const stream::StreamEnd &end = index_.End();
    if (end.kind == stream::StreamEnd::Kind::ReadError) result = LoadResult::ReadError;
    else if (index_.Records().empty()) result = end.kind == stream::StreamEnd::Kind::Clean ? LoadResult::Empty : LoadResult::NoRecord;
    if (result != LoadResult::Ok) {
        index_ = stream::StreamIndex();
        return result;
    }
    for (std::size_t k = 0; k < index_.Records().size(); ++k) largestSample_ = std::max(largestSample_, SampleBytes(k));
    loaded_ = true;
    return LoadResult::Ok;
}

int64_t RecordPump::TimeOf(std::size_t record) const {
    return index_.TimeOf(std::min(record, RecordCount()), format_.rate, format_.channels, kUnitsPerSecond);
}

uint32_t RecordPump::SampleBytes(std::size_t record) const {
    if (record >= RecordCount()) return 0;
    const int32_t length = index_.Records()[record].length;
    return static_cast<uint32_t>(stream::kHeaderSize) + static_cast<uint32_t>(std::min(length, kMaxSamplePayload));
}

Segment RecordPump::Plan(int64_t current, int64_t stop) const {
    const std::size_t count = RecordCount();
    const int64_t duration = Duration();
    current = std::clamp<int64_t>(current, 0, duration);
    stop = std::clamp<int64_t>(stop, 0, duration);

    Segment segment;
    if (current <= 0) {
        segment.first = 0;
    } else if (current >= duration) {
        segment.first = count;
    } else {
        segment.first = index_.RecordAtTime(current, format_.rate, format_.channels, kUnitsPerSecond);
        // Resume on a whole sample frame: a record whose output begins inside
        // a frame (odd byte counts of the output rule) would shift every
        // later sample.
        const uint64_t align = static_cast<uint64_t>(format_.BlockAlign());
        while (segment.first > 0 && segment.first < count && index_.Records()[segment.first].outputOffset % align != 0)
            --segment.first;
    }
    segment.start = TimeOf(segment.first);
    segment.stop = stop;

    if (stop >= duration) {
        segment.end = count;
    } else {
        // The records that start before the stop position go out.
        std::size_t low = segment.first, high = count;
        while (low < high) {
            const std::size_t middle = low + (high - low) / 2;
            if (TimeOf(middle) < stop)
                low = middle + 1;
            else
                high = middle;
        }
        segment.end = low;
    }
    // Preroll from the latest record that decodes alike from a fresh decoder
    // (the start of the stream without a decoder map).
    segment.prerollFrom = segment.first > 0 && segment.first < count
                              ? stream::DecodeStartFor(index_, segment.first, format_.BlockAlign(), decoderOf_)
                              : segment.first;
    return segment;
}

Delivery RecordPump::DeliveryAt(const Segment &segment, std::size_t n) const {
    Delivery delivery;
    delivery.record = segment.prerollFrom + n;
    delivery.preroll = delivery.record < segment.first;
    delivery.first = n == 0;
    delivery.start = TimeOf(delivery.record) - segment.start;
    delivery.stop = TimeOf(delivery.record + 1) - segment.start;
    return delivery;
}

RecordRead RecordPump::Read(stream::ByteSource &source, std::size_t record, uint8_t *buffer,
                            std::size_t capacity) const {
    RecordRead read;
    if (record >= RecordCount()) {
        read.failure.kind = stream::StreamEnd::Kind::ReadError;
        read.failure.offset = index_.End().offset;
        read.failure.error = "no such record";
        return read;
    }
    const stream::IndexEntry &entry = index_.Records()[record];
    read.failure.offset = entry.offset;
    const uint32_t want = SampleBytes(record);
    auto fail = [&](stream::StreamEnd::Kind kind, const std::string &why) {
        read.failure.kind = kind;
        read.failure.error = why;
        return read;
    };
    if (!buffer || capacity < want) return fail(stream::StreamEnd::Kind::ReadError, "the sample buffer is too small");
    if (!source.Seek(entry.offset)) return fail(stream::StreamEnd::Kind::ReadError, "the file cannot be read there");
    const std::size_t got = source.Read(buffer, want);
    if (source.Failed()) return fail(stream::StreamEnd::Kind::ReadError, source.Error());
    if (got < static_cast<std::size_t>(stream::kHeaderSize)) {
        read.failure.present = got;
        return fail(stream::StreamEnd::Kind::HeaderCut, "");
    }
    const stream::RecordHeader header = stream::ParseHeader(buffer);
    if (header.format != entry.format || header.length != entry.length)
        return fail(stream::StreamEnd::Kind::ReadError, "the record's header changed since the file was opened");
    if (got < want) {
        read.failure.present = got - stream::kHeaderSize;
        read.failure.declared = entry.length;
        return fail(stream::StreamEnd::Kind::PayloadCut, "");
    }
    read.ok = true;
    read.bytes = want;
    read.failure = stream::StreamEnd{};
    return read;
}

Ending RecordPump::EndOf(const Segment &segment) const {
    Ending ending;
    if (segment.end >= RecordCount() && index_.End().Damaged()) {
        ending.damaged = true;
        ending.end = index_.End();
    }
    return ending;
}

Ending RecordPump::EndAfterFailure(const RecordRead &read) {
    Ending ending;
    ending.damaged = true;
    ending.end = read.failure;
    return ending;
}

}  // namespace velkorix::source
