#include "video/video_decoder.h"

#include <cstring>

#include "codec_slot/video_module_interface.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

namespace velkorix::video {

namespace {

// Pictures that came out of the decoder and were not yet handed out. One unit
// gives at most one picture unless it holds several (packed B pictures), but
// a drain hands over every picture held for reordering at once: H.264 holds
// up to 16. The ring has one frame more, into which the next picture is
// received.
constexpr int kQueueSize = 32;
constexpr int kRingSize = kQueueSize + 1;

// Largest side taken as a creation hint.
constexpr int32_t kLargestHint = 16384;

// libavcodec reports damage through av_log, which by default writes to the
// process's standard error. The decoder's messages are moved this many levels
// down (errors become trace messages), so that a damaged stream does not
// write into the host's terminal; a host that turns libavcodec's logging up
// to trace still sees them. Only this decoder's context is affected.
constexpr int kLogLevelOffset = AV_LOG_TRACE - AV_LOG_ERROR;

// The neutral chroma value, for pictures without colour planes.
constexpr uint8_t kNeutralChroma = 128;

}  // namespace

struct VideoDecoder {
    int32_t hintWidth;
    int32_t hintHeight;
    AVCodecContext *context;
    AVPacket *packet;
    AVFrame *queue[kRingSize];
    int head;   // oldest queued picture
    int count;  // queued pictures
    // The current picture in the slot's layout.
    uint8_t *picture;
    unsigned int pictureCapacity;
    int32_t width;
    int32_t height;
    int32_t bytes;  // 0: no current picture
};

namespace {

void Free(VideoDecoder *d) {
    avcodec_free_context(&d->context);
    av_packet_free(&d->packet);
    for (AVFrame *&frame : d->queue) av_frame_free(&frame);
    av_freep(&d->picture);
    av_free(d);
}

// Copies `rows` rows of `width` bytes from a plane with `stride` bytes per row.
void CopyPlane(uint8_t *to, const uint8_t *from, int stride, int width, int rows) {
    for (int y = 0; y < rows; ++y)
        std::memcpy(to + static_cast<std::size_t>(y) * width, from + static_cast<std::ptrdiff_t>(y) * stride,
                    static_cast<std::size_t>(width));
}

// Makes `frame` the current picture, in the slot's layout: Y (width x height
// bytes), then U and V (each ceil(width/2) x ceil(height/2) bytes), rows
// unpadded. Takes 8-bit 4:2:0 (both value ranges) and 8-bit greyscale (given
// neutral chroma); any other format is refused (false) and leaves the current
// picture as it was. A picture whose buffer cannot be had is refused and
// leaves none.
bool TakePicture(VideoDecoder *d, const AVFrame *frame) {
    const int format = frame->format;
    const bool planar420 = format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P;
    if (!planar420 && format != AV_PIX_FMT_GRAY8) return false;
    const int w = frame->width, h = frame->height;
    if (w <= 0 || h <= 0) return false;
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    const int64_t luma = int64_t{w} * h, chroma = int64_t{cw} * ch;
    const int64_t total = luma + 2 * chroma;
    if (total > INT32_MAX) return false;
    d->bytes = 0;
    av_fast_malloc(&d->picture, &d->pictureCapacity, static_cast<std::size_t>(total));
    if (!d->picture) return false;
    uint8_t *y = d->picture, *u = y + luma, *v = u + chroma;
    CopyPlane(y, frame->data[0], frame->linesize[0], w, h);
    if (planar420) {
        CopyPlane(u, frame->data[1], frame->linesize[1], cw, ch);
        CopyPlane(v, frame->data[2], frame->linesize[2], cw, ch);
    } else {
        std::memset(u, kNeutralChroma, static_cast<std::size_t>(2 * chroma));
    }
    d->width = w;
    d->height = h;
    d->bytes = static_cast<int32_t>(total);
    return true;
}

// Moves every picture the decoder has ready into the queue; when the queue
// is full the oldest is dropped. Returns the decoder's last answer
// (AVERROR(EAGAIN): it wants input; AVERROR_EOF: drained).
int ReceiveAll(VideoDecoder *d) {
    for (;;) {
        AVFrame *frame = d->queue[(d->head + d->count) % kRingSize];
        const int result = avcodec_receive_frame(d->context, frame);
        if (result < 0) return result;
        if (d->count == kQueueSize) {
            av_frame_unref(d->queue[d->head]);
            d->head = (d->head + 1) % kRingSize;
        } else {
            ++d->count;
        }
    }
}

// Hands out the oldest queued picture that converts: 1, or 0 when none does.
int32_t NextPicture(VideoDecoder *d) {
    while (d->count > 0) {
        AVFrame *frame = d->queue[d->head];
        d->head = (d->head + 1) % kRingSize;
        --d->count;
        const bool taken = TakePicture(d, frame);
        av_frame_unref(frame);
        if (taken) return 1;
    }
    return 0;
}

// No input: the pictures held back. The queue goes first (they are older);
// once it is empty the decoder is told the stream ended and gives up what it
// holds, after which it is reset to take a new stream.
int32_t Drain(VideoDecoder *d) {
    if (d->count == 0) {
        avcodec_send_packet(d->context, nullptr);
        ReceiveAll(d);
        avcodec_flush_buffers(d->context);
    }
    return NextPicture(d);
}

}  // namespace

VideoDecoder *VideoDecoderCreate(int32_t codec, int32_t width, int32_t height) {
    AVCodecID id;
    if (codec == kVideoCodecMpeg4)
        id = AV_CODEC_ID_MPEG4;
    else if (codec == kVideoCodecH264)
        id = AV_CODEC_ID_H264;
    else
        return nullptr;
    const AVCodec *decoder = avcodec_find_decoder(id);
    if (!decoder) return nullptr;
    auto *d = static_cast<VideoDecoder *>(av_mallocz(sizeof(VideoDecoder)));
    if (!d) return nullptr;
    const bool hinted = width > 0 && width <= kLargestHint && height > 0 && height <= kLargestHint;
    d->hintWidth = hinted ? width : 0;
    d->hintHeight = hinted ? height : 0;
    d->context = avcodec_alloc_context3(decoder);
    d->packet = av_packet_alloc();
    bool ready = d->context && d->packet;
    for (AVFrame *&frame : d->queue) ready = ready && (frame = av_frame_alloc()) != nullptr;
    if (!ready) {
        Free(d);
        return nullptr;
    }
    AVCodecContext *c = d->context;
    // One thread: each unit is decoded within its own call, so the picture it
    // completes comes out of that call (frame threads would hold pictures
    // back by one per thread).
    c->thread_count = 1;
    c->log_level_offset = kLogLevelOffset;
    if (hinted) {
        c->width = width;
        c->height = height;
    }
    if (avcodec_open2(c, decoder, nullptr) < 0) {
        Free(d);
        return nullptr;
    }
    return d;
}

void VideoDecoderRelease(VideoDecoder *decoder) { Free(decoder); }

int32_t VideoDecoderDecode(VideoDecoder *d, const uint8_t *input, int32_t length) {
    if (length < 0 || (length > 0 && !input)) return 0;
    if (length == 0) return Drain(d);
    // A packet of its own (with the zeroed padding libavcodec reads past the
    // end), so that the decoder never sees the caller's buffer.
    if (av_new_packet(d->packet, length) < 0) return 0;
    std::memcpy(d->packet->data, input, static_cast<std::size_t>(length));
    if (avcodec_send_packet(d->context, d->packet) == AVERROR(EAGAIN)) {
        // Pictures still waiting inside the decoder: queue them and try again.
        ReceiveAll(d);
        avcodec_send_packet(d->context, d->packet);
    }
    av_packet_unref(d->packet);
    // A unit the decoder refuses (damage) may still have completed a picture.
    ReceiveAll(d);
    return NextPicture(d);
}

const uint8_t *VideoDecoderPicture(const VideoDecoder *d) { return d->bytes > 0 ? d->picture : nullptr; }

void VideoDecoderPictureSize(const VideoDecoder *d, int32_t *width, int32_t *height, int32_t *bytes) {
    const bool have = d->bytes > 0;
    *width = have ? d->width : d->hintWidth;
    *height = have ? d->height : d->hintHeight;
    *bytes = d->bytes;
}

int32_t VideoDecoderReorderDelay(const VideoDecoder *d) { return d->context->has_b_frames; }

void VideoDecoderSetReordering(VideoDecoder *d, int32_t reorder) {
    if (reorder)
        d->context->flags &= ~AV_CODEC_FLAG_LOW_DELAY;
    else
        d->context->flags |= AV_CODEC_FLAG_LOW_DELAY;
}

void VideoDecoderSetSkipNonReference(VideoDecoder *d, int32_t skip) {
    d->context->skip_frame = skip ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
}

void VideoDecoderSetConcealment(VideoDecoder *d, int32_t guessMotion, int32_t deblock) {
    d->context->error_concealment = (guessMotion ? FF_EC_GUESS_MVS : 0) | (deblock ? FF_EC_DEBLOCK : 0);
}

}  // namespace velkorix::video
