// Codec type 16 through the codec slot: any bytes as H.264 access units,
// each after a 4-byte big-endian length.
#include "video_target.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    velkorix::fuzz::NameVideoModule();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    return velkorix::fuzz::DecodeThroughSlot(CODEC_TYPE_VIDEO_H264_PREFIXED,
                                             velkorix::cli::video::UnitFormat::LengthPrefixed, data, size);
}
