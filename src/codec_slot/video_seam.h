// The seam in front of the video decoders of codec types 0, 1, 2 and 16.
//
// Types 0, 1 and 16 (the staged decoders): on Linux the MPEG-4 part 2 and
// H.264 decoders of the video module (libvelkorix-video.so, over libavcodec),
// loaded on the first creation (video_module_loader.h); creation fails (null)
// where the module cannot be loaded. Windows builds carry no video module:
// there these types keep a placeholder context whose frame decode answers 0.
// Type 2, whose codec is not described anywhere, is a placeholder everywhere:
// a small context per instance so that every slot rule around it is real,
// and a frame decode that answers 0 and produces no picture.
#pragma once

#include <cstdint>

namespace velkorix::video {

enum class Kind { Mpeg4 = 0, H264 = 1, Block = 2 };

void *Create(Kind kind, int32_t width, int32_t height);
void Release(Kind kind, void *decoder);

// Frame decode of types 0, 1 and 16: `length` bytes of input, already staged
// by the slot (without type 16's prefix). Length 0 drains the pictures held
// back for reordering. 1 when a picture came out.
int32_t DecodeFrame(Kind kind, void *decoder, const uint8_t *input, int32_t length);
// Frame decode of type 2 into the slot's frame buffer.
int32_t DecodeBlockFrame(void *decoder, const uint8_t *input, uint8_t *output, int32_t width,
                         int32_t mode, int32_t outputFormat);
void ConvertColour(void *decoder, uint8_t *frame, int32_t width, int32_t height);

// The current picture of a staged decoder (types 0, 1, 16; after the
// decoder's output reordering); null before the first.
void *CurrentFrame(Kind kind, void *decoder);

// Queries and options of the staged decoders (the slot calls them for types
// 0, 1 and 16 only); include/velkorix/codec_slot.h says what each means.
void FrameSize(void *decoder, int32_t *width, int32_t *height, int32_t *third);
int32_t Query(void *decoder);
void SetOutputOptions(void *decoder, int32_t value, int32_t second);
void SetDelay(void *decoder, int32_t value);
void SetFlag(void *decoder, int32_t value);

}  // namespace velkorix::video
