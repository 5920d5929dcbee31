// A framed stream through the decoding filter (input sample in, Transform,
// output sample delivered) against the same decoder called directly on the
// same payloads.
#include <cstring>
#include <memory>
#include <string>

#include "filter_runner.h"
#include "g726_stream/g726_stream.h"
#include "rows.h"

namespace bench {
namespace {

// Records of the framed stream: the 18-byte header, then the payload.
std::vector<uint8_t> Frame(uint8_t format, const std::vector<uint8_t> &payloads, std::size_t payloadSize,
                           std::vector<std::size_t> *offsets) {
    std::vector<uint8_t> records;
    for (std::size_t at = 0; at + payloadSize <= payloads.size(); at += payloadSize) {
        offsets->push_back(records.size());
        uint8_t header[velkorix::kFrameHeaderSize] = {};
        header[velkorix::kFrameFormatOffset] = format;
        const auto length = static_cast<uint32_t>(payloadSize);
        for (int k = 0; k < 4; ++k) header[velkorix::kFrameLengthOffset + k] = static_cast<uint8_t>(length >> (8 * k));
        records.insert(records.end(), header, header + sizeof header);
        records.insert(records.end(), payloads.begin() + static_cast<long>(at),
                       payloads.begin() + static_cast<long>(at + payloadSize));
    }
    return records;
}

// Feeds every record through one filter; collects the output when asked.
struct FilterStream {
    std::vector<uint8_t> records;
    std::vector<std::size_t> offsets;
    std::size_t recordSize = 0;
    std::vector<int16_t> collected;
    bool collect = false;
    velkorix::cli::FilterRunner runner{8000, 1, [this](const uint8_t *data, std::size_t size) {
                                           if (!collect) return;
                                           const std::size_t at = collected.size();
                                           collected.resize(at + size / 2);
                                           std::memcpy(collected.data() + at, data, size / 2 * 2);
                                       }};
    void Pass() {
        for (std::size_t offset : offsets) runner.Feed(records.data() + offset, recordSize);
    }
};

}  // namespace

void AddFilterRows(std::vector<Row> &rows, const Input &input) {
    // Format 0: G.726 24 kbit/s packed stream, 120-byte payloads.
    {
        constexpr std::size_t kPayload = 120;
        auto payloads = std::make_shared<std::vector<uint8_t>>(PackedStream24(input.pcm));
        payloads->resize(payloads->size() / kPayload * kPayload);
        auto filter = std::make_shared<FilterStream>();
        filter->records = Frame(0, *payloads, kPayload, &filter->offsets);
        filter->recordSize = velkorix::kFrameHeaderSize + kPayload;
        auto direct = std::shared_ptr<G726StreamDecoder>(G726StreamDecoderCreate(), G726StreamDecoderDestroy);
        auto out = std::make_shared<std::vector<int16_t>>(payloads->size() * 8 / 3);
        auto directPass = [payloads, direct, out] {
            for (std::size_t at = 0; at < payloads->size(); at += kPayload)
                G726StreamDecoderDecode(direct.get(), payloads->data() + at, out->data() + at * 8 / 3, kPayload);
        };

        Row row;
        row.name = "filter, format 0 (G.726 24k stream)";
        row.samples = out->size();
        row.ours = {"through the filter", [filter] { filter->Pass(); }};
        row.peers = {{"decoder called directly", directPass}};
        row.note = "records of an 18-byte header and a 120-byte payload (320 samples)";
        row.check = [payloads, out] {
            FilterStream fresh;
            fresh.records = Frame(0, *payloads, kPayload, &fresh.offsets);
            fresh.recordSize = velkorix::kFrameHeaderSize + kPayload;
            fresh.collect = true;
            fresh.Pass();
            std::vector<int16_t> reference(out->size());
            G726StreamDecoder *d = G726StreamDecoderCreate();
            for (std::size_t at = 0; at < payloads->size(); at += kPayload)
                G726StreamDecoderDecode(d, payloads->data() + at, reference.data() + at * 8 / 3, kPayload);
            G726StreamDecoderDestroy(d);
            const std::string m = Mismatch(fresh.collected, reference);
            return Check{m.empty(), m.empty() ? "bit-exact = direct decode" : "differs from direct decode: " + m};
        };
        rows.push_back(std::move(row));
    }
}

}  // namespace bench
