/*
 * Codec slot: one record that owns at most one decoder instance of a numbered
 * codec type, with the input and output pointers of the current call.
 * Every operation returns 1 for success and 0 for failure unless noted.
 * A slot has no lock: its owner serialises all calls on it.
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
    CODEC_TYPE_VIDEO_MPEG4 = 0,     /* video decoder, type 0 */
    CODEC_TYPE_VIDEO_H264 = 1,      /* video decoder, types 1 and 16 */
    CODEC_TYPE_VIDEO_BLOCK = 2,     /* video decoder, type 2 (size in the input) */
    CODEC_TYPE_G726_STREAM = 4,     /* G.726 24 kbit/s packed stream decoder */
    CODEC_TYPE_VOICE_ADPCM = 6,     /* voice library, IMA ADPCM with first sample */
    CODEC_TYPE_G729 = 8,            /* G.729 Annex A decoder */
    CODEC_TYPE_VOICE_G711A = 9,     /* voice library, G.711 A-law */
    CODEC_TYPE_VOICE_G711U = 10,    /* voice library, G.711 mu-law */
    CODEC_TYPE_VIDEO_H264_PREFIXED = 16 /* as type 1, input carries 4 leading bytes */
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

VELKORIX_API int32_t CodecSlotCreate(CodecSlot *slot, int32_t width, int32_t height, int32_t type);
VELKORIX_API int32_t CodecSlotDecode(CodecSlot *slot);
VELKORIX_API int32_t CodecSlotDestroy(CodecSlot *slot);

VELKORIX_API void *CodecSlotGetFrame(CodecSlot *slot);
VELKORIX_API int32_t CodecSlotGetFrameSize(CodecSlot *slot, int32_t *width, int32_t *height, int32_t *third);
VELKORIX_API int32_t CodecSlotSetOutputOptions(CodecSlot *slot, int32_t value, int32_t second);
VELKORIX_API int32_t CodecSlotQueryDecoder(CodecSlot *slot);
VELKORIX_API int32_t CodecSlotSetDelay(CodecSlot *slot, int32_t value);
VELKORIX_API int32_t CodecSlotSetDecoderFlag(CodecSlot *slot, int32_t value);

#ifdef __cplusplus
}
#endif

#endif
