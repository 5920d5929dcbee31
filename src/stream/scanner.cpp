#include "stream/scanner.h"

#include <algorithm>
#include <cstring>

namespace velkorix::stream {

std::string StreamEnd::Reason() const {
    switch (kind) {
        case Kind::Clean: return "";
        case Kind::HeaderCut:
            return "the input ends inside a record header (" + std::to_string(present) + " of " +
                   std::to_string(kHeaderSize) + " bytes)";
        case Kind::PayloadCut:
            return "the input ends inside a record payload (" + std::to_string(present) + " of " +
                   std::to_string(declared) + " bytes)";
        case Kind::NegativeLength:
            return "the record declares a negative payload length (" + std::to_string(declared) + ")";
        case Kind::ReadError: return error;
    }
    return "";
}

Scanner::Step Scanner::Feed(const uint8_t *data, std::size_t size) {
    switch (state_) {
        case State::Ended: return {0, Event::Damaged};
        case State::Payload: return SkipPayload(std::min<uint64_t>(payloadLeft_, size));
        case State::Header: break;
    }
    if (headerHave_ == 0) current_.offset = position_;
    const std::size_t take = std::min(static_cast<std::size_t>(kHeaderSize) - headerHave_, size);
    if (take > 0) std::memcpy(current_.header + headerHave_, data, take);
    headerHave_ += take;
    position_ += take;
    if (headerHave_ < static_cast<std::size_t>(kHeaderSize)) return {take, Event::NeedMore};

    headerHave_ = 0;
    const RecordHeader header = ParseHeader(current_.header);
    current_.format = header.format;
    current_.length = header.length;
    if (header.length < 0) {
        state_ = State::Ended;
        end_ = StreamEnd{};
        end_.kind = StreamEnd::Kind::NegativeLength;
        end_.offset = current_.offset;
        end_.declared = header.length;
        return {take, Event::Damaged};
    }
    if (header.length == 0) return {take, Event::Record};
    state_ = State::Payload;
    payloadLeft_ = static_cast<uint64_t>(header.length);
    return {take, Event::Header};
}

Scanner::Step Scanner::SkipPayload(uint64_t count) {
    if (state_ != State::Payload) return {0, state_ == State::Ended ? Event::Damaged : Event::NeedMore};
    const uint64_t take = std::min(payloadLeft_, count);
    payloadLeft_ -= take;
    position_ += take;
    if (payloadLeft_ > 0) return {static_cast<std::size_t>(take), Event::NeedMore};
    state_ = State::Header;
    return {static_cast<std::size_t>(take), Event::Record};
}

uint64_t Scanner::Wanted() const {
    switch (state_) {
        case State::Header: return static_cast<uint64_t>(kHeaderSize) - headerHave_;
        case State::Payload: return payloadLeft_;
        case State::Ended: break;
    }
    return 0;
}

const StreamEnd &Scanner::Finish() {
    if (state_ == State::Ended) return end_;
    end_ = StreamEnd{};
    if (state_ == State::Header && headerHave_ == 0) {
        end_.kind = StreamEnd::Kind::Clean;
        end_.offset = position_;
    } else if (state_ == State::Header) {
        end_.kind = StreamEnd::Kind::HeaderCut;
        end_.offset = current_.offset;
        end_.present = headerHave_;
    } else {
        end_.kind = StreamEnd::Kind::PayloadCut;
        end_.offset = current_.offset;
        end_.declared = current_.length;
        end_.present = static_cast<uint64_t>(current_.length) - payloadLeft_;
    }
    state_ = State::Ended;
    return end_;
}

const StreamEnd &Scanner::Fail(const std::string &error) {
    if (state_ == State::Ended) return end_;
    end_ = StreamEnd{};
    end_.kind = StreamEnd::Kind::ReadError;
    end_.offset = state_ == State::Header && headerHave_ == 0 ? position_ : current_.offset;
    end_.error = error;
    state_ = State::Ended;
    return end_;
}

void Scanner::Restart(uint64_t offset) {
    state_ = State::Header;
    position_ = offset;
    headerHave_ = 0;
    payloadLeft_ = 0;
    current_ = RecordInfo{};
    end_ = StreamEnd{};
}

}  // namespace velkorix::stream
