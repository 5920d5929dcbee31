#include "stream/record_reader.h"

#include <algorithm>

namespace velkorix::stream {
namespace {
// Payloads are read in pieces of this size, so that a declared length far
// beyond the input does not reserve memory for bytes that never arrive.
constexpr uint64_t kChunk = 1 << 20;
}  // namespace

RecordReader::Status RecordReader::Ended() {
    switch (scanner_.End().kind) {
        case StreamEnd::Kind::Clean: return Status::End;
        case StreamEnd::Kind::ReadError: return Status::ReadError;
        default: return Status::Damaged;
    }
}

RecordReader::Status RecordReader::Failed() {
    scanner_.Fail(source_.Error());
    return Status::ReadError;
}

RecordReader::Status RecordReader::ReadHeader(uint8_t *header, bool *payloadFollows) {
    *payloadFollows = false;
    if (scanner_.Ended()) return Ended();
    const std::size_t got = source_.Read(header, kHeaderSize);
    if (source_.Failed()) return Failed();
    switch (scanner_.Feed(header, got).event) {
        case Scanner::Event::Record: return Status::Record;
        case Scanner::Event::Header: *payloadFollows = true; return Status::Record;
        case Scanner::Event::Damaged: return Ended();
        case Scanner::Event::NeedMore: break;
    }
    scanner_.Finish();
    return Ended();
}

RecordReader::Status RecordReader::Next(std::vector<uint8_t> &record) {
    record.clear();
    uint8_t header[kHeaderSize];
    bool payloadFollows = false;
    const Status status = ReadHeader(header, &payloadFollows);
    if (status != Status::Record) return status;
    record.assign(header, header + kHeaderSize);
    while (payloadFollows) {
        const std::size_t want = static_cast<std::size_t>(std::min(kChunk, scanner_.Wanted()));
        const std::size_t old = record.size();
        record.resize(old + want);
        const std::size_t got = source_.Read(record.data() + old, want);
        record.resize(old + got);
        if (source_.Failed()) return Failed();
        if (scanner_.Feed(record.data() + old, got).event == Scanner::Event::Record) return Status::Record;
        if (got < want) {
            scanner_.Finish();
            return Ended();
        }
    }
    return Status::Record;
}

RecordReader::Status RecordReader::NextHeader() {
    uint8_t header[kHeaderSize];
    bool payloadFollows = false;
    const Status status = ReadHeader(header, &payloadFollows);
    if (status != Status::Record || !payloadFollows) return status;
    const uint64_t wanted = scanner_.Wanted();
    const uint64_t skipped = source_.Skip(wanted);
    if (source_.Failed()) return Failed();
    if (scanner_.SkipPayload(skipped).event == Scanner::Event::Record) return Status::Record;
    scanner_.Finish();
    return Ended();
}

bool RecordReader::SeekTo(uint64_t offset) {
    if (!source_.Seek(offset)) return false;
    scanner_.Restart(offset);
    return true;
}

}  // namespace velkorix::stream
