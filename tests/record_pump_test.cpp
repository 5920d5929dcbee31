// The stream source's portable part: what Load makes of a file, which
// records a run from a seek position delivers (preroll, time stamps, the
// record boundary it lands on, the stop position), how a record is read as a
// sample, and how a run ends. The seek runs go through the real decoding
// filter (the runner): after a seek the samples must equal the whole
// decode's from the landing record on, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "filter/codec_context.h"
#include "filter/guids.h"
#include "g729_support.h"
#include "runner/filter_runner.h"
#include "source/record_pump.h"
#include "stream/byte_source.h"
#include "stream/frame_format.h"

namespace {

using velkorix::source::Delivery;
using velkorix::source::Ending;
using velkorix::source::kMaxSamplePayload;
using velkorix::source::kUnitsPerSecond;
using velkorix::source::LoadResult;
using velkorix::source::PcmFormat;
using velkorix::source::RecordPump;
using velkorix::source::RecordRead;
using velkorix::source::Segment;
using velkorix::stream::MemorySource;
using Kind = velkorix::stream::StreamEnd::Kind;
using Bytes = std::vector<uint8_t>;

Bytes Record(uint8_t format, const Bytes &payload) {
    Bytes record(velkorix::stream::kHeaderSize);
    velkorix::stream::WriteHeader(record.data(), format, static_cast<int32_t>(payload.size()));
    record.insert(record.end(), payload.begin(), payload.end());
    return record;
}

Bytes Payload(std::size_t size, uint32_t seed) {
    Bytes bytes(size);
    for (auto &b : bytes) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>(seed >> 16);
    }
    return bytes;
}

void Append(Bytes &stream, const Bytes &record) { stream.insert(stream.end(), record.begin(), record.end()); }

// The records of the bundled G.726 sample stream.
std::vector<Bytes> SpeechRecords() {
    const Bytes file = g729test::ReadFile(std::string(VELKORIX_SOURCE_DIR) + "/data/sample-speech.vks");
    std::vector<Bytes> records;
    std::size_t at = 0;
    while (at + 18 <= file.size()) {
        const int32_t length = velkorix::stream::ReadLength(file.data() + at);
        records.emplace_back(file.begin() + at, file.begin() + at + 18 + length);
        at += 18 + static_cast<std::size_t>(length);
    }
    return records;
}

// G.729 records of four frames from the ITU speech vector.
std::vector<Bytes> G729Records(std::size_t count) {
    const auto bits = g729test::ReadItuBitFile(g729test::VectorsDir() + "/speech.bit");
    std::vector<Bytes> records;
    for (std::size_t r = 0; r < count && (r + 1) * 4 <= bits.frames.size(); ++r) {
        Bytes payload;
        for (int f = 0; f < 4; ++f)
            payload.insert(payload.end(), bits.frames[r * 4 + f].begin(), bits.frames[r * 4 + f].end());
        records.push_back(Record(3, payload));
    }
    return records;
}

// A stream of every kind of record the decoders keep state across: G.726
// runs, G.729 runs, a G.711 record, an invalid format between records of one
// format (the held decoder stays), IMA ADPCM.
Bytes MixedStream() {
    const std::vector<Bytes> speech = SpeechRecords();
    const std::vector<Bytes> g729 = G729Records(40);
    Bytes stream;
    std::size_t s = 0, g = 0;
    for (int i = 0; i < 30; ++i) Append(stream, speech[s++]);
    for (int i = 0; i < 20; ++i) Append(stream, g729[g++]);
    Append(stream, Record(4, Payload(60, 1)));  // invalid: the G.729 decoder stays
    for (int i = 0; i < 20; ++i) Append(stream, g729[g++]);
    Append(stream, Record(1, Payload(160, 2)));
    for (int i = 0; i < 25; ++i) Append(stream, speech[s++]);
    Append(stream, Record(6, Payload(164, 3)));
    for (int i = 0; i < 25; ++i) Append(stream, speech[s++]);
    return stream;
}

// Records of the codecs that keep no state across records (G.711 both laws,
// IMA ADPCM with its header), with G.726 between them: records 0-7 G.711
// A-law, 8-15 IMA ADPCM, 16-23 G.711 mu-law, 24-28 G.726, 29-33 G.711 A-law.
Bytes StatelessStream() {
    const std::vector<Bytes> speech = SpeechRecords();
    Bytes stream;
    for (uint32_t i = 0; i < 8; ++i) Append(stream, Record(1, Payload(160, 100 + i)));
    for (uint32_t i = 0; i < 8; ++i) Append(stream, Record(6, Payload(164, 200 + i)));
    for (uint32_t i = 0; i < 8; ++i) Append(stream, Record(2, Payload(160, 300 + i)));
    for (std::size_t i = 0; i < 5; ++i) Append(stream, speech[i]);
    for (uint32_t i = 0; i < 5; ++i) Append(stream, Record(1, Payload(160, 400 + i)));
    return stream;
}

// The whole decode through the filter, and what each record gave.
struct Decode {
    Bytes pcm;
    std::vector<std::size_t> begin;  // per record: where its output starts in pcm
};

class RunnerDecode {
public:
    RunnerDecode() : runner_(8000, 1, [this](const uint8_t *data, std::size_t size) { pcm_.insert(pcm_.end(), data, data + size); }) {}

    Decode Whole(const Bytes &stream, const RecordPump &pump) {
        Decode decode;
        for (std::size_t k = 0; k < pump.RecordCount(); ++k) {
            decode.begin.push_back(pcm_.size());
            const auto &e = pump.Index().Records()[k];
            runner_.Feed(stream.data() + e.offset, e.Size());
        }
        decode.pcm = pcm_;
        pcm_.clear();
        return decode;
    }

    // A run of `segment` as the source delivers it: the first sample announces
    // the type (a fresh decoder state), preroll output is dropped as a
    // renderer drops it. Returns what is rendered.
    Bytes Run(const Bytes &stream, const RecordPump &pump, const Segment &segment, bool announceType = true) {
        pcm_.clear();
        Bytes rendered;
        for (std::size_t n = 0; n < segment.Count(); ++n) {
            const Delivery d = pump.DeliveryAt(segment, n);
            if (d.first && announceType) ResetByType();
            const auto &e = pump.Index().Records()[d.record];
            const std::size_t before = pcm_.size();
            runner_.Feed(stream.data() + e.offset, e.Size());
            if (!d.preroll) rendered.insert(rendered.end(), pcm_.begin() + static_cast<std::ptrdiff_t>(before), pcm_.end());
        }
        pcm_.clear();
        return rendered;
    }

private:
    // What a type announced on a sample does: the filter checks it, which
    // resets its codec context.
    void ResetByType() {
        uint8_t format[18];
        velkorix::runner::BuildWaveFormat(format, 8000, 1);
        AM_MEDIA_TYPE type{};
        type.majortype = velkorix::kMediaTypeAudio;
        type.subtype = velkorix::kSubtypeWave;
        type.formattype = velkorix::kFormatWaveFormatEx;
        type.cbFormat = sizeof(format);
        type.pbFormat = format;
        ASSERT_EQ(runner_.Filter().CheckInputType(&type), S_OK);
    }

    Bytes pcm_;
    velkorix::runner::FilterRunner runner_;
};

RecordPump Loaded(const Bytes &stream, PcmFormat format = {},
                  velkorix::stream::DecoderOfFormat decoderOf = nullptr) {
    RecordPump pump(decoderOf);
    MemorySource source(stream.data(), stream.size());
    EXPECT_EQ(pump.Load(source, format), LoadResult::Ok);
    return pump;
}

// A source that fails after `good` bytes.
class FailingSource final : public velkorix::stream::ByteSource {
public:
    FailingSource(const Bytes &bytes, std::size_t good) : bytes_(bytes), good_(good) {}
    std::size_t Read(uint8_t *into, std::size_t size) override {
        const std::size_t n = std::min(size, good_ > at_ ? good_ - at_ : 0);
        std::copy(bytes_.begin() + static_cast<std::ptrdiff_t>(at_), bytes_.begin() + static_cast<std::ptrdiff_t>(at_ + n), into);
        at_ += n;
        if (n < size) failed_ = true;
        return n;
    }
    bool Failed() const override { return failed_; }
    std::string Error() const override { return "device gone"; }

private:
    const Bytes &bytes_;
    std::size_t good_;
    std::size_t at_ = 0;
    bool failed_ = false;
};

TEST(RecordPumpLoad, SaysWhatTheFileHolds) {
    RecordPump pump;
    const Bytes empty;
    MemorySource none(empty.data(), 0);
    EXPECT_EQ(pump.Load(none, {}), LoadResult::Empty);
    EXPECT_FALSE(pump.Loaded());

    const Bytes shortHeader(10, 0);
    MemorySource cut(shortHeader.data(), shortHeader.size());
    EXPECT_EQ(pump.Load(cut, {}), LoadResult::NoRecord);

    Bytes negative(18, 0);
    velkorix::stream::WriteHeader(negative.data(), 0, -5);
    Append(negative, Record(0, Payload(120, 4)));
    MemorySource bad(negative.data(), negative.size());
    EXPECT_EQ(pump.Load(bad, {}), LoadResult::NoRecord) << "damage before any complete record";

    const Bytes stream = MixedStream();
    FailingSource failing(stream, 500);
    EXPECT_EQ(pump.Load(failing, {}), LoadResult::ReadError);
    EXPECT_FALSE(pump.Loaded());
    EXPECT_EQ(pump.RecordCount(), 0u) << "a failed load keeps nothing";

    MemorySource good(stream.data(), stream.size());
    ASSERT_EQ(pump.Load(good, {}), LoadResult::Ok);
    EXPECT_TRUE(pump.Loaded());
    EXPECT_EQ(pump.RecordCount(), 30u + 20 + 1 + 20 + 1 + 25 + 1 + 25);
    // The duration is that of the whole decode's samples at 8000 Hz mono.
    EXPECT_EQ(pump.Duration(), static_cast<int64_t>(pump.Index().Samples()) * kUnitsPerSecond / 8000);
    // At 16000 Hz stereo the same samples last a quarter as long.
    MemorySource again(stream.data(), stream.size());
    ASSERT_EQ(pump.Load(again, PcmFormat{16000, 2}), LoadResult::Ok);
    EXPECT_EQ(pump.Duration(), static_cast<int64_t>(pump.Index().Samples() / 2) * kUnitsPerSecond / 16000);
    // A format the decoder cannot be given falls back to the default.
    MemorySource third(stream.data(), stream.size());
    ASSERT_EQ(pump.Load(third, PcmFormat{0, 1}), LoadResult::Ok);
    EXPECT_EQ(pump.Format().rate, 8000);
}

TEST(RecordPumpLoad, RefusesMoreRecordsThanItKeeps) {
    Bytes stream;
    for (int i = 0; i < 6; ++i) Append(stream, Record(0, {}));
    RecordPump pump;
    MemorySource five(stream.data(), 5 * 18);
    EXPECT_EQ(pump.Load(five, {}, 5), LoadResult::Ok);
    MemorySource six(stream.data(), stream.size());
    EXPECT_EQ(pump.Load(six, {}, 5), LoadResult::TooManyRecords);
    EXPECT_FALSE(pump.Loaded());
}

TEST(RecordPumpPlan, FromTheStartEverythingGoesOutAsItIs) {
    const Bytes stream = MixedStream();
    const RecordPump pump = Loaded(stream);
    const Segment segment = pump.Plan(0, pump.Duration());
    EXPECT_EQ(segment.prerollFrom, 0u);
    EXPECT_EQ(segment.first, 0u);
    EXPECT_EQ(segment.end, pump.RecordCount());
    EXPECT_EQ(segment.start, 0);
    EXPECT_EQ(segment.stop, pump.Duration());
    for (std::size_t n = 0; n < segment.Count(); ++n) {
        const Delivery d = pump.DeliveryAt(segment, n);
        ASSERT_EQ(d.record, n);
        ASSERT_FALSE(d.preroll);
        ASSERT_EQ(d.first, n == 0);
        ASSERT_EQ(d.start, pump.TimeOf(n));
        ASSERT_EQ(d.stop, pump.TimeOf(n + 1));
    }
    // Back to back: each sample starts where the one before it stopped.
    EXPECT_EQ(pump.DeliveryAt(segment, segment.Count() - 1).stop, pump.Duration());
    // A position before the start is the start.
    EXPECT_EQ(pump.Plan(-5000000, pump.Duration()).first, 0u);
}

TEST(RecordPumpPlan, ASeekLandsOnTheRecordThatHoldsThePositionAndWithoutADecoderMapPrerollsFromTheStart) {
    const Bytes stream = MixedStream();
    const RecordPump pump = Loaded(stream);
    const int64_t duration = pump.Duration();
    // A position inside the first record's output is the start.
    EXPECT_EQ(pump.Plan(pump.TimeOf(1) - 1, duration).first, 0u);
    EXPECT_EQ(pump.Plan(pump.TimeOf(1) - 1, duration).PrerollCount(), 0u);
    for (int64_t t = pump.TimeOf(1); t < duration; t += duration / 97 + 1) {
        const Segment segment = pump.Plan(t, duration);
        ASSERT_GT(segment.first, 0u) << t;
        ASSERT_LT(segment.first, pump.RecordCount()) << t;
        // The record's output holds the position: it starts at or before it,
        // and the next record with output starts after it.
        ASSERT_LE(pump.TimeOf(segment.first), t);
        ASSERT_GT(pump.TimeOf(segment.first + 1), t);
        ASSERT_EQ(segment.start, pump.TimeOf(segment.first));
        ASSERT_EQ(segment.prerollFrom, 0u);
        ASSERT_EQ(segment.PrerollCount(), segment.first);
        for (std::size_t n = 0; n < segment.Count(); ++n) {
            const Delivery d = pump.DeliveryAt(segment, n);
            ASSERT_EQ(d.preroll, d.record < segment.first);
            ASSERT_EQ(d.start, pump.TimeOf(d.record) - segment.start);
        }
        // The first record delivered as it is starts the segment at 0.
        ASSERT_EQ(pump.DeliveryAt(segment, segment.first).start, 0);
    }
}

// With the filter's decoder map a preroll starts at the latest record that
// decodes alike from a fresh decoder: the first record, a change of codec
// (a record of an invalid format keeps the decoder, so it is no start), or a
// record of a codec that keeps no state across records.
TEST(RecordPumpPlan, WithTheDecoderMapAPrerollStartsWhereAFreshDecoderDecodesAlike) {
    const Bytes stream = MixedStream();
    const RecordPump pump = Loaded(stream, {}, velkorix::FilterDecoderOf);
    // Records as MixedStream lays them out: G.726 0-29, G.729 30-49, invalid
    // 50, G.729 51-70, G.711 71, G.726 72-96, IMA ADPCM 97, G.726 98-122.
    ASSERT_EQ(pump.RecordCount(), 123u);
    const std::pair<std::size_t, std::size_t> landingAndStart[] = {
        {1, 0},   {29, 0},  {30, 30}, {31, 30}, {49, 30}, {51, 30}, {70, 30},  {71, 71},
        {72, 72}, {80, 72}, {96, 72}, {97, 97}, {98, 98}, {122, 98},
    };
    for (const auto &[landing, start] : landingAndStart) {
        const Segment segment = pump.Plan(pump.TimeOf(landing), pump.Duration());
        EXPECT_EQ(segment.first, landing);
        EXPECT_EQ(segment.prerollFrom, start) << "landing on record " << landing;
    }
    // The same file without the map prerolls from the start.
    EXPECT_EQ(Loaded(stream).Plan(pump.TimeOf(110), pump.Duration()).prerollFrom, 0u);

    // Records of a codec without state across records need no preroll; a
    // G.726 run after them prerolls from its first record.
    const Bytes stateless = StatelessStream();
    const RecordPump alone = Loaded(stateless, {}, velkorix::FilterDecoderOf);
    ASSERT_EQ(alone.RecordCount(), 34u);
    for (std::size_t landing = 1; landing < alone.RecordCount(); ++landing) {
        const Segment segment = alone.Plan(alone.TimeOf(landing), alone.Duration());
        EXPECT_EQ(segment.first, landing);
        const bool g726 = landing >= 24 && landing < 29;
        EXPECT_EQ(segment.prerollFrom, g726 ? 24u : landing) << "landing on record " << landing;
    }
}

TEST(RecordPumpPlan, ASeekResumesOnAWholeSampleFrame) {
    // Format 0 with a 1-byte payload yields 5 bytes: the records after it
    // start inside a sample.
    Bytes stream;
    for (int i = 0; i < 4; ++i) Append(stream, Record(0, Payload(120, 10 + i)));  // 640 bytes each
    Append(stream, Record(0, Payload(1, 20)));                                     // 5 bytes
    for (int i = 0; i < 3; ++i) Append(stream, Record(0, Payload(120, 30 + i)));  // odd offsets
    Append(stream, Record(0, Payload(1, 40)));                                     // even again after it
    for (int i = 0; i < 3; ++i) Append(stream, Record(0, Payload(120, 50 + i)));
    const RecordPump pump = Loaded(stream);
    const auto &records = pump.Index().Records();
    ASSERT_EQ(records[5].outputOffset % 2, 1u);
    ASSERT_EQ(records[9].outputOffset % 2, 0u);
    for (std::size_t k = 5; k < 9; ++k) {
        const Segment segment = pump.Plan(pump.TimeOf(k) + 1, pump.Duration());
        EXPECT_EQ(segment.first, 4u) << "a position in record " << k << " resumes at the last frame-aligned record";
    }
    EXPECT_EQ(pump.Plan(pump.TimeOf(10) + 1, pump.Duration()).first, 10u);

    // Stereo: frames of 4 bytes.
    const RecordPump stereo = Loaded(stream, PcmFormat{8000, 2});
    for (std::size_t k = 1; k < stereo.RecordCount(); ++k) {
        const Segment segment = stereo.Plan(stereo.TimeOf(k) + 1, stereo.Duration());
        if (segment.first < stereo.RecordCount()) {
            EXPECT_EQ(records[segment.first].outputOffset % 4, 0u) << k;
        }
    }
}

TEST(RecordPumpPlan, BeyondTheEndDeliversNothingAndStopCutsTheRun) {
    Bytes stream = MixedStream();
    const std::size_t intact = stream.size();
    Append(stream, Bytes{1, 2, 3, 4, 5, 6, 7});  // the input ends inside a header
    const RecordPump pump = Loaded(stream);
    const int64_t duration = pump.Duration();

    for (int64_t beyond : {duration, duration + 1, duration * 3}) {
        const Segment segment = pump.Plan(beyond, duration);
        EXPECT_EQ(segment.first, pump.RecordCount());
        EXPECT_EQ(segment.Count(), 0u) << "no preroll when nothing is rendered after it";
        EXPECT_EQ(segment.start, duration);
        const Ending ending = pump.EndOf(segment);
        EXPECT_TRUE(ending.damaged) << "the run ends at the damaged tail";
        EXPECT_EQ(static_cast<int>(ending.end.kind), static_cast<int>(Kind::HeaderCut));
        EXPECT_EQ(ending.end.offset, intact);
    }

    // A stop position: the records that start before it.
    const int64_t stop = pump.TimeOf(40) + 1;
    const Segment cut = pump.Plan(pump.TimeOf(10), stop);
    EXPECT_EQ(cut.first, 10u);
    EXPECT_EQ(cut.end, 41u);
    EXPECT_EQ(cut.stop, stop);
    EXPECT_FALSE(pump.EndOf(cut).damaged) << "a run cut short by its stop never reached the damage";
    EXPECT_EQ(pump.Plan(pump.TimeOf(10), pump.TimeOf(40)).end, 40u);
    // A stop before the position: nothing but the preroll... and not even
    // that is rendered; the run has no record of its own.
    const Segment empty = pump.Plan(pump.TimeOf(20), pump.TimeOf(5));
    EXPECT_EQ(empty.end, empty.first);
    // The whole run reaches the damage.
    const Segment whole = pump.Plan(0, duration);
    EXPECT_TRUE(pump.EndOf(whole).damaged);
    const RecordPump clean = Loaded(MixedStream());
    EXPECT_FALSE(clean.EndOf(clean.Plan(0, clean.Duration())).damaged);
}

TEST(RecordPumpRead, ReadsTheRecordAsIndexedAndNothingBeyond) {
    Bytes stream;
    Append(stream, Record(0, Payload(120, 1)));
    Append(stream, Record(0, Payload(static_cast<std::size_t>(kMaxSamplePayload) + 3000, 2)));  // beyond the cap
    Append(stream, Record(1, Payload(160, 3)));
    const RecordPump pump = Loaded(stream);
    ASSERT_EQ(pump.RecordCount(), 3u);
    EXPECT_EQ(pump.SampleBytes(0), 138u);
    EXPECT_EQ(pump.SampleBytes(1), 18u + static_cast<uint32_t>(kMaxSamplePayload));
    EXPECT_EQ(pump.LargestSample(), pump.SampleBytes(1));

    MemorySource source(stream.data(), stream.size());
    Bytes buffer(pump.LargestSample() + 100, 0xEE);
    for (std::size_t k : {2u, 0u, 1u}) {
        std::fill(buffer.begin(), buffer.end(), 0xEE);
        const RecordRead read = pump.Read(source, k, buffer.data(), buffer.size());
        ASSERT_TRUE(read.ok) << k;
        ASSERT_EQ(read.bytes, pump.SampleBytes(k));
        const auto &e = pump.Index().Records()[k];
        EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + read.bytes, stream.begin() + static_cast<std::ptrdiff_t>(e.offset)));
        EXPECT_EQ(buffer[read.bytes], 0xEE) << "nothing written past the sample";
    }
    // The capped record keeps its header: the decoder sees the length declared.
    const RecordRead big = pump.Read(source, 1, buffer.data(), buffer.size());
    EXPECT_EQ(velkorix::stream::ReadLength(buffer.data()), kMaxSamplePayload + 3000);
    EXPECT_TRUE(big.ok);

    // Too small a buffer is refused, nothing read.
    EXPECT_FALSE(pump.Read(source, 0, buffer.data(), 137).ok);
    EXPECT_FALSE(pump.Read(source, 3, buffer.data(), buffer.size()).ok) << "no such record";

    // The file changed after it was opened: a header no longer as indexed,
    // or the file shorter than the record.
    Bytes changed = stream;
    changed[138 + 13] = 2;
    MemorySource other(changed.data(), changed.size());
    RecordRead read = pump.Read(other, 1, buffer.data(), buffer.size());
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(static_cast<int>(read.failure.kind), static_cast<int>(Kind::ReadError));
    EXPECT_EQ(read.failure.offset, 138u);
    const Ending ending = RecordPump::EndAfterFailure(read);
    EXPECT_TRUE(ending.damaged);
    EXPECT_EQ(ending.end.offset, 138u);

    MemorySource shorter(stream.data(), 138 + 18 + 500);
    read = pump.Read(shorter, 1, buffer.data(), buffer.size());
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(static_cast<int>(read.failure.kind), static_cast<int>(Kind::PayloadCut));
    EXPECT_EQ(read.failure.present, 500u);
    MemorySource shortest(stream.data(), 138 + 9);
    read = pump.Read(shortest, 1, buffer.data(), buffer.size());
    EXPECT_EQ(static_cast<int>(read.failure.kind), static_cast<int>(Kind::HeaderCut));
    MemorySource gone(stream.data(), 100);
    EXPECT_EQ(static_cast<int>(pump.Read(gone, 2, buffer.data(), buffer.size()).failure.kind),
              static_cast<int>(Kind::ReadError)) << "the offset lies beyond the end: no seek there";
}

// The decoders carry state from record to record: decoding from a record on
// without the ones before it gives other samples.
TEST(RecordPumpSeek, WithoutPrerollTheSamplesDiffer) {
    const Bytes stream = MixedStream();
    const RecordPump pump = Loaded(stream);
    RunnerDecode runner;
    const Decode whole = runner.Whole(stream, pump);
    for (std::size_t first : {10u, 40u, 80u}) {  // G.726, G.729, G.726 after a format change
        Segment cold = pump.Plan(pump.TimeOf(first), pump.Duration());
        ASSERT_EQ(cold.first, first);
        cold.prerollFrom = cold.first;
        const Bytes rendered = runner.Run(stream, pump, cold);
        ASSERT_EQ(rendered.size(), whole.pcm.size() - whole.begin[first]);
        EXPECT_FALSE(std::equal(rendered.begin(), rendered.end(), whole.pcm.begin() + static_cast<std::ptrdiff_t>(whole.begin[first])))
            << "record " << first << " decodes the same cold: the test would not see a missing preroll";
    }
}

// Seeks through the filter: at every record's start when `everyRecord`, else
// at times across the file; the rendered PCM must be the whole decode's
// from the landing record on.
void SeeksGiveTheWholeDecode(const Bytes &stream, const RecordPump &pump, bool everyRecord) {
    RunnerDecode runner;
    const Decode whole = runner.Whole(stream, pump);
    ASSERT_EQ(whole.pcm.size(), pump.Index().OutputBytes());
    const int64_t duration = pump.Duration();
    std::vector<int64_t> times;
    if (everyRecord) {
        for (std::size_t k = 0; k < pump.RecordCount(); ++k) times.push_back(pump.TimeOf(k));
    } else {
        for (int64_t t = 0; t < duration; t += duration / 23 + 1) times.push_back(t);
    }
    for (const int64_t t : times) {
        const Segment segment = pump.Plan(t, duration);
        // The filter holds whatever state the run before left it in.
        const Bytes rendered = runner.Run(stream, pump, segment);
        const std::size_t from = whole.begin[segment.first];
        ASSERT_EQ(from, pump.Index().Records()[segment.first].outputOffset);
        ASSERT_EQ(rendered.size(), whole.pcm.size() - from) << t;
        ASSERT_TRUE(std::equal(rendered.begin(), rendered.end(), whole.pcm.begin() + static_cast<std::ptrdiff_t>(from)))
            << "seek to " << t << " (record " << segment.first << ")";
        // The time the run starts at is that of the landing record's first
        // sample in the whole decode.
        ASSERT_EQ(segment.start, static_cast<int64_t>(from / 2) * kUnitsPerSecond / 8000);
    }
}

TEST(RecordPumpSeek, AfterASeekTheSamplesAreTheWholeDecodes) {
    const Bytes stream = MixedStream();
    for (const bool mapped : {false, true}) {
        SCOPED_TRACE(mapped ? "preroll from the last change of decoder" : "preroll from the start");
        SeeksGiveTheWholeDecode(stream, Loaded(stream, {}, mapped ? velkorix::FilterDecoderOf : nullptr), mapped);
    }
    // Where the codec keeps no state, decoding from the landing record alone
    // gives the whole decode's samples.
    const Bytes stateless = StatelessStream();
    SeeksGiveTheWholeDecode(stateless, Loaded(stateless, {}, velkorix::FilterDecoderOf), true);
}

TEST(RecordPumpSeek, TheTypeAnnouncedOnTheFirstSampleIsWhatMakesItExact) {
    // A run from the start after another run: without the reset the held
    // decoder keeps the state the last run left.
    const Bytes stream = MixedStream();
    const RecordPump pump = Loaded(stream);
    RunnerDecode runner;
    const Decode whole = runner.Whole(stream, pump);
    // Leave the decoder in the G.726 state of the stream's end, then run
    // from the start, where G.726 records come first.
    const Bytes stale = runner.Run(stream, pump, pump.Plan(0, pump.Duration()), false);
    EXPECT_NE(stale, whole.pcm);
    const Bytes fresh = runner.Run(stream, pump, pump.Plan(0, pump.Duration()), true);
    EXPECT_EQ(fresh, whole.pcm);
}

}  // namespace
