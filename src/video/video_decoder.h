// A video decoder of the video module: libavcodec's MPEG-4 part 2 or H.264
// decoder fed one unit at a time, its pictures handed out in the codec slot's
// layout (planar 8-bit YUV 4:2:0, planes contiguous). The module's table
// (module_entry.cpp) maps onto these functions one to one; what each does is
// stated in codec_slot/video_module_interface.h.
#pragma once

#include <cstdint>

namespace velkorix::video {

struct VideoDecoder;

VideoDecoder *VideoDecoderCreate(int32_t codec, int32_t width, int32_t height);
void VideoDecoderRelease(VideoDecoder *decoder);
int32_t VideoDecoderDecode(VideoDecoder *decoder, const uint8_t *input, int32_t length);
const uint8_t *VideoDecoderPicture(const VideoDecoder *decoder);
void VideoDecoderPictureSize(const VideoDecoder *decoder, int32_t *width, int32_t *height, int32_t *bytes);
int32_t VideoDecoderReorderDelay(const VideoDecoder *decoder);
void VideoDecoderSetReordering(VideoDecoder *decoder, int32_t reorder);
void VideoDecoderSetSkipNonReference(VideoDecoder *decoder, int32_t skip);
void VideoDecoderSetConcealment(VideoDecoder *decoder, int32_t guessMotion, int32_t deblock);

}  // namespace velkorix::video
