// The narrow seam in front of the video decoders of codec types 0, 1, 2 and 16.
// This build carries no video decoder: the seam keeps a small context per
// instance so that every slot rule around it is real, and its frame decode
// answers 0 (nothing decoded).
#pragma once

#include <cstdint>

namespace velkorix::video {

enum class Kind { Mpeg4 = 0, H264 = 1, Block = 2 };

void *Create(Kind kind, int32_t width, int32_t height);
void Release(Kind kind, void *decoder);

// Frame decode of types 0, 1 and 16: input already staged by the slot.
int32_t DecodeFrame(Kind kind, void *decoder, const uint8_t *input, int32_t length);
// Frame decode of type 2 into the slot's frame buffer.
int32_t DecodeBlockFrame(void *decoder, const uint8_t *input, uint8_t *output, int32_t width,
                         int32_t mode, int32_t outputFormat);
void ConvertColour(void *decoder, uint8_t *frame, int32_t width, int32_t height);

// Queries and options.
void *CurrentFrame(Kind kind, void *decoder);  // type 0: after the output reordering step
void FrameSize(void *decoder, int32_t *width, int32_t *height, int32_t *third);
int32_t Query(void *decoder);
void SetOutputOptions(void *decoder, int32_t value, int32_t second);
void SetDelay(void *decoder, int32_t value);
void SetFlag(void *decoder, int32_t value);

}  // namespace velkorix::video
