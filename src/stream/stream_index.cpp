#include "stream/stream_index.h"

#include <algorithm>

#include "stream/record_reader.h"

namespace velkorix::stream {

StreamEnd WalkRecords(ByteSource &source, const std::function<void(const RecordInfo &)> &onRecord) {
    RecordReader reader(source);
    while (reader.NextHeader() == RecordReader::Status::Record) onRecord(reader.Current());
    return reader.End();
}

StreamIndex StreamIndex::Build(ByteSource &source) {
    StreamIndex index;
    index.SetEnd(WalkRecords(source, [&](const RecordInfo &record) { index.Add(record); }));
    return index;
}

StreamIndex StreamIndex::Build(const uint8_t *data, std::size_t size) {
    MemorySource source(data, size);
    return Build(source);
}

void StreamIndex::Add(const RecordInfo &record) {
    IndexEntry entry;
    entry.offset = record.offset;
    entry.outputOffset = outputBytes_;
    entry.length = record.length;
    entry.outputBytes = stream::OutputBytes(record.format, record.length);
    entry.format = record.format;
    records_.push_back(entry);
    outputBytes_ += static_cast<uint64_t>(entry.outputBytes);
}

std::size_t StreamIndex::RecordAtSample(uint64_t sample) const {
    if (sample >= Samples()) return records_.size();
    // The first record whose output reaches past the sample's first byte.
    const uint64_t byte = sample * kBytesPerSample;
    const auto found = std::upper_bound(records_.begin(), records_.end(), byte, [](uint64_t b, const IndexEntry &e) {
        return b < e.outputOffset + static_cast<uint64_t>(e.outputBytes);
    });
    return static_cast<std::size_t>(found - records_.begin());
}

std::size_t StreamIndex::RecordAtTime(int64_t time, int rate, int channels, int64_t unitsPerSecond) const {
    if (time <= 0 || rate <= 0 || channels <= 0 || unitsPerSecond <= 0) return RecordAtSample(0);
    const uint64_t t = static_cast<uint64_t>(time);
    const uint64_t units = static_cast<uint64_t>(unitsPerSecond);
    const uint64_t r = static_cast<uint64_t>(rate);
    const uint64_t frames = t / units * r + t % units * r / units;
    return RecordAtSample(frames * static_cast<uint64_t>(channels));
}

int64_t StreamIndex::TimeOf(std::size_t record, int rate, int channels, int64_t unitsPerSecond) const {
    const uint64_t sample = record < records_.size() ? records_[record].FirstSample() : Samples();
    return SampleTime(sample, rate, channels, unitsPerSecond);
}

std::size_t DecodeStartFor(const StreamIndex &index, std::size_t target, int bytesPerFrame,
                           DecoderOfFormat decoderOf) {
    const auto &records = index.Records();
    if (records.empty() || !decoderOf) return 0;
    if (target >= records.size()) target = records.size() - 1;
    const uint64_t frame = bytesPerFrame > 0 ? static_cast<uint64_t>(bytesPerFrame) : 1;
    std::size_t start = 0;
    int held = -1;  // the type of the decoder the filter holds before record k
    for (std::size_t k = 0; k <= target; ++k) {
        const FormatDecoder decoder = decoderOf(records[k].format);
        if (decoder.type < 0) continue;
        if ((decoder.type != held || !decoder.carriesState) && records[k].outputOffset % frame == 0) start = k;
        held = decoder.type;
    }
    return start;
}

}  // namespace velkorix::stream
