/* A C program of the installed library (tests/video_library_test.sh builds it
 * against an installed tree): it encodes MPEG-4 and H.264 streams with
 * libavcodec's encoders, decodes every packet both with libavcodec and through
 * a codec slot of type 0, 1 and 16, and compares every picture. libavcodec is
 * the program's own oracle; the slot reaches its decoders through the
 * installed video module.
 *   video_library_client           compare, print one line per type
 *   video_library_client missing   the module cannot be loaded: no instance */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
#include <velkorix/codec_slot.h>

#define MAX_UNITS 64
#define FRAMES 30
#define W 176
#define H 144

static int failures = 0;
#define CHECK(cond)                                                              \
    do {                                                                         \
        if (!(cond)) {                                                           \
            fprintf(stderr, "check failed: %s (line %d)\n", #cond, __LINE__);   \
            ++failures;                                                          \
        }                                                                        \
    } while (0)

/* A packet, with 4 bytes of room before it for type 16's prefix. */
typedef struct {
    uint8_t *data;
    int size;
} Unit;

typedef struct {
    int width, height, bytes;
    uint8_t *data;
} Picture;

static int Encode(const char *name, Unit *units) {
    const AVCodec *codec = avcodec_find_encoder_by_name(name);
    AVCodecContext *c;
    AVFrame *frame;
    AVPacket *packet;
    int count = 0, i, x, y;
    if (!codec) {
        fprintf(stderr, "libavcodec has no encoder %s\n", name);
        exit(1);
    }
    c = avcodec_alloc_context3(codec);
    c->width = W;
    c->height = H;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = (AVRational){1, 25};
    c->framerate = (AVRational){25, 1};
    c->gop_size = 12;
    c->max_b_frames = 2;
    c->bit_rate = 300000;
    c->thread_count = 1;
    if (strcmp(name, "libx264") == 0) av_opt_set(c->priv_data, "preset", "veryfast", 0);
    if (avcodec_open2(c, codec, NULL) < 0) {
        fprintf(stderr, "cannot open the encoder %s\n", name);
        exit(1);
    }
    frame = av_frame_alloc();
    frame->format = c->pix_fmt;
    frame->width = W;
    frame->height = H;
    av_frame_get_buffer(frame, 0);
    packet = av_packet_alloc();
    for (i = 0; i <= FRAMES; ++i) {
        if (i < FRAMES) {
            av_frame_make_writable(frame);
            for (y = 0; y < H; ++y)
                for (x = 0; x < W; ++x)
                    frame->data[0][y * frame->linesize[0] + x] = (uint8_t)((x + 2 * y + 5 * i) ^ (x * y >> 5));
            for (y = 0; y < H / 2; ++y)
                for (x = 0; x < W / 2; ++x) {
                    frame->data[1][y * frame->linesize[1] + x] = (uint8_t)(128 + ((x - i) & 31));
                    frame->data[2][y * frame->linesize[2] + x] = (uint8_t)(100 + ((y + i) & 63));
                }
            frame->pts = i;
            avcodec_send_frame(c, frame);
        } else {
            avcodec_send_frame(c, NULL);
        }
        while (avcodec_receive_packet(c, packet) == 0) {
            if (count == MAX_UNITS) exit(1);
            units[count].data = malloc((size_t)packet->size + 4);
            memcpy(units[count].data + 4, packet->data, (size_t)packet->size);
            units[count].size = packet->size;
            ++count;
            av_packet_unref(packet);
        }
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&c);
    return count;
}

/* A decoded frame in the slot's layout: Y, U, V, contiguous, unpadded. */
static void Take(Picture *p, const AVFrame *f) {
    int cw = (f->width + 1) / 2, ch = (f->height + 1) / 2, y, plane, at = 0;
    CHECK(f->format == AV_PIX_FMT_YUV420P);
    p->width = f->width;
    p->height = f->height;
    p->bytes = f->width * f->height + 2 * cw * ch;
    p->data = malloc((size_t)p->bytes);
    for (y = 0; y < f->height; ++y, at += f->width)
        memcpy(p->data + at, f->data[0] + y * f->linesize[0], (size_t)f->width);
    for (plane = 1; plane <= 2; ++plane)
        for (y = 0; y < ch; ++y, at += cw) memcpy(p->data + at, f->data[plane] + y * f->linesize[plane], (size_t)cw);
}

static int Direct(enum AVCodecID id, const Unit *units, int count, Picture *out) {
    const AVCodec *codec = avcodec_find_decoder(id);
    AVCodecContext *c = avcodec_alloc_context3(codec);
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    int n = 0, i;
    c->thread_count = 1;
    CHECK(avcodec_open2(c, codec, NULL) == 0);
    for (i = 0; i <= count; ++i) {
        if (i < count) {
            av_new_packet(packet, units[i].size);
            memcpy(packet->data, units[i].data + 4, (size_t)units[i].size);
            avcodec_send_packet(c, packet);
            av_packet_unref(packet);
        } else {
            avcodec_send_packet(c, NULL);
        }
        while (n < 2 * MAX_UNITS && avcodec_receive_frame(c, frame) == 0) {
            Take(&out[n++], frame);
            av_frame_unref(frame);
        }
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&c);
    return n;
}

static CodecSlot slot;

static int Current(Picture *p) {
    int32_t w = 0, h = 0, bytes = 0;
    const uint8_t *frame = (const uint8_t *)CodecSlotGetFrame(&slot);
    CHECK(CodecSlotGetFrameSize(&slot, &w, &h, &bytes) == 1);
    CHECK(frame != NULL);
    CHECK(bytes == w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2));
    if (!frame || bytes <= 0) return 0;
    p->width = w;
    p->height = h;
    p->bytes = bytes;
    p->data = malloc((size_t)bytes);
    memcpy(p->data, frame, (size_t)bytes);
    return 1;
}

static int ThroughSlot(int32_t type, Unit *units, int count, Picture *out) {
    int n = 0, i, prefix = type == CODEC_TYPE_VIDEO_H264_PREFIXED ? 4 : 0;
    memset(&slot, 0, sizeof(slot));
    CHECK(CodecSlotCreate(&slot, 0, 0, type) == 1);
    CHECK(slot.instance != NULL);
    if (!slot.instance) return 0;
    for (i = 0; i < count; ++i) {
        memcpy(units[i].data, "\x12\x34\x56\x78", 4);
        slot.input = units[i].data + 4 - prefix;
        slot.inputLength = units[i].size + prefix;
        if (CodecSlotDecode(&slot) && n < 2 * MAX_UNITS) n += Current(&out[n]);
    }
    slot.input = NULL;
    slot.inputLength = 0;
    while (n < 2 * MAX_UNITS && CodecSlotDecode(&slot)) n += Current(&out[n]);
    CHECK(CodecSlotDestroy(&slot) == 1);
    CHECK(slot.instance == NULL);
    return n;
}

static void Compare(const char *what, const Picture *a, int na, const Picture *b, int nb) {
    int i, differ = 0;
    if (na != FRAMES || nb != na) {
        fprintf(stderr, "%s: %d pictures through the slot, %d from libavcodec\n", what, nb, na);
        ++failures;
        return;
    }
    for (i = 0; i < na; ++i)
        if (a[i].width != b[i].width || a[i].height != b[i].height || a[i].bytes != b[i].bytes ||
            memcmp(a[i].data, b[i].data, (size_t)a[i].bytes) != 0)
            ++differ;
    if (differ) {
        fprintf(stderr, "%s: %d of %d pictures differ\n", what, differ, na);
        ++failures;
    } else {
        printf("%s: %d pictures identical\n", what, na);
    }
}

static void FreeAll(Unit *units, int count, Picture *a, int na, Picture *b, int nb) {
    int i;
    for (i = 0; i < count; ++i) free(units[i].data);
    for (i = 0; i < na; ++i) free(a[i].data);
    for (i = 0; i < nb; ++i) free(b[i].data);
}

int main(int argc, char **argv) {
    static Unit units[MAX_UNITS];
    static Picture direct[2 * MAX_UNITS], slotted[2 * MAX_UNITS];
    int count, nd, ns;
    av_log_set_level(AV_LOG_QUIET);
    if (argc > 1 && strcmp(argv[1], "missing") == 0) {
        int32_t type;
        for (type = 0; type <= 16; type += type == 1 ? 15 : 1) {
            memset(&slot, 0, sizeof(slot));
            CHECK(CodecSlotCreate(&slot, 0, 0, type) == 1);
            CHECK(slot.instance == NULL);
            CHECK(CodecSlotDecode(&slot) == 0);
            CHECK(CodecSlotGetFrame(&slot) == NULL);
            CHECK(CodecSlotQueryDecoder(&slot) == -1);
            CHECK(CodecSlotDestroy(&slot) == 1);
        }
        if (failures == 0) printf("no module: no instance\n");
        return failures == 0 ? 0 : 1;
    }
    count = Encode("mpeg4", units);
    nd = Direct(AV_CODEC_ID_MPEG4, units, count, direct);
    ns = ThroughSlot(CODEC_TYPE_VIDEO_MPEG4, units, count, slotted);
    Compare("MPEG-4, type 0", direct, nd, slotted, ns);
    FreeAll(units, count, direct, nd, slotted, ns);

    count = Encode("libx264", units);
    nd = Direct(AV_CODEC_ID_H264, units, count, direct);
    ns = ThroughSlot(CODEC_TYPE_VIDEO_H264, units, count, slotted);
    Compare("H.264, type 1", direct, nd, slotted, ns);
    FreeAll(units, 0, direct, 0, slotted, ns);
    ns = ThroughSlot(CODEC_TYPE_VIDEO_H264_PREFIXED, units, count, slotted);
    Compare("H.264, type 16", direct, nd, slotted, ns);
    FreeAll(units, count, direct, nd, slotted, ns);
    return failures == 0 ? 0 : 1;
}
