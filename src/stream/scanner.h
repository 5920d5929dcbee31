// The one parser of the framed stream: an incremental scanner that takes the
// stream's bytes in chunks of any size (as a push-mode pipeline or a socket
// delivers them) and finds the record boundaries and the damage that ends a
// stream. The readers and the index drive it too, so every user of the
// format splits a stream the same way.
//
// A stream ends cleanly at a record boundary. It is damaged, and ends at the
// damaged record, when a header declares a negative payload length or the
// input ends inside a header or a payload; everything before that record is
// intact and usable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "stream/frame_format.h"

namespace velkorix::stream {

// One record as the scanner saw it.
struct RecordInfo {
    uint64_t offset = 0;  // byte offset of its header in the stream
    uint8_t format = 0;
    int32_t length = 0;   // declared payload length
    uint8_t header[kHeaderSize] = {};

    // Header and payload bytes (for a record with a non-negative length).
    uint64_t Size() const { return kHeaderSize + static_cast<uint64_t>(length); }
};

// How a stream ended.
struct StreamEnd {
    enum class Kind {
        Clean,           // at a record boundary (or the input is empty)
        HeaderCut,       // the input ends inside a record header
        PayloadCut,      // the input ends inside a record payload
        NegativeLength,  // a header declares a negative payload length
        ReadError,       // the source failed
    };
    Kind kind = Kind::Clean;
    // Clean: the end of the last record. Otherwise: the offset of the record
    // that could not be taken (for a read error, of the record being read).
    uint64_t offset = 0;
    uint64_t present = 0;   // HeaderCut, PayloadCut: bytes of the header or payload present
    int32_t declared = 0;   // PayloadCut, NegativeLength: the declared length
    std::string error;      // ReadError: the source's words

    bool Damaged() const { return kind == Kind::HeaderCut || kind == Kind::PayloadCut || kind == Kind::NegativeLength; }
    // Why the stream stopped, in words ("" for a clean end).
    std::string Reason() const;
};

class Scanner {
public:
    enum class Event {
        NeedMore,  // every byte given was taken; feed more (or Finish)
        Header,    // a header is complete and a payload of Current().length > 0 bytes follows
        Record,    // a record is complete (its header and payload)
        Damaged,   // the stream cannot go on (a negative length, or it has already
                   // ended): End() says where and why
    };
    struct Step {
        std::size_t consumed;  // bytes taken from the chunk given
        Event event;
    };

    // Takes the next bytes of the stream, up to and including the next
    // event, and returns that event with the number of bytes taken; call
    // again with the rest of the chunk. A header may be split across chunks
    // anywhere (the scanner keeps its bytes); payload bytes are only counted.
    // A record with an empty payload gives Record without Header.
    Step Feed(const uint8_t *data, std::size_t size);

    // Passes over up to `count` bytes of the current payload without their
    // content, for a reader that seeks past payloads: NeedMore while some of
    // the payload is left, Record when it is complete. Only after Header.
    Step SkipPayload(uint64_t count);

    // The input has ended: the stream ends cleanly if no record was begun,
    // else the record in progress is cut short. Returns End().
    const StreamEnd &Finish();

    // Reports a failed source; the stream ends at the record in progress.
    const StreamEnd &Fail(const std::string &error);

    // Starts afresh at a record boundary at stream offset `offset` (after a
    // seek to an indexed record).
    void Restart(uint64_t offset);

    // Stream offset of the next byte to feed.
    uint64_t Position() const { return position_; }
    // Bytes up to the next event: the rest of the header or of the payload.
    uint64_t Wanted() const;
    bool InPayload() const { return state_ == State::Payload; }
    // True once the stream has ended (damage, Finish or Fail).
    bool Ended() const { return state_ == State::Ended; }

    // The record whose header was completed last (its header bytes, format,
    // length, offset); after NegativeLength damage, the damaged record.
    const RecordInfo &Current() const { return current_; }
    const StreamEnd &End() const { return end_; }

private:
    enum class State { Header, Payload, Ended };

    State state_ = State::Header;
    uint64_t position_ = 0;
    std::size_t headerHave_ = 0;  // header bytes collected
    uint64_t payloadLeft_ = 0;
    RecordInfo current_;
    StreamEnd end_;
};

}  // namespace velkorix::stream
