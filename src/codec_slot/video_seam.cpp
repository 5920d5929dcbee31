#include "codec_slot/video_seam.h"

#include <cstring>

#include "common/aligned.h"
#include "common/cpu_features.h"

#if VELKORIX_VIDEO_MODULE_LOADER
#include "codec_slot/video_module_loader.h"
#endif

namespace velkorix::video {
namespace {

// The placeholder's instance: the creation parameters and the options the
// slot forwards, so that queries answer consistently.
struct Context {
    Kind kind;
    int32_t width;
    int32_t height;
    int32_t cpuLevel;
    int32_t options[2];
    int32_t delay[2];
    int32_t flag;
};

[[maybe_unused]] Context *From(void *decoder) { return static_cast<Context *>(decoder); }

#if VELKORIX_VIDEO_MODULE_LOADER
// Types 0, 1 and 16 come from the video module. A decoder of theirs exists
// only once the module is loaded, and a loaded module stays, so every call on
// a decoder finds the table at once.
constexpr bool kStagedFromModule = true;
const VideoModuleTable &Module() { return *LoadVideoModule(); }
#else
constexpr bool kStagedFromModule = false;
#endif

[[maybe_unused]] bool FromModule(Kind kind) { return kStagedFromModule && kind != Kind::Block; }

}  // namespace

void *Create(Kind kind, int32_t width, int32_t height) {
#if VELKORIX_VIDEO_MODULE_LOADER
    if (FromModule(kind)) {
        const VideoModuleTable *module = LoadVideoModule();
        if (!module) return nullptr;
        return module->create(kind == Kind::Mpeg4 ? kVideoCodecMpeg4 : kVideoCodecH264, width, height);
    }
#endif
    auto *context = static_cast<Context *>(AlignedAlloc(sizeof(Context), 16));
    if (!context) return nullptr;
    std::memset(context, 0, sizeof(Context));
    context->kind = kind;
    context->width = width;
    context->height = height;
    if (kind != Kind::Block) context->cpuLevel = CpuLevel();
    return context;
}

void Release(Kind kind, void *decoder) {
#if VELKORIX_VIDEO_MODULE_LOADER
    if (FromModule(kind)) return Module().release(decoder);
#endif
    (void)kind;
    AlignedFree(decoder);
}

int32_t DecodeFrame(Kind kind, void *decoder, const uint8_t *input, int32_t length) {
#if VELKORIX_VIDEO_MODULE_LOADER
    if (FromModule(kind)) return Module().decode(decoder, input, length);
#endif
    (void)kind, (void)decoder, (void)input, (void)length;
    return 0;  // the placeholder decodes nothing
}

int32_t DecodeBlockFrame(void *, const uint8_t *, uint8_t *, int32_t, int32_t, int32_t) { return 0; }

void ConvertColour(void *, uint8_t *, int32_t, int32_t) {}

void *CurrentFrame(Kind kind, void *decoder) {
#if VELKORIX_VIDEO_MODULE_LOADER
    if (FromModule(kind)) return const_cast<uint8_t *>(Module().picture(decoder));
#endif
    (void)kind, (void)decoder;
    return nullptr;
}

void FrameSize(void *decoder, int32_t *width, int32_t *height, int32_t *third) {
#if VELKORIX_VIDEO_MODULE_LOADER
    int32_t w = 0, h = 0, bytes = 0;
    Module().pictureSize(decoder, &w, &h, &bytes);
#else
    const Context *context = From(decoder);
    const int32_t w = context->width, h = context->height, bytes = 0;
#endif
    if (width) *width = w;
    if (height) *height = h;
    if (third) *third = bytes;
}

int32_t Query(void *decoder) {
#if VELKORIX_VIDEO_MODULE_LOADER
    return Module().reorderDelay(decoder);
#else
    (void)decoder;
    return 0;
#endif
}

void SetOutputOptions(void *decoder, int32_t value, int32_t second) {
#if VELKORIX_VIDEO_MODULE_LOADER
    Module().setConcealment(decoder, value, second);
#else
    From(decoder)->options[0] = value;
    From(decoder)->options[1] = second;
#endif
}

void SetDelay(void *decoder, int32_t value) {
#if VELKORIX_VIDEO_MODULE_LOADER
    Module().setReordering(decoder, value);
#else
    From(decoder)->delay[0] = value;
    From(decoder)->delay[1] = value;
#endif
}

void SetFlag(void *decoder, int32_t value) {
#if VELKORIX_VIDEO_MODULE_LOADER
    Module().setSkipNonReference(decoder, value);
#else
    From(decoder)->flag = value;
#endif
}

}  // namespace velkorix::video
