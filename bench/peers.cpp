#include "peers.h"

#include <cstring>

#include <spandsp.h>

extern "C" {
#include <bcg729/decoder.h>
#include <bcg729/encoder.h>
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

namespace bench::peer {

// ---- spandsp ----

namespace {

g711_state_t *G711State(int law) {
    static g711_state_t *const alaw = g711_init(nullptr, G711_ALAW);
    static g711_state_t *const ulaw = g711_init(nullptr, G711_ULAW);
    return law == 0 ? alaw : ulaw;
}

}  // namespace

void SpandspG711Encode(int law, const int16_t *pcm, uint8_t *codes, int count) {
    g711_encode(G711State(law), codes, pcm, count);
}

void SpandspG711Decode(int law, const uint8_t *codes, int16_t *pcm, int count) {
    g711_decode(G711State(law), pcm, codes, count);
}

SpandspG726::SpandspG726(int bitRate, bool packed) : bitRate_(bitRate), packed_(packed), state_(nullptr) { Reset(); }

SpandspG726::~SpandspG726() { g726_free(static_cast<g726_state_t *>(state_)); }

void SpandspG726::Reset() {
    // Re-initialising in place allocates nothing.
    state_ = g726_init(static_cast<g726_state_t *>(state_), bitRate_, G726_ENCODING_LINEAR,
                       packed_ ? G726_PACKING_RIGHT : G726_PACKING_NONE);
}

int SpandspG726::Encode(const int16_t *pcm, uint8_t *codes, int samples) {
    return g726_encode(static_cast<g726_state_t *>(state_), codes, pcm, samples);
}

int SpandspG726::Decode(const uint8_t *codes, int16_t *pcm, int bytes) {
    return g726_decode(static_cast<g726_state_t *>(state_), pcm, codes, bytes);
}

SpandspImaAdpcm::SpandspImaAdpcm() : state_(nullptr) { Reset(); }

SpandspImaAdpcm::~SpandspImaAdpcm() { ima_adpcm_free(static_cast<ima_adpcm_state_t *>(state_)); }

void SpandspImaAdpcm::Reset() {
    state_ = ima_adpcm_init(static_cast<ima_adpcm_state_t *>(state_), IMA_ADPCM_DVI4, 0);
}

int SpandspImaAdpcm::Encode(const int16_t *pcm, uint8_t *codes, int samples) {
    return ima_adpcm_encode(static_cast<ima_adpcm_state_t *>(state_), codes, pcm, samples);
}

int SpandspImaAdpcm::Decode(const uint8_t *codes, int16_t *pcm, int bytes) {
    return ima_adpcm_decode(static_cast<ima_adpcm_state_t *>(state_), pcm, codes, bytes);
}

// ---- libavcodec ----

AvDecoder::AvDecoder(Codec codec, int bitsPerCode) : codec_(codec), bitsPerCode_(bitsPerCode) {
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    Open();
}

AvDecoder::~AvDecoder() {
    Close();
    auto *packet = static_cast<AVPacket *>(packet_);
    auto *frame = static_cast<AVFrame *>(frame_);
    av_packet_free(&packet);
    av_frame_free(&frame);
}

void AvDecoder::Open() {
    const AVCodec *codec = avcodec_find_decoder(codec_ == Codec::G729 ? AV_CODEC_ID_G729 : AV_CODEC_ID_ADPCM_G726LE);
    if (!codec) return;
    AVCodecContext *context = avcodec_alloc_context3(codec);
    if (!context) return;
    context->sample_rate = 8000;
    av_channel_layout_default(&context->ch_layout, 1);
    if (codec_ == Codec::G726Le) {
        context->bits_per_coded_sample = bitsPerCode_;
        context->bit_rate = 8000 * bitsPerCode_;
    }
    if (avcodec_open2(context, codec, nullptr) < 0) {
        avcodec_free_context(&context);
        return;
    }
    context_ = context;
}

void AvDecoder::Close() {
    auto *context = static_cast<AVCodecContext *>(context_);
    if (context) avcodec_free_context(&context);
    context_ = nullptr;
}

void AvDecoder::Reset() {
    Close();
    Open();
}

int AvDecoder::Decode(const uint8_t *data, int bytes, int16_t *out) {
    auto *context = static_cast<AVCodecContext *>(context_);
    auto *packet = static_cast<AVPacket *>(packet_);
    auto *frame = static_cast<AVFrame *>(frame_);
    if (!context) return 0;
    packet->data = const_cast<uint8_t *>(data);
    packet->size = bytes;
    if (avcodec_send_packet(context, packet) < 0) return 0;
    int written = 0;
    while (avcodec_receive_frame(context, frame) == 0) {
        const int n = frame->nb_samples;
        std::memcpy(out + written, frame->extended_data[0], static_cast<std::size_t>(n) * 2);
        written += n;
        av_frame_unref(frame);
    }
    return written;
}

// ---- bcg729 ----

Bcg729Decoder::Bcg729Decoder() : state_(initBcg729DecoderChannel()) {}

Bcg729Decoder::~Bcg729Decoder() { closeBcg729DecoderChannel(static_cast<bcg729DecoderChannelContextStruct *>(state_)); }

void Bcg729Decoder::Reset() {
    closeBcg729DecoderChannel(static_cast<bcg729DecoderChannelContextStruct *>(state_));
    state_ = initBcg729DecoderChannel();
}

void Bcg729Decoder::DecodeFrame(const uint8_t frame[10], int16_t pcm[80]) {
    bcg729Decoder(static_cast<bcg729DecoderChannelContextStruct *>(state_), frame, 10, 0, 0, 0, pcm);
}

std::vector<uint8_t> Bcg729Encode(const std::vector<int16_t> &pcm) {
    bcg729EncoderChannelContextStruct *encoder = initBcg729EncoderChannel(0);
    std::vector<uint8_t> frames;
    frames.reserve(pcm.size() / 8);
    for (std::size_t at = 0; at + 80 <= pcm.size(); at += 80) {
        uint8_t frame[10];
        uint8_t length = 0;
        bcg729Encoder(encoder, pcm.data() + at, frame, &length);
        frames.insert(frames.end(), frame, frame + 10);
    }
    closeBcg729EncoderChannel(encoder);
    return frames;
}

}  // namespace bench::peer
