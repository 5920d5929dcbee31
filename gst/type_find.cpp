#include "type_find.h"

#include "filter/codec_context.h"
#include "stream/frame_format.h"
#include "stream/scanner.h"

namespace velkorix::gst {
namespace {

bool Decodable(uint8_t format) { return format < kAudioFormatCount && kAudioFormatTable[format] >= 0; }

int ProbabilityFor(int decodable) {
    if (decodable <= 0) return 0;
    if (decodable == 1) return 20;
    if (decodable == 2) return 40;
    if (decodable == 3) return 60;
    if (decodable == 4) return 75;
    if (decodable < 8) return 90;
    return 99;
}

}  // namespace

TypeFindResult FindStreamType(PeekFunction peek, void *context, uint64_t length) {
    TypeFindResult result;
    // The scanner reads each header and passes over its payload, which is
    // never peeked: only the headers the chain leads to are looked at.
    stream::Scanner scanner;
    int others = 0;
    bool pending = false;  // a record read whose successor is not yet confirmed
    bool pendingDecodable = false;
    for (;;) {
        const uint64_t offset = scanner.Position();
        if (result.records >= kTypeFindRecords || offset > kTypeFindBytes) break;
        if (pending && length > 0 && offset == length) {
            // The last record ends exactly where the input does.
            ++result.records;
            result.decodable += pendingDecodable ? 1 : 0;
            others += pendingDecodable ? 0 : 1;
            result.wholeInput = true;
            break;
        }
        const uint8_t *header = peek(context, offset, stream::kHeaderSize);
        if (!header) break;
        const stream::Scanner::Step step = scanner.Feed(header, stream::kHeaderSize);
        if (step.event == stream::Scanner::Event::Damaged) break;  // a negative length
        const stream::RecordInfo &record = scanner.Current();
        if (record.length > kTypeFindLongestPayload) break;
        if (pending) {
            // A sound header follows the previous record: that one counts.
            ++result.records;
            result.decodable += pendingDecodable ? 1 : 0;
            others += pendingDecodable ? 0 : 1;
        }
        const bool decodable = Decodable(record.format) && record.length > 0;
        if (offset == 0 && !decodable) return TypeFindResult{};
        pending = true;
        pendingDecodable = decodable;
        if (step.event == stream::Scanner::Event::Header)
            scanner.SkipPayload(static_cast<uint64_t>(record.length));
    }
    if (result.decodable == 0 || 2 * others >= result.decodable) return TypeFindResult{};
    result.probability = ProbabilityFor(result.decodable);
    if (result.wholeInput) result.probability = result.decodable >= 2 ? 100 : 80;
    return result;
}

}  // namespace velkorix::gst
