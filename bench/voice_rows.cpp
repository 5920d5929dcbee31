// The voice library (through its QX_VOICE_ functions, one frame per call)
// against spandsp and libavcodec on the same samples and codes.
#include <cstring>
#include <memory>
#include <string>

#include "peers.h"
#include "reference.h"
#include "rows.h"
#include "velkorix/qx_voice.h"

namespace bench {
namespace {

// Frames laid end to end: frame i starts at offsets[i].
struct FrameStream {
    std::vector<uint8_t> bytes;
    std::vector<std::size_t> offsets;
    VoiceFrame *At(std::size_t i) { return reinterpret_cast<VoiceFrame *>(bytes.data() + offsets[i]); }
};

// Encodes the whole input into frames of `frameSamples` with the voice library.
FrameStream EncodeFrames(int16_t type, const std::vector<int16_t> &pcm, int frameSamples) {
    FrameStream s;
    VoiceState state;
    QX_VOICE_EncReset(&state, type);
    VoiceFrame frame;
    for (std::size_t at = 0; at + static_cast<std::size_t>(frameSamples) <= pcm.size();
         at += static_cast<std::size_t>(frameSamples)) {
        QX_VOICE_EncodeFrame(&state, pcm.data() + at, &frame, static_cast<int16_t>(frameSamples));
        s.offsets.push_back(s.bytes.size());
        const auto *raw = reinterpret_cast<const uint8_t *>(&frame);
        s.bytes.insert(s.bytes.end(), raw, raw + VOICE_FRAME_HEADER_BYTES + 2 * frame.length);
    }
    return s;
}

// The payloads of a frame stream, end to end.
std::vector<uint8_t> Payloads(FrameStream &s) {
    std::vector<uint8_t> out;
    for (std::size_t i = 0; i < s.offsets.size(); ++i) {
        const VoiceFrame *f = s.At(i);
        out.insert(out.end(), f->payload, f->payload + 2 * f->length);
    }
    return out;
}

std::string Exact(const std::string &mismatch, const char *reference) {
    return mismatch.empty() ? std::string("bit-exact = ") + reference
                            : std::string("differs from ") + reference + ": " + mismatch;
}

std::string BytesMismatch(const std::vector<uint8_t> &ours, const std::vector<uint8_t> &reference) {
    std::vector<int16_t> a(ours.begin(), ours.end()), b(reference.begin(), reference.end());
    return Mismatch(a, b);
}

// ---- encoding rows ----

struct EncodeData {
    const std::vector<int16_t> *pcm;
    int frameSamples;
    int16_t type;
    std::vector<uint8_t> ours;   // frames end to end
    std::vector<uint8_t> peer;   // the peer's codes end to end
    std::size_t blocks;

    void PassOurs() {
        VoiceState state;
        QX_VOICE_EncReset(&state, type);
        uint8_t *out = ours.data();
        for (std::size_t b = 0; b < blocks; ++b) {
            auto *frame = reinterpret_cast<VoiceFrame *>(out);
            QX_VOICE_EncodeFrame(&state, pcm->data() + b * static_cast<std::size_t>(frameSamples), frame,
                                 static_cast<int16_t>(frameSamples));
            out += VOICE_FRAME_HEADER_BYTES + 2 * frame->length;
        }
    }
};

// ---- decoding rows ----

struct DecodeData {
    FrameStream frames;
    int16_t type;
    std::vector<int16_t> out;

    void PassOurs() {
        VoiceState state;
        QX_VOICE_DecReset(&state, type);
        int16_t *pcm = out.data();
        for (std::size_t i = 0; i < frames.offsets.size(); ++i) {
            int16_t count = 0;
            QX_VOICE_DecodeFrame(&state, frames.At(i), pcm, &count);
            pcm += count;
        }
    }
    std::vector<int16_t> Decoded() {
        PassOurs();
        return out;
    }
};

void AddG711(std::vector<Row> &rows, const Input &input, int law) {
    const int16_t type = law == 0 ? G711_A : G711_U;
    const char *name = law == 0 ? "G.711 A-law" : "G.711 u-law";
    const int n = input.frameSamples;
    const std::size_t blocks = input.pcm.size() / static_cast<std::size_t>(n);

    auto enc = std::make_shared<EncodeData>();
    enc->pcm = &input.pcm;
    enc->frameSamples = n;
    enc->type = type;
    enc->blocks = blocks;
    enc->ours.resize(blocks * (VOICE_FRAME_HEADER_BYTES + static_cast<std::size_t>(n)));
    enc->peer.resize(input.pcm.size());
    const auto *pcm = &input.pcm;
    Row e;
    e.name = std::string(name) + " encode";
    e.samples = input.pcm.size();
    e.ours = {"velkorix", [enc] { enc->PassOurs(); }};
    e.peers = {{"spandsp", [enc, law, pcm, n] {
                    for (std::size_t at = 0; at < pcm->size(); at += static_cast<std::size_t>(n))
                        peer::SpandspG711Encode(law, pcm->data() + at, enc->peer.data() + at, n);
                }}};
    e.check = [type, pcm, n, law] {
        auto frames = EncodeFrames(type, *pcm, n);
        const auto ours = Payloads(frames);
        std::vector<uint8_t> reference(pcm->size()), spandsp(pcm->size());
        for (std::size_t i = 0; i < pcm->size(); ++i) reference[i] = reference::G711Encode(law, (*pcm)[i]);
        peer::SpandspG711Encode(law, pcm->data(), spandsp.data(), static_cast<int>(pcm->size()));
        const std::string m = BytesMismatch(ours, reference);
        Check c{m.empty(), Exact(m, "the G.711 reference coder")};
        std::size_t differ = 0;
        for (std::size_t i = 0; i < ours.size(); ++i) differ += ours[i] != spandsp[i];
        c.text += differ == 0 ? ", = spandsp" : ", spandsp differs in " + std::to_string(differ) + " codes";
        return c;
    };
    rows.push_back(std::move(e));

    auto dec = std::make_shared<DecodeData>();
    dec->frames = EncodeFrames(type, input.pcm, n);
    dec->type = type;
    dec->out.resize(input.pcm.size());
    auto codes = std::make_shared<std::vector<uint8_t>>(Payloads(dec->frames));
    auto peerOut = std::make_shared<std::vector<int16_t>>(input.pcm.size());
    Row d;
    d.name = std::string(name) + " decode";
    d.samples = input.pcm.size();
    d.ours = {"velkorix", [dec] { dec->PassOurs(); }};
    d.peers = {{"spandsp", [codes, peerOut, law, n] {
                    for (std::size_t at = 0; at < codes->size(); at += static_cast<std::size_t>(n))
                        peer::SpandspG711Decode(law, codes->data() + at, peerOut->data() + at, n);
                }}};
    d.check = [dec, codes, law] {
        std::vector<int16_t> reference(codes->size());
        peer::SpandspG711Decode(law, codes->data(), reference.data(), static_cast<int>(codes->size()));
        const std::string m = Mismatch(dec->Decoded(), reference);
        return Check{m.empty(), Exact(m, "spandsp")};
    };
    rows.push_back(std::move(d));
}

void AddG726(std::vector<Row> &rows, const Input &input, int bits) {
    const int16_t type = static_cast<int16_t>(G726_16 + (bits - 2));
    const int rate = 8000 * bits;
    const std::string name = "G.726 " + std::to_string(rate / 1000) + "k";
    const int n = input.frameSamples;
    const std::size_t blocks = input.pcm.size() / static_cast<std::size_t>(n);
    const std::size_t blockBytes = static_cast<std::size_t>(n * bits / 8);
    const auto *pcm = &input.pcm;

    auto enc = std::make_shared<EncodeData>();
    enc->pcm = pcm;
    enc->frameSamples = n;
    enc->type = type;
    enc->blocks = blocks;
    enc->ours.resize(blocks * (VOICE_FRAME_HEADER_BYTES + blockBytes));
    enc->peer.resize(blocks * blockBytes + 16);
    auto spandspEncoder = std::make_shared<peer::SpandspG726>(rate, true);
    Row e;
    e.name = name + " encode";
    e.samples = input.pcm.size();
    e.ours = {"velkorix", [enc] { enc->PassOurs(); }};
    e.peers = {{"spandsp", [enc, spandspEncoder, pcm, n, blockBytes] {
                    spandspEncoder->Reset();
                    uint8_t *out = enc->peer.data();
                    for (std::size_t at = 0; at < pcm->size(); at += static_cast<std::size_t>(n), out += blockBytes)
                        spandspEncoder->Encode(pcm->data() + at, out, n);
                }}};
    e.check = [type, pcm, n, rate] {
        auto frames = EncodeFrames(type, *pcm, n);
        peer::SpandspG726 reference(rate, true);
        std::vector<uint8_t> codes(pcm->size() * 5 / 8 + 16);
        codes.resize(static_cast<std::size_t>(reference.Encode(pcm->data(), codes.data(), static_cast<int>(pcm->size()))));
        const std::string m = BytesMismatch(Payloads(frames), codes);
        return Check{m.empty(), Exact(m, "spandsp")};
    };
    rows.push_back(std::move(e));

    auto dec = std::make_shared<DecodeData>();
    dec->frames = EncodeFrames(type, input.pcm, n);
    dec->type = type;
    dec->out.resize(input.pcm.size());
    auto codes = std::make_shared<std::vector<uint8_t>>(Payloads(dec->frames));
    codes->resize(codes->size() + 64, 0);  // libavcodec's input padding
    auto peerOut = std::make_shared<std::vector<int16_t>>(input.pcm.size() + 64);
    auto spandspDecoder = std::make_shared<peer::SpandspG726>(rate, true);
    auto av = std::make_shared<peer::AvDecoder>(peer::AvDecoder::Codec::G726Le, bits);
    const std::size_t avPacket = 10 * blockBytes;
    Row d;
    d.name = name + " decode";
    d.samples = input.pcm.size();
    d.ours = {"velkorix", [dec] { dec->PassOurs(); }};
    auto spandspPass = [codes, peerOut, spandspDecoder, blocks, blockBytes, n] {
        spandspDecoder->Reset();
        for (std::size_t b = 0; b < blocks; ++b)
            spandspDecoder->Decode(codes->data() + b * blockBytes, peerOut->data() + b * static_cast<std::size_t>(n),
                                   static_cast<int>(blockBytes));
    };
    auto avPass = [codes, peerOut, av, blocks, blockBytes, avPacket] {
        av->Reset();
        std::size_t written = 0;
        const std::size_t total = blocks * blockBytes;
        for (std::size_t at = 0; at < total; at += avPacket)
            written += static_cast<std::size_t>(av->Decode(codes->data() + at, static_cast<int>(std::min(avPacket, total - at)),
                                                           peerOut->data() + written));
    };
    d.peers = {{"spandsp", spandspPass}, {"libavcodec g726le", avPass}};
    d.check = [dec, peerOut, spandspPass, avPass] {
        const auto ours = dec->Decoded();
        spandspPass();
        const std::vector<int16_t> reference(peerOut->begin(), peerOut->begin() + static_cast<long>(ours.size()));
        avPass();
        const std::vector<int16_t> av(peerOut->begin(), peerOut->begin() + static_cast<long>(ours.size()));
        // The library limits SR to 14 bits before scaling; spandsp wraps. On
        // overloaded input the two part only where the library's sample is
        // at a limit; anywhere else is a fault.
        std::size_t limited = 0, wrong = 0, first = 0;
        for (std::size_t i = 0; i < ours.size(); ++i) {
            if (ours[i] == reference[i]) continue;
            if (ours[i] == 32764 || ours[i] == -32768)
                ++limited;
            else if (wrong++ == 0)
                first = i;
        }
        Check c;
        c.ok = wrong == 0;
        c.text = c.ok ? "bit-exact = spandsp" : "differs from spandsp in " + std::to_string(wrong) + " samples, first at " + std::to_string(first);
        if (limited) c.text += " (but " + std::to_string(limited) + " samples limited where spandsp wraps)";
        c.text += Mismatch(ours, av).empty() ? ", = libavcodec" : ", libavcodec differs";
        return c;
    };
    d.note = "libavcodec gets packets of 10 frames to amortise its per-packet cost";
    rows.push_back(std::move(d));
}

void AddImaAdpcm(std::vector<Row> &rows, const Input &input) {
    // Type 3 frames (predictor and step index in the header) are RFC 3551
    // DVI4 packets with the predictor's bytes in the other order.
    auto dec = std::make_shared<DecodeData>();
    dec->frames = EncodeFrames(ADPCM_PRED, input.pcm, input.frameSamples);
    dec->type = ADPCM_PRED;
    dec->out.resize(input.pcm.size());
    auto packets = std::make_shared<FrameStream>();
    for (std::size_t i = 0; i < dec->frames.offsets.size(); ++i) {
        const VoiceFrame *f = dec->frames.At(i);
        packets->offsets.push_back(packets->bytes.size());
        packets->bytes.insert(packets->bytes.end(), f->payload, f->payload + 2 * f->length);
        std::swap(packets->bytes[packets->offsets.back()], packets->bytes[packets->offsets.back() + 1]);
    }
    const std::size_t packetBytes = dec->frames.offsets.empty() ? 0 : 2 * dec->frames.At(0)->length;
    auto peerOut = std::make_shared<std::vector<int16_t>>(input.pcm.size());
    auto spandsp = std::make_shared<peer::SpandspImaAdpcm>();
    auto spandspPass = [packets, peerOut, spandsp, packetBytes] {
        spandsp->Reset();
        int16_t *out = peerOut->data();
        for (std::size_t off : packets->offsets)
            out += spandsp->Decode(packets->bytes.data() + off, out, static_cast<int>(packetBytes));
    };
    Row d;
    d.name = "IMA ADPCM decode";
    d.samples = input.pcm.size();
    d.ours = {"velkorix", [dec] { dec->PassOurs(); }};
    d.peers = {{"spandsp", spandspPass}};
    d.check = [dec, peerOut, spandspPass] {
        spandspPass();
        const std::string m = Mismatch(dec->Decoded(), *peerOut);
        return Check{m.empty(), Exact(m, "spandsp")};
    };
    d.note = "voice type 3 (ADPCM_PRED) frames against the same frames as spandsp DVI4 packets";
    rows.push_back(std::move(d));
}

void AddAdpcm2(std::vector<Row> &rows, const Input &input) {
    const int n = input.frameSamples;
    const std::size_t blocks = input.pcm.size() / static_cast<std::size_t>(n);
    const auto *pcm = &input.pcm;
    auto enc = std::make_shared<EncodeData>();
    enc->pcm = pcm;
    enc->frameSamples = n;
    enc->type = ADPCM2_LINEAR;
    enc->blocks = blocks;
    enc->ours.resize(blocks * (VOICE_FRAME_HEADER_BYTES + static_cast<std::size_t>(n / 4)));
    Row e;
    e.name = "2-bit linear ADPCM encode";
    e.samples = input.pcm.size();
    e.ours = {"velkorix", [enc] { enc->PassOurs(); }};
    e.check = [pcm, n] {
        auto frames = EncodeFrames(ADPCM2_LINEAR, *pcm, n);
        const auto reference = reference::Adpcm2Encode(*pcm, n);
        const std::string m = BytesMismatch(Payloads(frames), reference);
        return Check{m.empty(), Exact(m, "the plain reference coder")};
    };
    rows.push_back(std::move(e));

    auto dec = std::make_shared<DecodeData>();
    dec->frames = EncodeFrames(ADPCM2_LINEAR, input.pcm, n);
    dec->type = ADPCM2_LINEAR;
    dec->out.resize(input.pcm.size());
    Row d;
    d.name = "2-bit linear ADPCM decode";
    d.samples = input.pcm.size();
    d.ours = {"velkorix", [dec] { dec->PassOurs(); }};
    d.check = [dec] {
        const auto reference = reference::Adpcm2Decode(Payloads(dec->frames));
        const std::string m = Mismatch(dec->Decoded(), reference);
        return Check{m.empty(), Exact(m, "the plain reference coder")};
    };
    rows.push_back(std::move(d));
}

}  // namespace

void AddVoiceRows(std::vector<Row> &rows, const Input &input) {
    AddG711(rows, input, 0);
    AddG711(rows, input, 1);
    for (int bits = 2; bits <= 5; ++bits) AddG726(rows, input, bits);
    AddImaAdpcm(rows, input);
    AddAdpcm2(rows, input);
}

}  // namespace bench
