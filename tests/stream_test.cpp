// The framed stream layer: the scanner fed in chunks of every size against a
// plain whole-buffer walk, damage at every byte position, the readers over
// sources that seek and sources that do not, the tool's file source, and the
// index against what the filter actually delivers for each record.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "file_source.h"
#include "filter_runner.h"
#include "stream/byte_source.h"
#include "stream/frame_format.h"
#include "stream/record_reader.h"
#include "stream/scanner.h"
#include "stream/stream_index.h"
#include "test_support.h"

namespace {

using velkorix::stream::ByteSource;
using velkorix::stream::IndexEntry;
using velkorix::stream::MemorySource;
using velkorix::stream::RecordInfo;
using velkorix::stream::RecordReader;
using velkorix::stream::Scanner;
using velkorix::stream::StreamEnd;
using velkorix::stream::StreamIndex;
using Kind = velkorix::stream::StreamEnd::Kind;
using Bytes = std::vector<uint8_t>;

struct Rec {
    uint64_t offset;
    uint8_t format;
    int32_t length;
    bool operator==(const Rec &o) const { return offset == o.offset && format == o.format && length == o.length; }
};

// What a stream holds: its complete records and how it ends.
struct Split {
    std::vector<Rec> records;
    Kind kind = Kind::Clean;
    uint64_t offset = 0;
    uint64_t present = 0;
    int32_t declared = 0;
};

void ExpectSame(const Split &expected, const Split &actual, const std::string &how) {
    ASSERT_EQ(expected.records.size(), actual.records.size()) << how;
    for (std::size_t i = 0; i < expected.records.size(); ++i)
        ASSERT_TRUE(expected.records[i] == actual.records[i]) << how << ": record " << i;
    EXPECT_EQ(static_cast<int>(expected.kind), static_cast<int>(actual.kind)) << how;
    EXPECT_EQ(expected.offset, actual.offset) << how;
    EXPECT_EQ(expected.present, actual.present) << how;
    EXPECT_EQ(expected.declared, actual.declared) << how;
}

Split FromEnd(std::vector<Rec> records, const StreamEnd &end) {
    Split split;
    split.records = std::move(records);
    split.kind = end.kind;
    split.offset = end.offset;
    split.present = end.present;
    split.declared = end.declared;
    return split;
}

// The plain model: walk the whole buffer.
Split Walk(const Bytes &s) {
    Split split;
    std::size_t at = 0;
    for (;;) {
        split.offset = at;
        if (at == s.size()) break;
        if (s.size() - at < 18) {
            split.kind = Kind::HeaderCut;
            split.present = s.size() - at;
            break;
        }
        const int32_t length = static_cast<int32_t>(s[at + 14] | s[at + 15] << 8 | s[at + 16] << 16 |
                                                    static_cast<uint32_t>(s[at + 17]) << 24);
        if (length < 0) {
            split.kind = Kind::NegativeLength;
            split.declared = length;
            break;
        }
        if (s.size() - at - 18 < static_cast<std::size_t>(length)) {
            split.kind = Kind::PayloadCut;
            split.present = s.size() - at - 18;
            split.declared = length;
            break;
        }
        split.records.push_back({at, s[at + 13], length});
        at += 18 + static_cast<std::size_t>(length);
    }
    return split;
}

// The scanner fed in chunks whose sizes cycle through `chunks`.
Split ScanInChunks(const Bytes &s, const std::vector<std::size_t> &chunks) {
    Scanner scanner;
    std::vector<Rec> records;
    std::size_t at = 0, next = 0;
    while (at < s.size() && !scanner.Ended()) {
        const std::size_t n = std::min(chunks[next++ % chunks.size()], s.size() - at);
        const uint8_t *p = s.data() + at;
        std::size_t left = n;
        do {
            const Scanner::Step step = scanner.Feed(p, left);
            EXPECT_LE(step.consumed, left);
            p += step.consumed;
            left -= step.consumed;
            if (step.event == Scanner::Event::Record) {
                const RecordInfo &r = scanner.Current();
                EXPECT_EQ(scanner.Position(), r.offset + r.Size());
                EXPECT_EQ(0, std::memcmp(r.header, s.data() + r.offset, 18));
                records.push_back({r.offset, r.format, r.length});
            }
            if (step.event == Scanner::Event::Header) {
                EXPECT_EQ(scanner.Wanted(), static_cast<uint64_t>(scanner.Current().length));
            }
            if (step.event == Scanner::Event::Damaged) break;
        } while (left > 0);
        at += n;
    }
    return FromEnd(std::move(records), scanner.Finish());
}

// Whole records through RecordReader::Next; the bytes must be the stream's.
Split ReadRecords(ByteSource &source, const Bytes &s) {
    RecordReader reader(source);
    std::vector<Rec> records;
    Bytes record;
    while (reader.Next(record) == RecordReader::Status::Record) {
        const RecordInfo &r = reader.Current();
        EXPECT_EQ(record.size(), r.Size());
        EXPECT_TRUE(std::equal(record.begin(), record.end(), s.begin() + static_cast<long>(r.offset)));
        records.push_back({r.offset, r.format, r.length});
    }
    return FromEnd(std::move(records), reader.End());
}

Split FromIndex(const StreamIndex &index) {
    std::vector<Rec> records;
    for (const IndexEntry &e : index.Records()) records.push_back({e.offset, e.format, e.length});
    return FromEnd(std::move(records), index.End());
}

// A source that can neither seek nor skip (a pipe): the default Skip reads.
class PipeSource final : public ByteSource {
public:
    PipeSource(const Bytes &s, std::size_t failAfter = SIZE_MAX) : memory_(s.data(), s.size()), failAfter_(failAfter) {}
    std::size_t Read(uint8_t *into, std::size_t size) override {
        if (given_ >= failAfter_) {
            failed_ = true;
            return 0;
        }
        const std::size_t allowed = std::min(size, failAfter_ - given_);
        const std::size_t got = memory_.Read(into, allowed);
        given_ += got;
        if (allowed < size && got == allowed) failed_ = true;
        ++reads_;
        return got;
    }
    bool Failed() const override { return failed_; }
    std::string Error() const override { return "the device went away"; }
    long Reads() const { return reads_; }

private:
    MemorySource memory_;
    std::size_t failAfter_;
    std::size_t given_ = 0;
    bool failed_ = false;
    long reads_ = 0;
};

// A temporary file with the given bytes.
class TempFile {
public:
    explicit TempFile(const Bytes &s) {
        char name[] = "/tmp/velkorix_stream_test.XXXXXX";
        const int fd = mkstemp(name);
        path_ = name;
        if (fd >= 0) {
            if (!s.empty() && write(fd, s.data(), s.size()) != static_cast<ssize_t>(s.size())) path_.clear();
            close(fd);
        }
        file_ = std::fopen(path_.c_str(), "rb");
    }
    ~TempFile() {
        if (file_) std::fclose(file_);
        std::remove(path_.c_str());
    }
    std::FILE *File() const { return file_; }

private:
    std::string path_;
    std::FILE *file_ = nullptr;
};

// Every way the layer splits a stream must agree with the plain walk.
void CheckEveryWay(const Bytes &s, velkorix::test::Lcg &rng, bool withFiles) {
    const Split expected = Walk(s);
    ExpectSame(expected, ScanInChunks(s, {s.size() + 1}), "whole");
    ExpectSame(expected, ScanInChunks(s, {1}), "byte by byte");
    for (int trial = 0; trial < 3; ++trial) {
        std::vector<std::size_t> chunks;
        for (int k = 0; k < 16; ++k) chunks.push_back(1 + rng.Below(trial == 0 ? 7 : trial == 1 ? 40 : 300));
        ExpectSame(expected, ScanInChunks(s, chunks), "random chunks");
    }
    {
        MemorySource memory(s.data(), s.size());
        ExpectSame(expected, ReadRecords(memory, s), "reader over memory");
    }
    {
        PipeSource pipe(s);
        ExpectSame(expected, ReadRecords(pipe, s), "reader over a pipe");
    }
    ExpectSame(expected, FromIndex(StreamIndex::Build(s.data(), s.size())), "index over memory");
    {
        PipeSource pipe(s);
        ExpectSame(expected, FromIndex(StreamIndex::Build(pipe)), "index over a pipe");
    }
    if (withFiles) {
        TempFile file(s);
        ASSERT_NE(file.File(), nullptr);
        velkorix::cli::FileSource source(file.File());
        ExpectSame(expected, FromIndex(StreamIndex::Build(source)), "index over a file");
        ASSERT_TRUE(source.Seek(0));
        ExpectSame(expected, ReadRecords(source, s), "reader over a file");
        std::FILE *memory = fmemopen(const_cast<uint8_t *>(s.data()), s.size(), "rb");
        if (memory) {  // fmemopen refuses an empty buffer on some systems
            velkorix::cli::FileSource unseekable(memory);
            ExpectSame(expected, FromIndex(StreamIndex::Build(unseekable)), "index over a stdio stream");
            std::fclose(memory);
        }
    }
}

void Append(Bytes &s, uint8_t format, int32_t declared, std::size_t present, velkorix::test::Lcg &rng) {
    uint8_t header[18];
    velkorix::stream::WriteHeader(header, format, declared);
    for (int i = 0; i < 13; ++i) header[i] = static_cast<uint8_t>(rng.Next() >> 24);  // bytes the decoder ignores
    s.insert(s.end(), header, header + 18);
    for (std::size_t i = 0; i < present; ++i) s.push_back(static_cast<uint8_t>(rng.Next() >> 24));
}

// Records of varied formats and lengths, among them an empty payload and
// payloads around the header size.
Bytes Varied(velkorix::test::Lcg &rng) {
    Bytes s;
    const struct {
        uint8_t format;
        int32_t length;
    } records[] = {{0, 120}, {3, 40}, {6, 0}, {1, 1}, {2, 17}, {4, 18}, {255, 19}, {3, 25}, {0, 5}};
    for (const auto &r : records) Append(s, r.format, r.length, static_cast<std::size_t>(r.length), rng);
    return s;
}

TEST(StreamScanner, ChunksOfEverySizeAgreeWithTheWholeWalk) {
    velkorix::test::Lcg rng(11);
    const Bytes s = Varied(rng);
    CheckEveryWay(s, rng, true);
    CheckEveryWay({}, rng, true);
    // Arbitrary bytes: whatever they declare, every way agrees.
    for (int trial = 0; trial < 200; ++trial) {
        Bytes noise(rng.Below(400));
        for (auto &b : noise) b = static_cast<uint8_t>(rng.Next() >> 24);
        // Small lengths now and then, so that noise holds records at all.
        for (std::size_t at = 14; at + 3 < noise.size() && trial % 2 == 0; at += 18 + noise[at]) {
            noise[at + 1] = noise[at + 2] = noise[at + 3] = 0;
        }
        CheckEveryWay(noise, rng, trial < 20);
    }
}

TEST(StreamScanner, DamageAtEveryPosition) {
    velkorix::test::Lcg rng(12);
    const Bytes whole = Varied(rng);
    const Split complete = Walk(whole);
    ASSERT_EQ(complete.records.size(), 9u);
    ASSERT_EQ(complete.kind, Kind::Clean);
    for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
        const Bytes s(whole.begin(), whole.begin() + static_cast<long>(cut));
        SCOPED_TRACE("cut at " + std::to_string(cut));
        // What must come out, from the complete stream's record table.
        Split expected;
        for (const Rec &r : complete.records) {
            if (r.offset + 18 + static_cast<uint64_t>(r.length) <= cut) {
                expected.records.push_back(r);
                expected.offset = r.offset + 18 + static_cast<uint64_t>(r.length);
                continue;
            }
            if (r.offset == cut) break;  // a record boundary: a clean end
            expected.offset = r.offset;
            if (cut - r.offset < 18) {
                expected.kind = Kind::HeaderCut;
                expected.present = cut - r.offset;
            } else {
                expected.kind = Kind::PayloadCut;
                expected.present = cut - r.offset - 18;
                expected.declared = r.length;
            }
            break;
        }
        ExpectSame(expected, Walk(s), "plain walk");
        CheckEveryWay(s, rng, cut % 16 == 0);
    }
    // A negative length in each record in turn ends the stream there.
    for (std::size_t k = 0; k < complete.records.size(); ++k) {
        for (int32_t negative : {-1, -6, INT32_MIN}) {
            Bytes s = whole;
            const std::size_t at = complete.records[k].offset;
            for (int i = 0; i < 4; ++i) s[at + 14 + i] = static_cast<uint8_t>(static_cast<uint32_t>(negative) >> (8 * i));
            Split expected;
            expected.records.assign(complete.records.begin(), complete.records.begin() + static_cast<long>(k));
            expected.kind = Kind::NegativeLength;
            expected.offset = at;
            expected.declared = negative;
            ExpectSame(expected, Walk(s), "plain walk, negative length");
            CheckEveryWay(s, rng, false);
        }
    }
}

TEST(StreamScanner, ReasonsInWords) {
    velkorix::test::Lcg rng(13);
    Bytes s;
    Append(s, 0, 120, 120, rng);
    Append(s, 0, 120, 50, rng);
    StreamIndex index = StreamIndex::Build(s.data(), s.size());
    EXPECT_EQ(index.End().offset, 138u);
    EXPECT_EQ(index.End().Reason(), "the input ends inside a record payload (50 of 120 bytes)");
    s.resize(138 + 9);
    EXPECT_EQ(StreamIndex::Build(s.data(), s.size()).End().Reason(), "the input ends inside a record header (9 of 18 bytes)");
    s.resize(138);
    Append(s, 0, -6, 6, rng);
    EXPECT_EQ(StreamIndex::Build(s.data(), s.size()).End().Reason(), "the record declares a negative payload length (-6)");
    s.resize(138);
    EXPECT_EQ(StreamIndex::Build(s.data(), s.size()).End().Reason(), "");
    EXPECT_FALSE(StreamIndex::Build(s.data(), s.size()).End().Damaged());
}

TEST(StreamScanner, HugeDeclaredLengthEndsAsACutPayload) {
    velkorix::test::Lcg rng(14);
    Bytes s;
    Append(s, 0, INT32_MAX, 10, rng);
    PipeSource pipe(s);
    RecordReader reader(pipe);
    Bytes record;
    EXPECT_EQ(reader.Next(record), RecordReader::Status::Damaged);
    EXPECT_EQ(reader.End().Reason(), "the input ends inside a record payload (10 of 2147483647 bytes)");
    EXPECT_LT(record.capacity(), 4u << 20);  // no room reserved for bytes that never came
}

TEST(StreamScanner, ReadErrorsEndTheStreamWithTheSourcesWords) {
    velkorix::test::Lcg rng(15);
    const Bytes s = Varied(rng);
    const Split whole = Walk(s);
    for (std::size_t fail : {0u, 10u, 138u, 150u, 200u}) {
        PipeSource pipe(s, fail);
        RecordReader reader(pipe);
        Bytes record;
        std::size_t records = 0;
        RecordReader::Status status;
        while ((status = reader.Next(record)) == RecordReader::Status::Record) ++records;
        EXPECT_EQ(status, RecordReader::Status::ReadError) << fail;
        EXPECT_EQ(reader.End().Reason(), "the device went away");
        // The records wholly before the failure are read; the failing one is not.
        std::size_t before = 0;
        while (before < whole.records.size() &&
               whole.records[before].offset + 18 + static_cast<uint64_t>(whole.records[before].length) <= fail)
            ++before;
        EXPECT_LE(records, before) << fail;
        EXPECT_GE(records + 1, before) << fail;
        // Asking again keeps the answer.
        EXPECT_EQ(reader.Next(record), RecordReader::Status::ReadError);
    }
}

TEST(StreamReader, StructureScanPassesOverPayloads) {
    velkorix::test::Lcg rng(16);
    Bytes s;
    for (int i = 0; i < 20; ++i) Append(s, 0, 60000, 60000, rng);
    PipeSource pipe(s);
    const StreamIndex viaPipe = StreamIndex::Build(pipe);
    // Over a file the payloads are sought past, not read.
    TempFile file(s);
    velkorix::cli::FileSource source(file.File());
    const StreamIndex viaFile = StreamIndex::Build(source);
    ASSERT_EQ(viaFile.Records().size(), 20u);
    EXPECT_EQ(viaFile.End().kind, Kind::Clean);
    EXPECT_EQ(viaFile.End().offset, s.size());
    EXPECT_LE(std::ftell(file.File()), static_cast<long>(s.size()));
    ExpectSame(FromIndex(viaPipe), FromIndex(viaFile), "pipe and file");
    EXPECT_GT(pipe.Reads(), 20 * 14);  // the pipe had to read every payload (in 4 KiB pieces)
}

TEST(StreamReader, SeekToAnIndexedRecordReadsOnFromThere) {
    velkorix::test::Lcg rng(17);
    const Bytes s = Varied(rng);
    const StreamIndex index = StreamIndex::Build(s.data(), s.size());
    MemorySource memory(s.data(), s.size());
    RecordReader reader(memory);
    Bytes record;
    for (std::size_t k = index.Records().size(); k-- > 0;) {
        ASSERT_TRUE(reader.SeekTo(index.Records()[k].offset));
        std::size_t n = k;
        while (reader.Next(record) == RecordReader::Status::Record) {
            ASSERT_LT(n, index.Records().size());
            EXPECT_EQ(reader.Current().offset, index.Records()[n].offset);
            ++n;
        }
        EXPECT_EQ(n, index.Records().size());
        EXPECT_EQ(reader.End().kind, Kind::Clean);
    }
    EXPECT_FALSE(reader.SeekTo(s.size() + 1));
    PipeSource pipe(s);
    RecordReader unseekable(pipe);
    EXPECT_FALSE(unseekable.SeekTo(0));
}

// The index's output per record is what the filter delivers for it.
TEST(StreamIndex, OutputOfEveryRecordMatchesTheFilter) {
    velkorix::test::Lcg rng(18);
    Bytes s;
    const struct {
        uint8_t format;
        int32_t length;
    } records[] = {{0, 120}, {0, 1},  {0, 2},    {0, 0},     {0, 18750}, {0, 18751}, {0, 40000}, {1, 160},
                   {1, 1},   {2, 0},  {2, 49999}, {2, 50001}, {1, 90000}, {3, 40},    {3, 0},     {3, 25},
                   {3, 400}, {6, 164}, {6, 100},  {6, 0},     {6, 3000},  {4, 30},    {5, 7},     {7, 9},
                   {255, 300}, {9, 6}, {0, 121},  {0, 122}};
    for (const auto &r : records) Append(s, r.format, r.length, static_cast<std::size_t>(r.length), rng);
    const StreamIndex index = StreamIndex::Build(s.data(), s.size());
    ASSERT_EQ(index.Records().size(), std::size(records));

    std::vector<std::size_t> delivered;
    velkorix::cli::FilterRunner runner(8000, 1, [&](const uint8_t *, std::size_t size) { delivered.push_back(size); });
    ASSERT_EQ(runner.Status(), S_OK);
    uint64_t total = 0;
    for (std::size_t k = 0; k < index.Records().size(); ++k) {
        const IndexEntry &e = index.Records()[k];
        delivered.clear();
        runner.Feed(s.data() + e.offset, e.Size());
        // The runner's sink sees only samples with data.
        const std::size_t got = delivered.empty() ? 0 : delivered[0];
        EXPECT_LE(delivered.size(), 1u);
        EXPECT_EQ(static_cast<std::size_t>(e.outputBytes), got) << "format " << int(e.format) << ", length " << e.length;
        EXPECT_EQ(e.outputOffset, total);
        total += got;
    }
    EXPECT_EQ(index.OutputBytes(), total);
}

TEST(StreamIndex, RecordsAtSamplesAndTimes) {
    velkorix::test::Lcg rng(19);
    Bytes s;
    // 320 samples per record, with a record that yields nothing and one of
    // an odd byte count in between.
    for (int i = 0; i < 10; ++i) Append(s, 3, 40, 40, rng);
    Append(s, 0, 0, 0, rng);   // no output
    Append(s, 0, 1, 1, rng);   // 5 bytes
    Append(s, 6, 164, 164, rng);
    const StreamIndex index = StreamIndex::Build(s.data(), s.size());
    ASSERT_EQ(index.Records().size(), 13u);
    EXPECT_EQ(index.OutputBytes(), 10u * 640 + 5 + 640);
    EXPECT_EQ(index.Samples(), (10u * 640 + 5 + 640) / 2);
    for (std::size_t k = 0; k < 10; ++k) {
        const IndexEntry &e = index.Records()[k];
        EXPECT_EQ(e.FirstSample(), 320 * k);
        EXPECT_EQ(index.RecordAtSample(320 * k), k);
        EXPECT_EQ(index.RecordAtSample(320 * k + 319), k);
        // 8000 Hz mono: 40 ms a record, in 100 ns units.
        EXPECT_EQ(index.TimeOf(k, 8000, 1, 10000000), static_cast<int64_t>(400000 * k));
        EXPECT_EQ(index.RecordAtTime(400000 * static_cast<int64_t>(k), 8000, 1, 10000000), k);
        EXPECT_EQ(index.RecordAtTime(400000 * static_cast<int64_t>(k) + 399999, 8000, 1, 10000000), k);
        // Stereo at 16 kHz: 160 frames, 10 ms; in nanoseconds.
        EXPECT_EQ(index.TimeOf(k, 16000, 2, 1000000000), static_cast<int64_t>(10000000 * k));
        EXPECT_EQ(index.RecordAtTime(10000000 * static_cast<int64_t>(k) + 9999999, 16000, 2, 1000000000), k);
    }
    // The empty record is passed over; the 5-byte one holds samples 3200-3202.
    EXPECT_EQ(index.RecordAtSample(3200), 11u);
    EXPECT_EQ(index.RecordAtSample(3202), 11u);  // its last, partial sample
    EXPECT_EQ(index.RecordAtSample(3203), 12u);
    EXPECT_EQ(index.Records()[12].FirstSample(), 3202u);
    EXPECT_EQ(index.RecordAtSample(index.Samples()), 13u);
    EXPECT_EQ(index.RecordAtSample(UINT64_MAX), 13u);
    EXPECT_EQ(index.RecordAtTime(-5, 8000, 1, 10000000), 0u);
    EXPECT_EQ(index.RecordAtTime(INT64_MAX, 8000, 1, 10000000), 13u);
    EXPECT_EQ(index.TimeOf(13, 8000, 1, 10000000), velkorix::stream::SampleTime(index.Samples(), 8000, 1, 10000000));
    // Sample times stay exact far beyond what 64-bit products of samples and units hold.
    EXPECT_EQ(velkorix::stream::SampleTime(8000ull * 86400 * 365 * 100, 8000, 1, 1000000000),
              static_cast<int64_t>(86400ull * 365 * 100 * 1000000000));
}

TEST(StreamIndex, PushModeBuildingMatchesTheWholeBuild) {
    velkorix::test::Lcg rng(20);
    Bytes s = Varied(rng);
    s.resize(s.size() - 3);  // a cut payload at the end
    StreamIndex pushed;
    Scanner scanner;
    for (std::size_t at = 0; at < s.size();) {
        const std::size_t n = std::min<std::size_t>(1 + rng.Below(30), s.size() - at);
        std::size_t used = 0;
        while (used < n) {
            const Scanner::Step step = scanner.Feed(s.data() + at + used, n - used);
            used += step.consumed;
            if (step.event == Scanner::Event::Record) pushed.Add(scanner.Current());
            if (step.event == Scanner::Event::Damaged) break;
        }
        at += n;
    }
    pushed.SetEnd(scanner.Finish());
    const StreamIndex whole = StreamIndex::Build(s.data(), s.size());
    ExpectSame(FromIndex(whole), FromIndex(pushed), "pushed");
    ASSERT_EQ(whole.Records().size(), pushed.Records().size());
    for (std::size_t k = 0; k < whole.Records().size(); ++k) {
        EXPECT_EQ(whole.Records()[k].outputOffset, pushed.Records()[k].outputOffset);
        EXPECT_EQ(whole.Records()[k].outputBytes, pushed.Records()[k].outputBytes);
    }
    EXPECT_EQ(pushed.End().Reason(), whole.End().Reason());
}

TEST(StreamFormat, OutputRuleAndBounds) {
    using velkorix::stream::OutputBytes;
    using velkorix::stream::OutputLengthRule;
    EXPECT_EQ(OutputLengthRule(0, 120), 640);
    EXPECT_EQ(OutputLengthRule(0, 1), 5);
    EXPECT_EQ(OutputLengthRule(0, -6), -32);
    EXPECT_EQ(OutputLengthRule(3, 0), 640);
    EXPECT_EQ(OutputLengthRule(6, -1), 640);
    EXPECT_EQ(OutputLengthRule(1, 160), 320);
    EXPECT_EQ(OutputLengthRule(2, INT32_MAX), 2 * static_cast<int64_t>(INT32_MAX));
    EXPECT_EQ(OutputLengthRule(4, INT32_MAX), static_cast<int64_t>(INT32_MAX) * 16 / 3);
    EXPECT_EQ(OutputBytes(0, 18750), 100000);
    EXPECT_EQ(OutputBytes(0, 18751), 100000);
    EXPECT_EQ(OutputBytes(0, -6), 0);
    EXPECT_EQ(OutputBytes(1, 50001), 100000);
    EXPECT_EQ(OutputBytes(3, 40, 100), 100);
    uint8_t header[18];
    velkorix::stream::WriteHeader(header, 6, -2);
    const auto parsed = velkorix::stream::ParseHeader(header);
    EXPECT_EQ(parsed.format, 6);
    EXPECT_EQ(parsed.length, -2);
    EXPECT_EQ(header[17], 0xFF);
}

}  // namespace
