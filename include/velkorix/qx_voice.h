/*
 * Velkorix voice codec library: 16-bit linear PCM to and from compact voice
 * frames (G.711 A-law and mu-law, G.726 at 16/24/32/40 kbit/s, IMA ADPCM in
 * three layouts, a 2-bit linear ADPCM), and in-place transcoding of four
 * variant frame types into their plain counterparts.
 *
 * The library allocates nothing and keeps no global mutable state: every call
 * works on a state block the caller owns. Calls on different states may run on
 * any threads at the same time; one state must not be used by two calls at once.
 *
 * Usage: reset a state with the codec type (QX_VOICE_EncReset or
 * QX_VOICE_DecReset), then encode or decode frames in order. A state serves one
 * direction only.
 *
 * Frame layout (all multi-byte fields little-endian):
 *   bytes 0-1  flags word: the encoder writes 0x0100; the decoder requires
 *              bit 8 set and bit 9 clear and ignores the other bits
 *   byte  2    payload length in 16-bit words (1 to 255; encoders write at most 240)
 *   byte  3    0 (high byte of the length word; decoders ignore it)
 *   bytes 4-   payload, 2 x length bytes, laid out by the codec
 */
#ifndef VELKORIX_QX_VOICE_H
#define VELKORIX_QX_VOICE_H

#include <stdint.h>
#include "velkorix_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Buffer sizes a caller provides ---- */

/* Samples in the largest frame any codec accepts or produces. A decode call
 * writes at most this many samples. */
#define VOICE_MAX_SAMPLES 481
/* Bytes of the largest frame an encoder produces (240 payload words). */
#define VOICE_FRAME_MAX_BYTES 484
#define VOICE_FRAME_HEADER_BYTES 4
#define VOICE_FRAME_MAX_PAYLOAD_BYTES (VOICE_FRAME_MAX_BYTES - VOICE_FRAME_HEADER_BYTES)
/* A state block of this size holds the state of every codec. */
#define VOICE_STATE_BYTES 2048
/* The transcoding state: an encoder state block followed by a decoder block. */
#define VOICE_TRANS_STATE_BYTES (2 * VOICE_STATE_BYTES)
/* The version string with its terminator. */
#define VOICE_VERSION_BYTES 42
#define VOICE_VERSION_STRING "QX_VOICE_VERSION=Qx7740_VOICELIB_V1.0.0.0"

/* The flags word every encoder writes. */
#define VOICE_FRAME_FLAGS 0x0100

/* ---- Codec types (VoiceCodecType, a signed 16-bit number) ---- */
enum VoiceCodecType {
    G711_A = 1,          /* G.711 A-law, two codes per word in sample order */
    G711_U = 2,          /* G.711 mu-law */
    ADPCM_PRED = 3,      /* IMA ADPCM, header holds predictor and step index */
    G726_16 = 4,         /* G.726 16 kbit/s, codewords packed LSB first */
    G726_24 = 5,         /* G.726 24 kbit/s, LSB first */
    G726_32 = 6,         /* G.726 32 kbit/s, LSB first */
    G726_40 = 7,         /* G.726 40 kbit/s, LSB first */
    ADPCM_FIRST = 35,    /* IMA ADPCM, header holds the first sample */
    G726_16_MSB = 36,    /* as G726_16, codewords packed MSB first */
    G726_24_MSB = 37,
    G726_32_MSB = 38,
    G726_40_MSB = 39,
    G711_A_SWAP = 65,    /* G.711 A-law, bytes of each word exchanged */
    G711_U_SWAP = 66,    /* G.711 mu-law, bytes of each word exchanged */
    ADPCM_BARE = 67,     /* IMA ADPCM, no header: state carries over */
    ADPCM2_LINEAR = 68   /* 2-bit ADPCM with linear arithmetic */
};

/* ---- Transcoding selectors ---- */
enum VoiceTransSelector {
    TRANS_G711_A = 97,   /* G711_A_SWAP frames -> G711_A */
    TRANS_G711_U = 98,   /* G711_U_SWAP frames -> G711_U */
    TRANS_ADPCM = 99,    /* ADPCM_BARE frames -> ADPCM_PRED (grows by 2 words) */
    TRANS_ADPCM2 = 100   /* ADPCM2_LINEAR frames -> G726_16 (same length) */
};

/* ---- Result codes ---- */
#define VOICE_OK 0
#define VOICE_ERR_VERSION_BUFFER (-1)                       /* QX_VOICE_GetVersion: null buffer */
#define VOICE_ERR_ENC_TYPE ((int32_t)0xA1220001u)          /* encoder: type outside the table */
#define VOICE_ERR_ENC_LEN ((int32_t)0xA1220002u)           /* encoder: sample count not 1..481 */
#define VOICE_ERR_DEC_TYPE ((int32_t)0xA1220011u)          /* decoder: type outside the table */
#define VOICE_ERR_DEC_LEN ((int32_t)0xA1220012u)           /* decoder: length the type does not accept */
#define VOICE_ERR_DEC_HEADER ((int32_t)0xA1220013u)        /* decoder: flags bits 8-9 are not 01 */
#define VOICE_ERR_NULL_STATE ((int32_t)0xA1220101u)        /* null state */
#define VOICE_ERR_NULL_INPUT ((int32_t)0xA1220102u)        /* null PCM input or frame */
#define VOICE_ERR_NULL_OUTPUT ((int32_t)0xA1220103u)       /* null frame output, PCM output or count */
#define VOICE_ERR_TRANS_NULL_STATE ((int32_t)0xA1221001u)  /* null transcoding state */
#define VOICE_ERR_TRANS_TYPE ((int32_t)0xA1221002u)        /* bad selector or encoder type */

/* ---- Caller-owned blocks ---- */

/* A codec state. The first field is the codec type written by the resets; the
 * rest belongs to the codec. A caller that uses one codec family only may
 * allocate less (4-byte aligned): 8 bytes for G.711, 8 for IMA ADPCM, 112 for
 * G.726, 56 for the 2-bit ADPCM. */
typedef struct VoiceState {
    int16_t type;
    int16_t reserved;
    int32_t codec[(VOICE_STATE_BYTES - 4) / 4];
} VoiceState;

/* The transcoding state: the encoder block at offset 0, the decoder block at
 * offset VOICE_STATE_BYTES. */
typedef struct VoiceTransState {
    VoiceState encoder;
    VoiceState decoder;
} VoiceTransState;

/* A frame buffer large enough for every frame an encoder produces. A frame
 * passed to a decoder occupies 4 + 2 x length bytes. */
typedef struct VoiceFrame {
    uint8_t flags[2];   /* little-endian flags word */
    uint8_t length;     /* payload length in 16-bit words */
    uint8_t lengthHigh; /* 0 */
    uint8_t payload[VOICE_FRAME_MAX_PAYLOAD_BYTES];
} VoiceFrame;

/* ---- Functions: each returns VOICE_OK (0) or a result code above ---- */

/* Copies VOICE_VERSION_STRING with its terminator (42 bytes) into `buffer`. */
VELKORIX_API int32_t QX_VOICE_GetVersion(char *buffer);

/* Reset a state for encoding or decoding with `type`. A type outside the table
 * is still stored in the state (every later frame call then fails) and is
 * reported with VOICE_ERR_ENC_TYPE / VOICE_ERR_DEC_TYPE. */
VELKORIX_API int32_t QX_VOICE_EncReset(VoiceState *state, int16_t type);
VELKORIX_API int32_t QX_VOICE_DecReset(VoiceState *state, int16_t type);

/* Encodes `count` samples (1 to 481) into one frame of at most 484 bytes.
 * Samples that do not fill a whole payload word advance the state but are not
 * carried; multiples of 80 samples never lose any. */
VELKORIX_API int32_t QX_VOICE_EncodeFrame(VoiceState *state, const int16_t *pcm, VoiceFrame *frame,
                                          int16_t count);

/* Decodes one frame into at most 481 samples and stores their number in
 * `*count` (0 on every failure after the pointer checks). Frames of the
 * MSB-first G.726 types are rewritten in place into LSB-first order. */
VELKORIX_API int32_t QX_VOICE_DecodeFrame(VoiceState *state, VoiceFrame *frame, int16_t *pcm, int16_t *count);

/* Prepares a transcoding state for one selector (97 to 100). */
VELKORIX_API int32_t QX_VOICE_TransCodeReset(VoiceTransState *state, int16_t selector);

/* Converts one frame in place. TRANS_ADPCM frames grow by 4 bytes, so the
 * frame buffer needs room for them. A frame that the inner decoder rejects is
 * left as it was; that is not reported. */
VELKORIX_API int32_t QX_VOICE_TransCodeFrame(VoiceTransState *state, VoiceFrame *frame);

#ifdef __cplusplus
}
#endif

#endif
