// G.726 24 kbit/s packed stream decoding: the stream decoder against spandsp
// and libavcodec (g726le) on the same bytes.
#include <memory>
#include <string>

#include "g726_stream/g726_stream.h"
#include "peers.h"
#include "rows.h"

namespace bench {
namespace {

using namespace velkorix::g726_stream;

constexpr int kPayload = 120;        // bytes per filter payload: 320 samples
constexpr int kAvPacket = 10 * kPayload;  // libavcodec packets, to amortise its per-packet cost

struct StreamData {
    std::vector<uint8_t> bytes;  // packed codes, plus padding for libavcodec
    std::size_t length = 0;      // bytes of codes
    std::vector<int16_t> out;
    peer::SpandspG726 spandsp{24000, true};
    peer::AvDecoder av{peer::AvDecoder::Codec::G726Le, 3};
};

void DecodeOurs(StreamData &s) {
    G726StreamDecoder *d = G726StreamDecoderCreate();
    for (std::size_t at = 0; at < s.length; at += kPayload)
        G726StreamDecoderDecode(d, s.bytes.data() + at, s.out.data() + at * 8 / 3, kPayload);
    G726StreamDecoderDestroy(d);
}

void DecodeSpandsp(StreamData &s) {
    s.spandsp.Reset();
    for (std::size_t at = 0; at < s.length; at += kPayload)
        s.spandsp.Decode(s.bytes.data() + at, s.out.data() + at * 8 / 3, kPayload);
}

void DecodeAv(StreamData &s) {
    s.av.Reset();
    std::size_t written = 0;
    for (std::size_t at = 0; at < s.length; at += kAvPacket)
        written += static_cast<std::size_t>(s.av.Decode(s.bytes.data() + at, kAvPacket, s.out.data() + written));
}

}  // namespace

std::vector<uint8_t> PackedStream24(const std::vector<int16_t> &pcm) {
    peer::SpandspG726 encoder(24000, true);
    std::vector<uint8_t> bytes(pcm.size() * 3 / 8 + 8);
    const int n = encoder.Encode(pcm.data(), bytes.data(), static_cast<int>(pcm.size()));
    bytes.resize(static_cast<std::size_t>(n));
    return bytes;
}

void AddStreamRows(std::vector<Row> &rows, const Input &input) {
    auto s = std::make_shared<StreamData>();
    s->bytes = PackedStream24(input.pcm);
    s->length = s->bytes.size() / kAvPacket * kAvPacket;
    s->bytes.resize(s->length + 64, 0);
    const std::size_t samples = s->length * 8 / 3;
    s->out.resize(samples + 64);

    Row row;
    row.name = "G.726 24k packed stream decode";
    row.samples = samples;
    row.ours = {"velkorix", [s] { DecodeOurs(*s); }};
    row.peers = {{"spandsp", [s] { DecodeSpandsp(*s); }}, {"libavcodec g726le", [s] { DecodeAv(*s); }}};
    row.note = "120-byte payloads (320 samples) for velkorix and spandsp, 1200-byte packets for libavcodec";
    row.check = [s, samples] {
        DecodeSpandsp(*s);
        const std::vector<int16_t> reference(s->out.begin(), s->out.begin() + static_cast<long>(samples));
        DecodeAv(*s);
        const std::vector<int16_t> av(s->out.begin(), s->out.begin() + static_cast<long>(samples));
        DecodeOurs(*s);
        const std::vector<int16_t> ours(s->out.begin(), s->out.begin() + static_cast<long>(samples));
        const std::string versus = Mismatch(ours, reference);
        Check c;
        c.ok = versus.empty();
        c.text = c.ok ? "bit-exact = spandsp" : "differs from spandsp: " + versus;
        c.text += Mismatch(ours, av).empty() ? ", = libavcodec" : ", libavcodec differs";
        return c;
    };
    rows.push_back(std::move(row));
}

}  // namespace bench
