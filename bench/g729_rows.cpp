// G.729 Annex A decoding: this decoder against bcg729 and libavcodec on the
// frames bcg729's encoder makes of the input. The decoders are not meant to
// agree bit for bit (floating point here, fixed point in bcg729); the row
// states the signal-to-noise ratio of this decoder's output against bcg729's.
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "g729/g729_decoder.h"
#include "peers.h"
#include "rows.h"

namespace bench {

using namespace velkorix::g729;

namespace {

// The least SNR against bcg729 that the row accepts, over the whole input
// (speech and noise).
constexpr double kSnrFloorDb = 30.0;

void Quiet(void *, const char *) {}

double SnrDb(const std::vector<int16_t> &reference, const std::vector<int16_t> &output) {
    double signal = 0, noise = 0;
    const std::size_t n = std::min(reference.size(), output.size());
    for (std::size_t i = 0; i < n; ++i) {
        const double r = reference[i], e = r - output[i];
        signal += r * r;
        noise += e * e;
    }
    return noise == 0 ? 200.0 : 10.0 * std::log10(signal / noise);
}

struct G729Data {
    std::vector<uint8_t> frames;  // 10 bytes each, plus libavcodec's padding
    std::size_t count = 0;        // frames
    std::vector<int16_t> out;
    peer::Bcg729Decoder bcg729;
    peer::AvDecoder av{peer::AvDecoder::Codec::G729, 0};

    void PassOurs() {
        G729Decoder *d = G729Decoder_Create();
        for (std::size_t f = 0; f < count; ++f) {
            std::memcpy(d->inputFrame, frames.data() + 10 * f, 10);
            G729Decoder_DecodeFrame(d);
            std::memcpy(out.data() + 80 * f, d->outputPcm, 160);
        }
        G729Decoder_Destroy(d);
    }
    void PassBcg729() {
        bcg729.Reset();
        for (std::size_t f = 0; f < count; ++f) bcg729.DecodeFrame(frames.data() + 10 * f, out.data() + 80 * f);
    }
    void PassAv() {
        av.Reset();
        std::size_t written = 0;
        constexpr std::size_t kPacketFrames = 10;
        for (std::size_t f = 0; f < count; f += kPacketFrames) {
            const std::size_t n = std::min(kPacketFrames, count - f);
            written += static_cast<std::size_t>(av.Decode(frames.data() + 10 * f, static_cast<int>(10 * n), out.data() + written));
        }
    }
};

}  // namespace

void AddG729Rows(std::vector<Row> &rows, const Input &input) {
    // The LSP warnings of odd frames would otherwise go to standard output.
    G729SetDiagnosticSink(Quiet, nullptr);

    auto s = std::make_shared<G729Data>();
    s->frames = peer::Bcg729Encode(input.pcm);
    s->count = s->frames.size() / 10;
    s->frames.resize(s->frames.size() + 64, 0);
    s->out.resize(80 * s->count + 64);
    const std::size_t samples = 80 * s->count;

    Row row;
    row.name = "G.729 Annex A decode";
    row.samples = samples;
    row.ours = {"velkorix", [s] { s->PassOurs(); }};
    row.peers = {{"bcg729", [s] { s->PassBcg729(); }}, {"libavcodec g729", [s] { s->PassAv(); }}};
    row.note = "frames from bcg729's encoder; libavcodec gets packets of 10 frames";
    row.check = [s, samples] {
        s->PassBcg729();
        const std::vector<int16_t> reference(s->out.begin(), s->out.begin() + static_cast<long>(samples));
        s->PassAv();
        const std::vector<int16_t> av(s->out.begin(), s->out.begin() + static_cast<long>(samples));
        s->PassOurs();
        const std::vector<int16_t> ours(s->out.begin(), s->out.begin() + static_cast<long>(samples));
        const double snr = SnrDb(reference, ours);
        char text[160];
        std::snprintf(text, sizeof text, "SNR %.1f dB against bcg729 (floor %.0f), %.1f dB against libavcodec", snr,
                      kSnrFloorDb, SnrDb(av, ours));
        return Check{snr >= kSnrFloorDb, text};
    };
    rows.push_back(std::move(row));
}

}  // namespace bench
