// Codec type 0 through the codec slot: any bytes as an MPEG-4 part 2 elementary stream.
#include "video_target.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    velkorix::fuzz::NameVideoModule();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    return velkorix::fuzz::DecodeThroughSlot(CODEC_TYPE_VIDEO_MPEG4, velkorix::cli::video::UnitFormat::Mpeg4Visual, data, size);
}
