// libvelkorix-video.so's one export: the table through which the codec slot
// reaches the video decoders (codec_slot/video_module_interface.h).
#include "codec_slot/video_module_interface.h"
#include "video/video_decoder.h"

namespace velkorix::video {
namespace {

VideoDecoder *From(void *decoder) { return static_cast<VideoDecoder *>(decoder); }

void *Create(int32_t codec, int32_t width, int32_t height) { return VideoDecoderCreate(codec, width, height); }
void Release(void *decoder) { VideoDecoderRelease(From(decoder)); }
int32_t Decode(void *decoder, const uint8_t *input, int32_t length) {
    return VideoDecoderDecode(From(decoder), input, length);
}
const uint8_t *Picture(void *decoder) { return VideoDecoderPicture(From(decoder)); }
void PictureSize(void *decoder, int32_t *width, int32_t *height, int32_t *bytes) {
    VideoDecoderPictureSize(From(decoder), width, height, bytes);
}
int32_t ReorderDelay(void *decoder) { return VideoDecoderReorderDelay(From(decoder)); }
void SetReordering(void *decoder, int32_t reorder) { VideoDecoderSetReordering(From(decoder), reorder); }
void SetSkipNonReference(void *decoder, int32_t skip) { VideoDecoderSetSkipNonReference(From(decoder), skip); }
void SetConcealment(void *decoder, int32_t guessMotion, int32_t deblock) {
    VideoDecoderSetConcealment(From(decoder), guessMotion, deblock);
}

constexpr VideoModuleTable kTable = {
    kVideoModuleVersion, sizeof(VideoModuleTable),
    Create, Release, Decode, Picture, PictureSize, ReorderDelay,
    SetReordering, SetSkipNonReference, SetConcealment,
};

}  // namespace
}  // namespace velkorix::video

// The name is velkorix::video::kVideoModuleEntryName; the module's version
// script exports it and nothing else.
extern "C" __attribute__((visibility("default"))) const velkorix::video::VideoModuleTable *VelkorixVideoModuleEntry() {
    return &velkorix::video::kTable;
}
