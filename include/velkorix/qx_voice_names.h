/*
 * Velkorix voice codec library: the names of its result codes, for messages
 * and logs. Header-only: nothing here is exported by the library.
 *
 *   printf("frame rejected: %s\n", VoiceResultName(QX_VOICE_DecodeFrame(...)));
 */
#ifndef VELKORIX_QX_VOICE_NAMES_H
#define VELKORIX_QX_VOICE_NAMES_H

#include <stdint.h>
#include "qx_voice.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The name of a result code ("VOICE_ERR_DEC_LEN"), or "unknown result". */
static inline const char *VoiceResultName(int32_t code) {
    switch (code) {
        case VOICE_OK: return "VOICE_OK";
        case VOICE_ERR_VERSION_BUFFER: return "VOICE_ERR_VERSION_BUFFER";
        case VOICE_ERR_ENC_TYPE: return "VOICE_ERR_ENC_TYPE";
        case VOICE_ERR_ENC_LEN: return "VOICE_ERR_ENC_LEN";
        case VOICE_ERR_DEC_TYPE: return "VOICE_ERR_DEC_TYPE";
        case VOICE_ERR_DEC_LEN: return "VOICE_ERR_DEC_LEN";
        case VOICE_ERR_DEC_HEADER: return "VOICE_ERR_DEC_HEADER";
        case VOICE_ERR_NULL_STATE: return "VOICE_ERR_NULL_STATE";
        case VOICE_ERR_NULL_INPUT: return "VOICE_ERR_NULL_INPUT";
        case VOICE_ERR_NULL_OUTPUT: return "VOICE_ERR_NULL_OUTPUT";
        case VOICE_ERR_TRANS_NULL_STATE: return "VOICE_ERR_TRANS_NULL_STATE";
        case VOICE_ERR_TRANS_TYPE: return "VOICE_ERR_TRANS_TYPE";
        default: return "unknown result";
    }
}

#ifdef __cplusplus
}
#endif

#endif /* VELKORIX_QX_VOICE_NAMES_H */
