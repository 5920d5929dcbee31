#include "video_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "support/generators.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

namespace velkorix::test {
namespace {

// The module built with this test binary, named before any test runs (the
// slot loads the module once per process).
const bool kModuleNamed = [] {
    setenv("VELKORIX_VIDEO_MODULE", VELKORIX_VIDEO_MODULE_FILE, 0);
    av_log_set_level(AV_LOG_QUIET);  // the oracle's and the encoders' chatter
    return true;
}();

const char *EncoderName(VideoCodec codec) { return codec == VideoCodec::Mpeg4 ? "mpeg4" : "libx264"; }
AVCodecID DecoderId(VideoCodec codec) { return codec == VideoCodec::Mpeg4 ? AV_CODEC_ID_MPEG4 : AV_CODEC_ID_H264; }

struct ContextFree {
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};

// A moving, textured picture: diagonal ramps that drift, a square that
// travels, and noise, so that motion search and residuals have work.
void Paint(AVFrame *frame, int index, Lcg &noise) {
    const int w = frame->width, h = frame->height;
    const int boxX = (index * 5) % (w > 32 ? w - 32 : 1), boxY = (index * 3) % (h > 32 ? h - 32 : 1);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int v = (x + 2 * y + index * 4) & 255;
            if (x >= boxX && x < boxX + 32 && y >= boxY && y < boxY + 32) v = 255 - v;
            v += static_cast<int>(noise.Below(9)) - 4;
            frame->data[0][y * frame->linesize[0] + x] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
        }
    for (int y = 0; y < (h + 1) / 2; ++y)
        for (int x = 0; x < (w + 1) / 2; ++x) {
            frame->data[1][y * frame->linesize[1] + x] = static_cast<uint8_t>(128 + ((x - index) & 63) - 32);
            frame->data[2][y * frame->linesize[2] + x] = static_cast<uint8_t>(128 + ((y + index) & 63) - 32);
        }
}

// Copies a decoded frame into the slot's layout, plane by plane.
Picture ToPicture(const AVFrame *frame) {
    Picture p;
    p.width = frame->width;
    p.height = frame->height;
    const int cw = (p.width + 1) / 2, ch = (p.height + 1) / 2;
    EXPECT_TRUE(frame->format == AV_PIX_FMT_YUV420P || frame->format == AV_PIX_FMT_YUVJ420P) << frame->format;
    for (int y = 0; y < p.height; ++y)
        p.bytes.insert(p.bytes.end(), frame->data[0] + y * frame->linesize[0],
                       frame->data[0] + y * frame->linesize[0] + p.width);
    for (int plane = 1; plane <= 2; ++plane)
        for (int y = 0; y < ch; ++y)
            p.bytes.insert(p.bytes.end(), frame->data[plane] + y * frame->linesize[plane],
                           frame->data[plane] + y * frame->linesize[plane] + cw);
    return p;
}

}  // namespace

const char *VideoModulePath() { return VELKORIX_VIDEO_MODULE_FILE; }

bool HaveEncoder(VideoCodec codec) { return avcodec_find_encoder_by_name(EncoderName(codec)) != nullptr; }

std::vector<Unit> EncodeStream(const StreamSpec &spec) {
    const AVCodec *encoder = avcodec_find_encoder_by_name(EncoderName(spec.codec));
    if (!encoder) return {};
    std::unique_ptr<AVCodecContext, ContextFree> c(avcodec_alloc_context3(encoder));
    c->width = spec.width;
    c->height = spec.height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = {1, 25};
    c->framerate = {25, 1};
    c->gop_size = spec.keyInterval;
    c->max_b_frames = spec.bFrames;
    c->bit_rate = 300000;
    c->thread_count = 1;
    if (spec.codec == VideoCodec::H264) {
        av_opt_set(c->priv_data, "preset", "veryfast", 0);
        const std::string params = "bframes=" + std::to_string(spec.bFrames) + ":b-pyramid=none:keyint=" +
                                   std::to_string(spec.keyInterval) + ":scenecut=0";
        av_opt_set(c->priv_data, "x264-params", params.c_str(), 0);
    }
    if (avcodec_open2(c.get(), encoder, nullptr) < 0) return {};
    std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
    frame->format = c->pix_fmt;
    frame->width = spec.width;
    frame->height = spec.height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return {};
    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    std::vector<Unit> units;
    Lcg noise(spec.seed);
    for (int i = 0; i <= spec.frames; ++i) {
        if (i < spec.frames) {
            if (av_frame_make_writable(frame.get()) < 0) return {};
            Paint(frame.get(), i, noise);
            frame->pts = i;
            avcodec_send_frame(c.get(), frame.get());
        } else {
            avcodec_send_frame(c.get(), nullptr);
        }
        while (avcodec_receive_packet(c.get(), packet.get()) == 0) {
            units.emplace_back(packet->data, packet->data + packet->size);
            av_packet_unref(packet.get());
        }
    }
    return units;
}

std::vector<Picture> DecodeDirect(VideoCodec codec, const std::vector<Unit> &units, const DecodeOptions &options) {
    const AVCodec *decoder = avcodec_find_decoder(DecoderId(codec));
    std::unique_ptr<AVCodecContext, ContextFree> c(avcodec_alloc_context3(decoder));
    c->thread_count = 1;
    if (options.lowDelay) c->flags |= AV_CODEC_FLAG_LOW_DELAY;
    if (options.skipNonReference) c->skip_frame = AVDISCARD_NONREF;
    if (options.concealment >= 0)
        c->error_concealment =
            ((options.concealment & 1) ? FF_EC_GUESS_MVS : 0) | ((options.concealment & 2) ? FF_EC_DEBLOCK : 0);
    EXPECT_GE(avcodec_open2(c.get(), decoder, nullptr), 0);
    std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    std::vector<Picture> pictures;
    auto receive = [&] {
        while (avcodec_receive_frame(c.get(), frame.get()) == 0) {
            pictures.push_back(ToPicture(frame.get()));
            av_frame_unref(frame.get());
        }
    };
    for (const Unit &unit : units) {
        if (unit.empty()) continue;
        av_new_packet(packet.get(), static_cast<int>(unit.size()));
        std::memcpy(packet->data, unit.data(), unit.size());
        avcodec_send_packet(c.get(), packet.get());
        av_packet_unref(packet.get());
        receive();
    }
    avcodec_send_packet(c.get(), nullptr);
    receive();
    return pictures;
}

Picture CurrentPicture(CodecSlot *slot) {
    Picture p;
    int32_t w = -1, h = -1, bytes = -1;
    EXPECT_EQ(CodecSlotGetFrameSize(slot, &w, &h, &bytes), 1);
    const auto *frame = static_cast<const uint8_t *>(CodecSlotGetFrame(slot));
    EXPECT_NE(frame, nullptr);
    const int64_t expected = int64_t{w} * h + 2 * int64_t{(w + 1) / 2} * ((h + 1) / 2);
    EXPECT_GT(w, 0);
    EXPECT_GT(h, 0);
    EXPECT_EQ(bytes, expected) << w << "x" << h;
    if (!frame || w <= 0 || h <= 0 || bytes != expected) return {};
    p.width = w;
    p.height = h;
    p.bytes.assign(frame, frame + bytes);
    return p;
}

int32_t DecodeUnit(CodecSlot *slot, const uint8_t *data, std::size_t size) {
    slot->input = data;
    slot->inputLength = static_cast<int32_t>(size);
    return CodecSlotDecode(slot);
}

std::vector<Picture> DecodeThroughSlot(int32_t type, const std::vector<Unit> &units, const DecodeOptions &options,
                                       std::vector<int> *answers, uint32_t prefix) {
    auto slot = std::make_unique<CodecSlot>();
    std::vector<Picture> pictures;
    EXPECT_EQ(CodecSlotCreate(slot.get(), 0, 0, type), 1);
    EXPECT_NE(slot->instance, nullptr) << "no video decoder: is " << VideoModulePath() << " there?";
    if (!slot->instance) return pictures;
    if (options.lowDelay) {
        EXPECT_EQ(CodecSlotSetDelay(slot.get(), 0), 1);
    }
    if (options.skipNonReference) {
        EXPECT_EQ(CodecSlotSetDecoderFlag(slot.get(), 1), 1);
    }
    if (options.concealment >= 0) {
        EXPECT_EQ(CodecSlotSetOutputOptions(slot.get(), options.concealment & 1, options.concealment & 2), 1);
    }
    Unit staged;
    for (const Unit &unit : units) {
        const Unit *in = &unit;
        if (type == CODEC_TYPE_VIDEO_H264_PREFIXED) {
            staged.assign({static_cast<uint8_t>(prefix >> 24), static_cast<uint8_t>(prefix >> 16),
                           static_cast<uint8_t>(prefix >> 8), static_cast<uint8_t>(prefix)});
            staged.insert(staged.end(), unit.begin(), unit.end());
            in = &staged;
        }
        const int32_t answer = DecodeUnit(slot.get(), in->data(), in->size());
        if (answers) answers->push_back(answer);
        if (answer) pictures.push_back(CurrentPicture(slot.get()));
    }
    // Drain: empty input gives the pictures held back, one a call.
    for (int left = 64; left > 0 && DecodeUnit(slot.get(), nullptr, 0); --left)
        pictures.push_back(CurrentPicture(slot.get()));
    EXPECT_EQ(CodecSlotDestroy(slot.get()), 1);
    return pictures;
}

}  // namespace velkorix::test
