// The GStreamer plugin's stream handling on any bytes, without a pipeline:
// the record splitting of push mode (chunks of sizes the input chooses, a
// restart at an indexed record as after a seek) must find the records and
// the end that the stream index finds; time stamps must chain; the record
// where decoding starts after a seek must be one where the filter starts a
// fresh decoder on a whole sample frame; and the type finder must stay
// inside the bytes it is given and claim only what chains from the start.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "filter/codec_context.h"
#include "record_splitter.h"
#include "stream/stream_index.h"
#include "type_find.h"

namespace {

using namespace velkorix;
using velkorix::gst::RecordSplitter;

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

void SameEnd(const stream::StreamEnd &a, const stream::StreamEnd &b) {
    Check(a.kind == b.kind && a.offset == b.offset && a.present == b.present && a.declared == b.declared);
}

struct Bytes {
    const uint8_t *data;
    std::size_t size;      // what peek may hand out
    uint64_t furthest = 0;
};

const uint8_t *Peek(void *context, uint64_t offset, uint32_t size) {
    auto *bytes = static_cast<Bytes *>(context);
    if (offset > bytes->size || size > bytes->size - offset) return nullptr;
    bytes->furthest = std::max<uint64_t>(bytes->furthest, offset + size);
    return bytes->data + offset;
}

// Feeds `data[from, size)` to the splitter in chunks whose sizes come from
// the input; checks each record against the index from record `first` on.
void Split(RecordSplitter &splitter, const stream::StreamIndex &index, const uint8_t *data, std::size_t size,
           std::size_t from, std::size_t first) {
    const auto &records = index.Records();
    std::size_t expected = first, at = from, pick = from;
    bool ended = false;
    while (at < size && !ended) {
        const std::size_t n = std::min<std::size_t>(1 + data[pick++ % size] % 97, size - at);
        std::size_t used = 0;
        while (used < n) {
            const RecordSplitter::Step step = splitter.Feed(data + at + used, n - used);
            used += step.consumed;
            if (step.event == RecordSplitter::Event::NeedMore) {
                Check(used == n);
                break;
            }
            if (step.event == RecordSplitter::Event::Ended) {
                ended = true;
                break;
            }
            Check(step.record == expected && expected < records.size());
            const stream::IndexEntry &got = splitter.Index().Records()[step.record];
            Check(got.offset == records[expected].offset && got.length == records[expected].length &&
                  got.format == records[expected].format && got.outputOffset == records[expected].outputOffset);
            // The record's bytes end exactly where the splitter stands.
            Check(splitter.Position() == got.offset + got.Size() && got.offset + got.Size() == at + used);
            ++expected;
        }
        at += n;
    }
    Check(expected == records.size());
    if (!ended) splitter.Finish();
    SameEnd(splitter.End(), index.End());
    Check(splitter.Complete());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const stream::StreamIndex index = stream::StreamIndex::Build(data, size);
    const auto &records = index.Records();

    // Push mode from the start, then again after a restart at a record the
    // input picks (as after a seek upstream in bytes).
    RecordSplitter splitter;
    Split(splitter, index, data, size, 0, 0);
    Check(splitter.Index().Records().size() == records.size());
    if (size > 0) {
        const std::size_t restart = data[0] % (records.size() + 1);
        Check(splitter.RestartAt(restart));
        Check(splitter.Position() == splitter.OffsetOf(restart));
        Split(splitter, index, data, size, static_cast<std::size_t>(splitter.OffsetOf(restart)), restart);
        Check(splitter.Index().Records().size() == records.size());
        Check(!splitter.RestartAt(records.size() + 1));
    }

    // Time stamps chain from 0 to the duration, at any rate and channels.
    for (const auto &[rate, channels] : {std::pair{8000, 1}, std::pair{11025, 2}, std::pair{1, 16}}) {
        uint64_t next = 0;
        for (const stream::IndexEntry &entry : records) {
            const gst::RecordTimes times = gst::TimesOf(entry, rate, channels);
            Check(times.pts == next);
            next = times.pts + times.duration;
        }
        Check(next == gst::DurationOf(index, rate, channels));
    }

    // Where decoding starts for a record the input picks: at or before it,
    // on a whole frame, and where the filter starts a fresh decoder or at a
    // record of a decoder without state.
    if (!records.empty() && size > 1) {
        const std::size_t target = (data[1] * 131u + size) % records.size();
        for (int frame : {2, 4, 6, 32}) {
            const std::size_t start = stream::DecodeStartFor(index, target, frame, FilterDecoderOf);
            Check(start <= target);
            if (start == 0) continue;
            Check(records[start].outputOffset % static_cast<uint64_t>(frame) == 0);
            const int startType = CodecTypeOfFormat(records[start].format);
            Check(startType >= 0);
            int held = -1;
            for (std::size_t k = 0; k < start; ++k)
                if (CodecTypeOfFormat(records[k].format) >= 0) held = CodecTypeOfFormat(records[k].format);
            Check(held != startType || !CodecCarriesState(startType));
        }
    }

    // The type finder, with the length known and not, on all the bytes and
    // on a prefix the input picks.
    const std::size_t prefix = size > 2 ? data[2] * 37u % (size + 1) : size;
    for (const std::size_t available : {size, prefix}) {
        for (const bool lengthKnown : {true, false}) {
            Bytes bytes{data, available};
            const gst::TypeFindResult found = gst::FindStreamType(Peek, &bytes, lengthKnown ? available : 0);
            Check(bytes.furthest <= available);
            Check(found.probability >= 0 && found.probability <= 100);
            Check(found.decodable <= found.records && found.records <= gst::kTypeFindRecords);
            if (found.probability == 0) continue;
            // What it claims is there: the records chain from the start.
            const stream::StreamIndex seen = stream::StreamIndex::Build(data, available);
            Check(seen.Records().size() >= static_cast<std::size_t>(found.records));
            Check(found.decodable >= 1 && seen.Records()[0].length > 0);
            if (found.wholeInput) Check(seen.End().kind == stream::StreamEnd::Kind::Clean && lengthKnown);
        }
    }
    return 0;
}
