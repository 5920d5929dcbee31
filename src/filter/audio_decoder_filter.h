// The decoding filter: every input sample is an 18-byte frame header and a
// compressed audio payload; every output sample is 16-bit PCM.
#pragma once

#include <cstdint>

#include "filter/codec_context.h"
#include "filter/level_adjust.h"
#include "stream/frame_format.h"
#include "transform_filter.h"

namespace velkorix {

// The one output buffer the filter asks for. Every input sample is one record
// of the framed stream (stream/frame_format.h: header layout, output rule).
inline constexpr LONG kOutputBufferSize = stream::kOutputBufferBytes;

// Debugger text for a sample whose payload could not be taken whole (missing
// header, declared length beyond the sample or negative, too short for its
// format, or decoded output beyond the output buffer).
inline constexpr char kTruncatedSampleMessage[] = "audio sample truncated!\n";

class AudioDecoderFilter : public TransformFilterBase, public ILevelAdjust, public ISpecifyPropertyPages {
public:
    // Creation function of the class table: stores E_OUTOFMEMORY in `result`
    // (when given) and returns null when the filter cannot be allocated.
    static UnknownBase *Create(IUnknown *outer, HRESULT *result);

    ~AudioDecoderFilter() override;

    VELKORIX_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void **object) override;

    HRESULT Transform(IMediaSample *input, IMediaSample *output) override;
    HRESULT CheckInputType(const AM_MEDIA_TYPE *type) override;
    HRESULT CheckTransform(const AM_MEDIA_TYPE *input, const AM_MEDIA_TYPE *output) override;
    HRESULT DecideBufferSize(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) override;
    HRESULT GetMediaType(int position, AM_MEDIA_TYPE *type) override;

    // ILevelAdjust
    HRESULT STDMETHODCALLTYPE GetLevel(signed char *level) override;
    HRESULT STDMETHODCALLTYPE SetLevel(LONG level, LONG reserved) override;
    HRESULT STDMETHODCALLTYPE ResetLevel() override;

    // ISpecifyPropertyPages: the level page. The caller frees the array.
    HRESULT STDMETHODCALLTYPE GetPages(CAUUID *pages) override;

    const CodecContext &Context() const { return context; }

private:
    explicit AudioDecoderFilter(IUnknown *outer);

    HRESULT DecodeStep(IMediaSample *input, IMediaSample *output);
    HRESULT LevelStep(IMediaSample *output);

    int8_t defaultLevel = 0;
    int8_t level = 0;
    int8_t previousLevel = 0;
    CRITICAL_SECTION levelLock;
    CodecContext context;
};

// The level's adjustment of a palette carried in a media type's format block:
// entry count (32-bit) at byte 80, 4-byte entries from byte 88 whose first
// three bytes are adjusted. Nothing outside the format block is touched.
HRESULT AdjustPalette(AM_MEDIA_TYPE *type, int8_t level);

}  // namespace velkorix
