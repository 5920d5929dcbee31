// The framed stream layer on any bytes: the scanner fed in chunks whose sizes
// the input chooses, the record reader over memory and over the tool's file
// source, and the index (payloads passed over) must split the input the same
// way, and the index must hold together (records chain from offset 0, output
// offsets add up, lookups land on the record that holds the sample).
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "file_source.h"
#include "stream/record_reader.h"
#include "stream/scanner.h"
#include "stream/stream_index.h"

namespace {

using namespace velkorix::stream;

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

void SameEnd(const StreamEnd &a, const StreamEnd &b) {
    Check(a.kind == b.kind && a.offset == b.offset && a.present == b.present && a.declared == b.declared);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const StreamIndex index = StreamIndex::Build(data, size);
    const auto &records = index.Records();

    // The index holds together.
    uint64_t offset = 0, output = 0;
    for (const IndexEntry &e : records) {
        Check(e.offset == offset && e.length >= 0 && e.offset + e.Size() <= size);
        Check(e.format == data[e.offset + kFormatOffset]);
        Check(e.outputOffset == output && e.outputBytes >= 0 && e.outputBytes <= kOutputBufferBytes);
        Check(e.outputBytes == OutputBytes(e.format, e.length));
        offset += e.Size();
        output += static_cast<uint64_t>(e.outputBytes);
    }
    Check(index.OutputBytes() == output);
    const StreamEnd &end = index.End();
    Check(end.kind != StreamEnd::Kind::ReadError);
    Check(end.offset == offset);
    Check((end.kind == StreamEnd::Kind::Clean) == (offset == size));
    for (std::size_t k = 0; k < records.size(); ++k) {
        const IndexEntry &e = records[k];
        if (e.outputBytes >= 2 && e.outputOffset % 2 == 0) Check(index.RecordAtSample(e.FirstSample()) == k);
    }
    Check(index.RecordAtSample(index.Samples()) == records.size());

    // Whole records over memory: the same records and bytes.
    {
        MemorySource memory(data, size);
        RecordReader reader(memory);
        std::vector<uint8_t> record;
        std::size_t k = 0;
        while (reader.Next(record) == RecordReader::Status::Record) {
            Check(k < records.size() && reader.Current().offset == records[k].offset);
            Check(record.size() == records[k].Size() && std::memcmp(record.data(), data + records[k].offset, record.size()) == 0);
            ++k;
        }
        Check(k == records.size());
        SameEnd(reader.End(), end);
    }

    // The scanner in chunks: sizes from the input's own bytes (1 to 64).
    {
        Scanner scanner;
        std::size_t k = 0, at = 0, pick = 0;
        while (at < size && !scanner.Ended()) {
            const std::size_t n = std::min<std::size_t>(1 + data[pick++ % size] % 64, size - at);
            std::size_t used = 0;
            while (used < n) {
                const Scanner::Step step = scanner.Feed(data + at + used, n - used);
                used += step.consumed;
                if (step.event == Scanner::Event::Record) {
                    Check(k < records.size() && scanner.Current().offset == records[k].offset &&
                          scanner.Current().length == records[k].length);
                    ++k;
                }
                if (step.event == Scanner::Event::Damaged) break;
            }
            at += n;
        }
        Check(k == records.size());
        SameEnd(scanner.Finish(), end);
    }

    // The tool's file source over a stdio stream, read whole and skipped.
    if (size > 0) {
        std::FILE *file = fmemopen(const_cast<uint8_t *>(data), size, "rb");
        if (file) {
            velkorix::cli::FileSource source(file);
            const StreamIndex viaFile = StreamIndex::Build(source);
            Check(viaFile.Records().size() == records.size());
            SameEnd(viaFile.End(), end);
            std::fclose(file);
        }
    }
    return 0;
}
