// Codec type 1 through the codec slot: any bytes as an H.264 Annex B stream.
#include "video_target.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    velkorix::fuzz::NameVideoModule();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    return velkorix::fuzz::DecodeThroughSlot(CODEC_TYPE_VIDEO_H264, velkorix::cli::video::UnitFormat::H264AnnexB, data, size);
}
