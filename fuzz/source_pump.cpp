// The stream source's reader and index on any bytes (over the tool reader's
// corpus): what Load makes of a file must agree with the stream layer's
// index; every plan from a position the input picks must stay within the
// records, preroll only before the landing record (from the start, or from
// a record that decodes alike from a fresh decoder when the pump has the
// filter's decoder map) and stamp samples in order; a record read as a
// sample must be the file's bytes, and reading from a source cut short must
// fail without reading past it.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "filter/codec_context.h"
#include "source/record_pump.h"
#include "stream/byte_source.h"
#include "stream/frame_format.h"
#include "stream/stream_index.h"

namespace {

using namespace velkorix;

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

uint64_t Pick(const uint8_t *data, std::size_t size, std::size_t &at) {
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value = value << 8 | (size ? data[at++ % size] : 0);
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const stream::StreamIndex index = stream::StreamIndex::Build(data, size);
    // With the decoding filter's decoder map (preroll from the latest record
    // that decodes alike from a fresh decoder) or without one (preroll from
    // the start).
    const bool mapped = size > 0 && (data[0] & 2);
    source::RecordPump pump(mapped ? FilterDecoderOf : nullptr);
    stream::MemorySource memory(data, size);
    const source::PcmFormat format{8000, size > 0 && (data[0] & 1) ? 2 : 1};
    const source::LoadResult result = pump.Load(memory, format);

    if (index.Records().empty()) {
        Check(result == (size == 0 ? source::LoadResult::Empty : source::LoadResult::NoRecord));
        Check(!pump.Loaded() && pump.RecordCount() == 0);
        return 0;
    }
    Check(result == source::LoadResult::Ok && pump.Loaded());
    Check(pump.RecordCount() == index.Records().size());
    for (std::size_t k = 0; k < pump.RecordCount(); ++k) {
        const stream::IndexEntry &a = pump.Index().Records()[k], &b = index.Records()[k];
        Check(a.offset == b.offset && a.format == b.format && a.length == b.length && a.outputOffset == b.outputOffset);
        Check(pump.TimeOf(k) <= pump.TimeOf(k + 1));
        Check(pump.SampleBytes(k) <= pump.LargestSample());
    }
    Check(pump.Index().End().kind == index.End().kind && pump.Index().End().offset == index.End().offset);
    const int64_t duration = pump.Duration();
    Check(duration == pump.TimeOf(pump.RecordCount()) && duration >= 0);

    // Plans from positions the input picks (and the ends).
    std::size_t at = 1;
    std::vector<uint8_t> buffer(pump.LargestSample());
    for (int round = 0; round < 6; ++round) {
        int64_t current, stop;
        if (round == 0) {
            current = 0;
            stop = duration;
        } else {
            const uint64_t span = static_cast<uint64_t>(duration) + 2;
            current = static_cast<int64_t>(Pick(data, size, at) % span) - 1;
            stop = static_cast<int64_t>(Pick(data, size, at) % span);
        }
        const source::Segment segment = pump.Plan(current, stop);
        Check(segment.prerollFrom <= segment.first && segment.first <= pump.RecordCount());
        Check(segment.end <= pump.RecordCount());
        if (!mapped) {
            Check(segment.prerollFrom == 0 || segment.prerollFrom == segment.first);
        } else if (segment.prerollFrom > 0 && segment.prerollFrom < segment.first) {
            // A preroll starts where the filter replaces its decoder or at a
            // record of a decoder without state, on a whole sample frame.
            const auto &records = pump.Index().Records();
            const int type = CodecTypeOfFormat(records[segment.prerollFrom].format);
            int held = -1;
            for (std::size_t k = 0; k < segment.prerollFrom; ++k)
                if (CodecTypeOfFormat(records[k].format) >= 0) held = CodecTypeOfFormat(records[k].format);
            Check(type >= 0 && (type != held || !CodecCarriesState(type)));
            Check(records[segment.prerollFrom].outputOffset % static_cast<uint64_t>(format.BlockAlign()) == 0);
        }
        Check(segment.start == pump.TimeOf(segment.first));
        if (current <= 0) Check(segment.first == 0);
        if (current > 0 && current < duration) Check(segment.start <= current);
        if (segment.first < pump.RecordCount() && segment.first > 0)
            Check(pump.Index().Records()[segment.first].outputOffset % static_cast<uint64_t>(format.BlockAlign()) == 0);
        int64_t previous = INT64_MIN;
        const std::size_t count = std::min<std::size_t>(segment.end > segment.prerollFrom ? segment.end - segment.prerollFrom : 0, 64);
        for (std::size_t n = 0; n < count; ++n) {
            const source::Delivery d = pump.DeliveryAt(segment, n);
            Check(d.record == segment.prerollFrom + n && d.preroll == (d.record < segment.first) && d.first == (n == 0));
            Check(d.start >= previous && d.start <= d.stop);
            Check(d.preroll ? d.start <= 0 : d.start >= 0);
            previous = d.start;
        }
        const source::Ending ending = pump.EndOf(segment);
        Check(ending.damaged == (segment.end == pump.RecordCount() && index.End().Damaged()));
    }

    // Records read as samples: the file's bytes, up to the payload cap.
    const std::size_t reads = std::min<std::size_t>(pump.RecordCount(), 32);
    for (std::size_t r = 0; r < reads; ++r) {
        const std::size_t k = r == 0 ? pump.RecordCount() - 1 : Pick(data, size, at) % pump.RecordCount();
        const stream::IndexEntry &e = pump.Index().Records()[k];
        stream::MemorySource whole(data, size);
        const source::RecordRead read = pump.Read(whole, k, buffer.data(), buffer.size());
        Check(read.ok && read.bytes == pump.SampleBytes(k));
        Check(std::memcmp(buffer.data(), data + e.offset, read.bytes) == 0);
        // The same source cut inside the record: a failure, never bytes past
        // the cut.
        const std::size_t cut = static_cast<std::size_t>(e.offset) + Pick(data, size, at) % read.bytes;
        std::fill(buffer.begin(), buffer.end(), 0xA5);
        stream::MemorySource shorter(data, cut);
        const source::RecordRead failed = pump.Read(shorter, k, buffer.data(), buffer.size());
        Check(!failed.ok && failed.failure.offset == e.offset);
        Check(pump.EndAfterFailure(failed).damaged);
        // A buffer too small is refused, not overrun.
        Check(!pump.Read(whole, k, buffer.data(), read.bytes - 1).ok);
    }
    return 0;
}
