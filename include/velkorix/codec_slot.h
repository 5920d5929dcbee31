/*
 * Codec slot: one record that owns at most one decoder instance of a numbered
 * codec type, with the input and output pointers of the current call.
 * Every operation returns 1 for success and 0 for failure unless noted.
 * A slot has no lock: its owner serialises all calls on it.
 *
 * Video (Linux)
 * -------------
 * Types 0 (MPEG-4 part 2 visual), 1 and 16 (H.264) decode through
 * libavcodec's decoders, which live in a module of their own,
 * libvelkorix-video.so. The slot loads it on the first creation of such a
 * decoder: from the directory of libvelkorix.so (or of the program that links
 * the slot in), then that directory's ../lib, then the dynamic loader's search
 * path; the environment variable VELKORIX_VIDEO_MODULE, when set, names the
 * one file to load instead. Where the module or libavcodec is missing,
 * CodecSlotCreate still answers 1 but leaves `instance` null, and the slot
 * behaves as for every type without an instance. Nothing else in the library
 * needs libavcodec. The Windows module carries no video decoder: there, as for
 * type 2 everywhere, the frame decode produces no picture and answers 0.
 *
 * Input: one unit per CodecSlotDecode, at most CODEC_SLOT_STAGING_SIZE bytes,
 * copied into `staging` first. Type 0: one VOP (start code 0x000001B6) with
 * any headers before it (visual object sequence, visual object, video object
 * layer, group of VOPs); the first unit of a stream carries the video object
 * layer header. Types 1 and 16: one H.264 access unit in Annex B form (start
 * codes before every NAL unit), parameter sets in the stream. Type 16 input
 * carries 4 leading bytes of any value that the slot skips; the decoder gets
 * exactly the bytes after them. An empty unit (inputLength 0; for type 16, 4
 * or fewer bytes) drains: each such call gives the next picture held back for
 * reordering and answers 1, then answers 0 when none is left; after that the
 * decoder takes a new stream (from its next key picture with its headers).
 * Decoding runs on the calling thread.
 *
 * Answer: 1 when a picture came out of the call, 0 when none did (headers
 * only, a picture held back for reordering, a skipped or undecodable picture,
 * damaged input). Pictures come out in display order, behind the decoder's
 * reordering delay (see CodecSlotQueryDecoder).
 *
 * Pictures: CodecSlotGetFrame gives the current picture (the last one that
 * came out; it stays current after calls that give none) as planar 8-bit
 * YUV 4:2:0: the Y plane (width x height bytes), then the U plane, then the V
 * plane (each ((width + 1) / 2) x ((height + 1) / 2) bytes), contiguous, rows
 * unpadded. Sample values are as the stream codes them (for nearly all
 * streams the video range, 16 to 235). Greyscale pictures get U and V of 128;
 * pictures of other formats (4:2:2, 4:4:4, more than 8 bits) are refused:
 * the call answers 0 for them. The pointer is valid until the next
 * CodecSlotDecode or CodecSlotDestroy on the slot; null before the first
 * picture. CodecSlotGetFrameSize writes the current picture's width and
 * height and, as the third value, its size in bytes (the three planes);
 * before the first picture it writes the width and height given at creation
 * (0 and 0 unless both are from 1 to 16384) and 0 bytes. Width and height
 * follow the stream: a new picture size in the stream gives pictures of that
 * size. (libavcodec's MPEG-4 decoder drops the picture it holds back for
 * reordering when the size changes.)
 *
 * Creation: width and height are hints only; the stream's headers decide.
 *
 * Queries and options (each takes effect from the next CodecSlotDecode):
 *   CodecSlotQueryDecoder  types 0, 1, 16: the number of pictures the decoder
 *                          holds back for reordering now (0 for a stream
 *                          without B pictures, 1 for MPEG-4 with B-VOPs, up
 *                          to 16 for H.264).
 *   CodecSlotSetDelay      type 0: the output delay. 0: no delay, every
 *                          picture comes out of the call that decoded it, in
 *                          decode order (right for streams without B-VOPs;
 *                          B-VOP streams then come out in the wrong order).
 *                          Any other value (the default): display order,
 *                          pictures delayed as the stream needs. A switch to 0
 *                          while a picture is held back loses that picture.
 *   CodecSlotSetDecoderFlag
 *                          type 0: nonzero skips the pictures no other picture
 *                          refers to (B-VOPs): their calls answer 0. 0 (the
 *                          default) decodes every picture.
 *   CodecSlotSetOutputOptions (value, second)
 *                          type 0: how macroblocks lost to damage look in the
 *                          pictures that come out. value nonzero: they are
 *                          concealed by guessing their motion from their
 *                          neighbours; second nonzero: the edges of concealed
 *                          areas are smoothed (deblocked). Both on by default;
 *                          both 0 leaves damaged macroblocks as decoded.
 *                          (For type 2 the value sets skipConversion.)
 * Types 1 and 16 take no options: those calls answer 1 and change nothing.
 *
 * Type 2 (block video, size in the input's first two bytes) is not decoded:
 * its size and staging rules hold, but its frame decode produces no picture
 * and answers 0, and CodecSlotGetFrame gives the slot's (untouched) frame
 * buffer.
 */
#ifndef VELKORIX_CODEC_SLOT_H
#define VELKORIX_CODEC_SLOT_H

#include <stdint.h>
#include "velkorix_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Size of the staging copy the slot keeps for video input. */
#define CODEC_SLOT_STAGING_SIZE 409600

/* Codec type numbers. Every other value names no decoder. */
enum CodecType {
    CODEC_TYPE_VIDEO_MPEG4 = 0,     /* MPEG-4 part 2 video decoder (Linux, video module) */
    CODEC_TYPE_VIDEO_H264 = 1,      /* H.264 video decoder (Linux, video module) */
    CODEC_TYPE_VIDEO_BLOCK = 2,     /* block video, size in the input: no picture is decoded */
    CODEC_TYPE_G726_STREAM = 4,     /* G.726 24 kbit/s packed stream decoder */
    CODEC_TYPE_VOICE_ADPCM = 6,     /* voice library, IMA ADPCM with first sample */
    CODEC_TYPE_G729 = 8,            /* G.729 Annex A decoder */
    CODEC_TYPE_VOICE_G711A = 9,     /* voice library, G.711 A-law */
    CODEC_TYPE_VOICE_G711U = 10,    /* voice library, G.711 mu-law */
    CODEC_TYPE_VIDEO_H264_PREFIXED = 16 /* as type 1, input carries 4 leading bytes the slot skips */
};

typedef struct CodecSlot {
    int32_t type;            /* codec type of the decoder held */
    void *instance;          /* the decoder instance; null when none is held */
    int32_t inputLength;     /* bytes of input for the next decode call */
    const uint8_t *input;    /* input of the next decode call */
    uint8_t *output;         /* destination of the next decode call (type 2: the slot's frame buffer) */
    int32_t width;           /* type 2 only: frame width in pixels */
    int32_t height;          /* type 2 only: frame height in pixels */
    int32_t skipConversion;  /* type 2 only: nonzero leaves frames unconverted */
    uint8_t staging[CODEC_SLOT_STAGING_SIZE]; /* copy of the input for the video types */
} CodecSlot;

/* Makes a decoder of `type` (width and height: hints for the video types).
 * Answers 1 for every known type, also when the decoder could not be made:
 * then `instance` stays null (video: module or libavcodec missing). */
VELKORIX_API int32_t CodecSlotCreate(CodecSlot *slot, int32_t width, int32_t height, int32_t type);
/* Decodes `inputLength` bytes at `input`. Types 0, 1, 16: 1 when a picture
 * came out, 0 otherwise. Type 2: always 0, no picture is decoded. */
VELKORIX_API int32_t CodecSlotDecode(CodecSlot *slot);
/* Releases the decoder and everything it holds, and clears the slot. */
VELKORIX_API int32_t CodecSlotDestroy(CodecSlot *slot);

/* Types 0, 1, 16: the current picture, planar 8-bit YUV 4:2:0, Y then U then
 * V, contiguous, rows unpadded (see "Pictures" above); null before the first. */
VELKORIX_API void *CodecSlotGetFrame(CodecSlot *slot);
/* Types 0, 1, 16: width, height and, as `third`, the picture's size in bytes
 * (width * height + 2 * ((width + 1) / 2) * ((height + 1) / 2); 0 before the
 * first picture). The luma stride is the width, the chroma stride
 * (width + 1) / 2. */
VELKORIX_API int32_t CodecSlotGetFrameSize(CodecSlot *slot, int32_t *width, int32_t *height, int32_t *third);
/* Type 0: error concealment (`value`: guess the motion of lost macroblocks,
 * `second`: deblock concealed edges). Type 2: value 0 sets skipConversion. */
VELKORIX_API int32_t CodecSlotSetOutputOptions(CodecSlot *slot, int32_t value, int32_t second);
/* Types 0, 1, 16: pictures held back for reordering now; -1 without instance. */
VELKORIX_API int32_t CodecSlotQueryDecoder(CodecSlot *slot);
/* Type 0: 0 gives every picture at once in decode order (low delay); any
 * other value display order with the stream's reordering delay (default). */
VELKORIX_API int32_t CodecSlotSetDelay(CodecSlot *slot, int32_t value);
/* Type 0: nonzero skips pictures no other refers to (B-VOPs). */
VELKORIX_API int32_t CodecSlotSetDecoderFlag(CodecSlot *slot, int32_t value);

#ifdef __cplusplus
}
#endif

#endif
