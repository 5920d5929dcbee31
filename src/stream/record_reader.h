// Pull-mode reading of a framed stream from a byte source, record by record:
// whole records for decoding, or only their headers (passing over payloads)
// for a structure scan, and repositioning at indexed record boundaries.
#pragma once

#include <cstdint>
#include <vector>

#include "stream/byte_source.h"
#include "stream/scanner.h"

namespace velkorix::stream {

class RecordReader {
public:
    enum class Status {
        Record,     // a whole record was read
        End,        // clean end of the stream
        Damaged,    // the stream ends at a damaged record: End() says where and why
        ReadError,  // the source failed: End().error says why
    };

    explicit RecordReader(ByteSource &source) : source_(source) {}

    // Reads the next record, header and payload, into `record`.
    Status Next(std::vector<uint8_t> &record);

    // Reads the next record's header and passes over its payload without
    // reading it (the source skips); Current() describes the record. Record
    // only when the whole payload is present.
    Status NextHeader();

    // Moves to the record boundary at stream offset `offset` (an offset from
    // an index) and reads on from there. False when the source cannot seek
    // there; the reader is then unchanged.
    bool SeekTo(uint64_t offset);

    // The record read last (on damage: the damaged record).
    const RecordInfo &Current() const { return scanner_.Current(); }
    // How the stream ended, once Next or NextHeader returned something other
    // than Record.
    const StreamEnd &End() const { return scanner_.End(); }
    // Stream offset of the next byte the reader takes.
    uint64_t Position() const { return scanner_.Position(); }

private:
    // Reads a header into the scanner; Record for a complete record without
    // payload, Record with `*payloadFollows` set when a payload follows, or
    // the status that ends the stream.
    Status ReadHeader(uint8_t *header, bool *payloadFollows);
    Status Ended();
    Status Failed();

    ByteSource &source_;
    Scanner scanner_;
};

}  // namespace velkorix::stream
