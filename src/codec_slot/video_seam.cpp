#include "codec_slot/video_seam.h"

#include <cstring>

#include "common/aligned.h"
#include "common/cpu_features.h"

namespace velkorix::video {
namespace {

// What this build keeps for a video instance: the creation parameters and the
// options the slot forwards, so that queries answer consistently.
struct Context {
    Kind kind;
    int32_t width;
    int32_t height;
    int32_t cpuLevel;
    int32_t options[2];
    int32_t delay[2];
    int32_t flag;
};

Context *From(void *decoder) { return static_cast<Context *>(decoder); }

}  // namespace

void *Create(Kind kind, int32_t width, int32_t height) {
    auto *context = static_cast<Context *>(AlignedAlloc(sizeof(Context), 16));
    if (!context) return nullptr;
    std::memset(context, 0, sizeof(Context));
    context->kind = kind;
    context->width = width;
    context->height = height;
    if (kind != Kind::Block) context->cpuLevel = CpuLevel();
    return context;
}

void Release(Kind, void *decoder) { AlignedFree(decoder); }

int32_t DecodeFrame(Kind, void *, const uint8_t *, int32_t) { return 0; }

int32_t DecodeBlockFrame(void *, const uint8_t *, uint8_t *, int32_t, int32_t, int32_t) { return 0; }

void ConvertColour(void *, uint8_t *, int32_t, int32_t) {}

void *CurrentFrame(Kind, void *) { return nullptr; }

void FrameSize(void *decoder, int32_t *width, int32_t *height, int32_t *third) {
    const Context *context = From(decoder);
    if (width) *width = context->width;
    if (height) *height = context->height;
    if (third) *third = 0;
}

int32_t Query(void *) { return 0; }

void SetOutputOptions(void *decoder, int32_t value, int32_t second) {
    From(decoder)->options[0] = value;
    From(decoder)->options[1] = second;
}

void SetDelay(void *decoder, int32_t value) {
    From(decoder)->delay[0] = value;
    From(decoder)->delay[1] = value;
}

void SetFlag(void *decoder, int32_t value) { From(decoder)->flag = value; }

}  // namespace velkorix::video
