// A framed stream through the decoding filter against the same decoder called
// directly on the same payloads: once through the filter's Transform (the
// filter's own work per sample) and once through the whole stand-in graph
// (receive, output sample from the allocator, delivery), whose platform part
// on Windows is the system's own.
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

#include "filter_runner.h"
#include "g726_stream/g726_stream.h"
#include "g729/g729_decoder.h"
#include "peers.h"
#include "rows.h"
#include "stream/frame_format.h"
#include "velkorix/qx_voice.h"

namespace bench {
namespace {

using namespace velkorix::g726_stream;
using namespace velkorix::g729;

// Records of the framed stream: the 18-byte header, then the payload.
std::vector<uint8_t> Frame(uint8_t format, const std::vector<uint8_t> &payloads, std::size_t payloadSize,
                           std::vector<std::size_t> *offsets) {
    std::vector<uint8_t> records;
    for (std::size_t at = 0; at + payloadSize <= payloads.size(); at += payloadSize) {
        offsets->push_back(records.size());
        uint8_t header[velkorix::stream::kHeaderSize];
        velkorix::stream::WriteHeader(header, format, static_cast<int32_t>(payloadSize));
        records.insert(records.end(), header, header + sizeof header);
        records.insert(records.end(), payloads.begin() + static_cast<long>(at),
                       payloads.begin() + static_cast<long>(at + payloadSize));
    }
    return records;
}

// Feeds every record through one filter in the stand-in graph (input sample
// received, output sample from the allocator, delivered to a sink); collects
// the output when asked.
// The records of one row and, when asked, what came out of them.
struct Records {
    std::vector<uint8_t> records;
    std::vector<std::size_t> offsets;
    std::size_t recordSize = 0;
    std::vector<int16_t> collected;
    bool collect = false;
    void Collect(const uint8_t *data, std::size_t size) {
        if (!collect) return;
        const std::size_t at = collected.size();
        collected.resize(at + size / 2);
        std::memcpy(collected.data() + at, data, size / 2 * 2);
    }
};

struct GraphStream : Records {
    velkorix::cli::FilterRunner runner{8000, 1,
                                       [this](const uint8_t *data, std::size_t size) { Collect(data, size); }};
    void Pass() {
        for (std::size_t offset : offsets) runner.Feed(records.data() + offset, recordSize);
    }
    void Prepare() {}
};

// Calls the filter's Transform on every record, as the platform does for each
// input sample: the input samples (made before timing, one per record, as
// the upstream filter hands them over) point at the records, the output
// sample is one buffer of the size the filter asks its allocator for.
struct TransformStream : Records {
    std::vector<BYTE> buffer = std::vector<BYTE>(velkorix::kOutputBufferSize);
    velkorix::cli::FilterRunner runner{8000, 1, [](const uint8_t *, std::size_t) {}};
    std::vector<velkorix::MediaSample *> inputs;
    velkorix::MediaSample *output = velkorix::MediaSample::Wrap(buffer.data(), velkorix::kOutputBufferSize);
    ~TransformStream() {
        for (auto *input : inputs) input->Release();
        output->Release();
    }
    void Prepare() {
        for (std::size_t offset : offsets)
            inputs.push_back(velkorix::MediaSample::Wrap(records.data() + offset, static_cast<LONG>(recordSize)));
    }
    void Pass() {
        velkorix::AudioDecoderFilter &filter = runner.Filter();
        for (velkorix::MediaSample *input : inputs) {
            filter.Transform(input, output);
            Collect(buffer.data(), static_cast<std::size_t>(output->GetActualDataLength()));
        }
    }
};

template <class Stream>
std::shared_ptr<Stream> MakeStream(uint8_t format, const std::vector<uint8_t> &payloads, std::size_t payloadSize) {
    auto stream = std::make_shared<Stream>();
    stream->records = Frame(format, payloads, payloadSize, &stream->offsets);
    stream->recordSize = velkorix::stream::kHeaderSize + payloadSize;
    stream->Prepare();
    return stream;
}

// Two rows per format: `payloads` (each `payloadSize` bytes) as records of
// `format` through the filter's Transform, and through the whole stand-in
// graph, each against `direct`, which decodes the same payloads from a fresh
// decoder state with the decoder behind that format into its argument
// (resized to the samples decoded). The filter delivers `delivered` samples
// of every `perRecord` decoded (all of them when 0).
template <class Stream>
void AddFilterRow(std::vector<Row> &rows, const std::string &name, uint8_t format,
                  std::shared_ptr<std::vector<uint8_t>> payloads, std::size_t payloadSize,
                  std::function<void(std::vector<int16_t> &)> direct, std::string note, std::size_t perRecord,
                  std::size_t delivered) {
    auto stream = MakeStream<Stream>(format, *payloads, payloadSize);
    auto scratch = std::make_shared<std::vector<int16_t>>();
    direct(*scratch);  // sizes the buffer and warms the decoder
    Row row;
    row.name = name;
    row.samples = scratch->size();
    row.records = stream->offsets.size();
    row.ours = {std::is_same_v<Stream, TransformStream> ? "Transform" : "through the stand-in graph",
                [stream] { stream->Pass(); }};
    row.peers = {{"decoder called directly", [direct, scratch] { direct(*scratch); }}};
    row.note = std::move(note);
    row.check = [format, payloads, payloadSize, direct, perRecord, delivered] {
        auto fresh = MakeStream<Stream>(format, *payloads, payloadSize);
        fresh->collect = true;
        fresh->Pass();
        std::vector<int16_t> decoded, reference;
        direct(decoded);
        for (std::size_t i = 0; i < decoded.size(); ++i)
            if (perRecord == 0 || i % perRecord < delivered) reference.push_back(decoded[i]);
        const std::string m = Mismatch(fresh->collected, reference);
        return Check{m.empty(), m.empty() ? "bit-exact = direct decode" : "differs from direct decode: " + m};
    };
    rows.push_back(std::move(row));
}

void AddFilterRows(std::vector<Row> &rows, const std::string &name, uint8_t format,
                   std::shared_ptr<std::vector<uint8_t>> payloads, std::size_t payloadSize,
                   std::function<void(std::vector<int16_t> &)> direct, const std::string &note,
                   std::size_t perRecord = 0, std::size_t delivered = 0) {
    AddFilterRow<TransformStream>(rows, "filter, " + name, format, payloads, payloadSize, direct, note, perRecord,
                                  delivered);
    AddFilterRow<GraphStream>(rows, "graph, " + name, format, payloads, payloadSize, direct,
                              note + "; input sample received, output sample from the allocator and delivered",
                              perRecord, delivered);
}

}  // namespace

void AddFilterRows(std::vector<Row> &rows, const Input &input) {
    // Format 0: G.726 24 kbit/s packed stream, 120-byte payloads.
    {
        constexpr std::size_t kPayload = 120;
        auto payloads = std::make_shared<std::vector<uint8_t>>(PackedStream24(input.pcm));
        payloads->resize(payloads->size() / kPayload * kPayload);
        auto direct = [payloads](std::vector<int16_t> &out) {
            out.resize(payloads->size() * 8 / 3);
            G726StreamDecoder *d = G726StreamDecoderCreate();
            for (std::size_t at = 0; at < payloads->size(); at += kPayload)
                G726StreamDecoderDecode(d, payloads->data() + at, out.data() + at * 8 / 3, kPayload);
            G726StreamDecoderDestroy(d);
        };
        AddFilterRows(rows, "format 0 (G.726 24k stream)", 0, payloads, kPayload, direct,
                     "records of an 18-byte header and a 120-byte payload (320 samples)");
    }

    // Formats 1 and 2: G.711 codes, one per byte, through the voice library.
    for (int law = 0; law < 2; ++law) {
        const int16_t type = law == 0 ? G711_A : G711_U;
        const std::size_t n = static_cast<std::size_t>(input.frameSamples);
        auto payloads = std::make_shared<std::vector<uint8_t>>(input.pcm.size());
        peer::SpandspG711Encode(law, input.pcm.data(), payloads->data(), static_cast<int>(input.pcm.size()));
        // The same codes as voice frames, made before timing.
        auto frames = std::make_shared<std::vector<VoiceFrame>>(payloads->size() / n);
        for (std::size_t f = 0; f < frames->size(); ++f) {
            VoiceFrame &frame = (*frames)[f];
            frame.flags[0] = 0x00;
            frame.flags[1] = 0x01;
            frame.length = static_cast<uint8_t>(n / 2);
            frame.lengthHigh = 0;
            std::memcpy(frame.payload, payloads->data() + f * n, n);
        }
        auto state = std::make_shared<VoiceState>();
        auto direct = [frames, state, type](std::vector<int16_t> &out) {
            QX_VOICE_DecReset(state.get(), type);
            out.resize(frames->size() * 2 * (*frames)[0].length);
            int16_t *pcm = out.data();
            for (VoiceFrame &frame : *frames) {
                int16_t count = 0;
                QX_VOICE_DecodeFrame(state.get(), &frame, pcm, &count);
                pcm += count;
            }
        };
        AddFilterRows(rows, law == 0 ? "format 1 (G.711 A-law)" : "format 2 (G.711 u-law)",
                     static_cast<uint8_t>(law + 1), payloads, n, direct,
                     "records of an 18-byte header and " + std::to_string(n) + " codes");
    }

    // Format 3: G.729 Annex A, four 10-byte frames per record.
    {
        auto payloads = std::make_shared<std::vector<uint8_t>>(peer::Bcg729Encode(input.pcm));
        payloads->resize(payloads->size() / 40 * 40);
        auto direct = [payloads](std::vector<int16_t> &out) {
            out.resize(payloads->size() * 8);
            G729Decoder *decoder = G729Decoder_Create();
            for (std::size_t f = 0; f < payloads->size() / 10; ++f) {
                std::memcpy(decoder->inputFrame, payloads->data() + 10 * f, 10);
                G729Decoder_DecodeFrame(decoder);
                std::memcpy(out.data() + 80 * f, decoder->outputPcm, 160);
            }
            G729Decoder_Destroy(decoder);
        };
        AddFilterRows(rows, "format 3 (G.729 Annex A)", 3, payloads, 40, direct,
                     "records of an 18-byte header and four frames");
    }

    // Format 6: IMA ADPCM with the first sample in the header, 321 samples
    // from a 164-byte payload (voice type 35).
    {
        constexpr int kSamples = 321;
        VoiceState encoder;
        QX_VOICE_EncReset(&encoder, ADPCM_FIRST);
        auto payloads = std::make_shared<std::vector<uint8_t>>();
        auto frames = std::make_shared<std::vector<VoiceFrame>>();
        for (std::size_t at = 0; at + kSamples <= input.pcm.size(); at += kSamples) {
            VoiceFrame frame;
            QX_VOICE_EncodeFrame(&encoder, input.pcm.data() + at, &frame, kSamples);
            frames->push_back(frame);
            payloads->insert(payloads->end(), frame.payload, frame.payload + 2 * frame.length);
        }
        const std::size_t payloadSize = 2 * static_cast<std::size_t>((*frames)[0].length);
        auto state = std::make_shared<VoiceState>();
        auto direct = [frames, state](std::vector<int16_t> &out) {
            QX_VOICE_DecReset(state.get(), ADPCM_FIRST);
            out.resize(frames->size() * kSamples);
            int16_t *pcm = out.data();
            for (VoiceFrame &frame : *frames) {
                int16_t count = 0;
                QX_VOICE_DecodeFrame(state.get(), &frame, pcm, &count);
                pcm += count;
            }
        };
        // The filter delivers 640 bytes per record: the first 320 samples.
        AddFilterRows(rows, "format 6 (IMA ADPCM)", 6, payloads, payloadSize, direct,
                     "records of an 18-byte header and a 164-byte payload (321 samples, 320 delivered)", kSamples,
                     320);
    }
}

}  // namespace bench
