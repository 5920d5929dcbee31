// The one table between the codec slot and the video module.
//
// The decoders behind codec types 0, 1 and 16 live in a module of their own,
// libvelkorix-video.so, that links libavcodec; the slot loads it on the first
// creation of such a decoder (video_module_loader.h) and reaches it only
// through this table. Nothing that decodes audio needs the module or
// libavcodec. The module exports one function with C linkage,
// kVideoModuleEntryName, that returns its table; the loader takes the table
// only when `version` and `size` are exactly this header's.
//
// The table speaks of decoders, not of slots: the video binding of the slot
// turns slot calls into these (video_seam.h). Every function is called with a
// decoder from `create` (never null), and all calls on one decoder come from
// one thread at a time, as a slot's do.
#pragma once

#include <cstdint>

namespace velkorix::video {

// Raise on every change of the table's layout or of a function's meaning.
inline constexpr uint32_t kVideoModuleVersion = 1;

inline constexpr const char kVideoModuleFileName[] = "libvelkorix-video.so";
inline constexpr const char kVideoModuleEntryName[] = "VelkorixVideoModuleEntry";
// The environment variable that names the module file to load instead of
// searching for it (tests, unusual installations).
inline constexpr const char kVideoModuleEnvironment[] = "VELKORIX_VIDEO_MODULE";

enum VideoCodec : int32_t {
    kVideoCodecMpeg4 = 0,  // MPEG-4 part 2 (visual), codec type 0
    kVideoCodecH264 = 1,   // H.264, codec types 1 and 16
};

extern "C" {

struct VideoModuleTable {
    uint32_t version;  // kVideoModuleVersion
    uint32_t size;     // sizeof(VideoModuleTable)

    // A decoder of `codec`; `width` and `height` are hints (ignored unless
    // both are from 1 to 16384). Null when the codec is unknown or the
    // decoder cannot be set up.
    void *(*create)(int32_t codec, int32_t width, int32_t height);
    // Frees the decoder and everything it holds.
    void (*release)(void *decoder);

    // Decodes one unit (MPEG-4: a VOP with the headers before it; H.264: an
    // access unit) of `length` bytes; the module does not keep `input`.
    // Length 0 drains: each such call gives the next picture held back for
    // reordering, then 0, after which the decoder takes a new stream. Answers
    // 1 when a picture came out (the current picture is then that one), 0
    // when none did.
    int32_t (*decode)(void *decoder, const uint8_t *input, int32_t length);

    // The current picture in the slot's layout (planar 8-bit YUV 4:2:0, the
    // Y, U and V planes contiguous and unpadded); null before the first.
    // Valid until the next decode or release.
    const uint8_t *(*picture)(void *decoder);
    // The current picture's width and height and its size in bytes; before
    // the first picture the creation hints (0 when ignored) and 0 bytes.
    void (*pictureSize)(void *decoder, int32_t *width, int32_t *height, int32_t *bytes);

    // Pictures the decoder holds back for reordering now (0 for a stream
    // without B pictures).
    int32_t (*reorderDelay)(void *decoder);

    // Options; each takes effect from the next decode call.
    // Nonzero: pictures leave in display order, delayed as the stream needs
    // (the default). Zero: every picture leaves with the call that decoded it,
    // in decode order.
    void (*setReordering)(void *decoder, int32_t reorder);
    // Nonzero: pictures no other picture refers to (B pictures) are skipped.
    void (*setSkipNonReference)(void *decoder, int32_t skip);
    // How damaged macroblocks are concealed: nonzero `guessMotion` predicts
    // them from their neighbours' motion, nonzero `deblock` smooths the edges
    // of concealed areas (both on by default).
    void (*setConcealment)(void *decoder, int32_t guessMotion, int32_t deblock);
};

// The module's one export.
using VideoModuleEntry = const VideoModuleTable *(*)();

}  // extern "C"

}  // namespace velkorix::video
