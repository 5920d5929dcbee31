#include "filter/audio_decoder_filter.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "common/cpu_features.h"
#include "filter/guids.h"
#include "platform/media_type.h"

namespace velkorix {
namespace {

int32_t ReadLe32(const BYTE *p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

// What becomes of one payload: the output bytes reported (the length rule,
// bounded by the output buffer), how much of the payload the decoder may take
// so that it reads only bytes that are present and writes only inside the
// output buffer (-1: the decoder cannot run within the buffer at all), and how
// many output bytes the decoder then writes. One switch on the format, as
// this runs for every sample.
struct PayloadPlan {
    LONG reported = 0;
    int32_t usable = 0;
    int64_t decodedBytes = 0;
    bool truncated = false;  // the payload cannot be taken as declared
};

// Format 6: the payload of the one frame a sample carries, and the payload
// room of that frame.
constexpr int32_t kAdpcmPayloadBytes = 164;
constexpr int32_t kAdpcmFrameRoom = 2044;

PayloadPlan Plan(uint8_t format, int32_t length, int32_t available, LONG capacity) {
    PayloadPlan plan;
    const int32_t present = std::clamp(length, 0, available);
    const bool cut = length < 0 || length > available;
    switch (format) {
        case 0:
            plan.reported = stream::OutputBytes(0, length, capacity);
            // Whole 3-byte groups of 8 samples that fit the buffer; a partial
            // last group gives its whole codes.
            plan.usable = std::min(present, static_cast<int32_t>(capacity / 16 * 3));
            plan.decodedBytes = 2 * (8 * static_cast<int64_t>(plan.usable) / 3);
            plan.truncated = cut || plan.usable != present;
            break;
        case 1:
        case 2:
            plan.reported = stream::OutputBytes(format, length, capacity);
            plan.usable = std::min(present, static_cast<int32_t>(capacity / 2));
            plan.decodedBytes = 2 * static_cast<int64_t>(plan.usable);
            plan.truncated = cut || plan.usable != present;
            break;
        case 3: {
            // The length field is not used: four 10-byte frames of 80 samples
            // each, as many whole ones as are present and fit.
            plan.reported = stream::OutputBytes(3, length, capacity);
            const int32_t frames = std::min({std::max(available, 0) / 10, static_cast<int32_t>(capacity / 160), 4});
            plan.usable = frames * 10;
            plan.decodedBytes = static_cast<int64_t>(frames) * 160;
            plan.truncated = plan.usable != 40;
            break;
        }
        case 6:
            // One frame of 321 samples from a 164-byte payload whatever the
            // sample holds: the binding reads at most those 164 bytes and
            // decodes zero bytes for what is missing, which is reported like
            // a short G.729 payload. A payload beyond the 2044 bytes a frame
            // has room for is reported too.
            plan.reported = stream::OutputBytes(6, length, capacity);
            plan.usable = capacity < 642 ? -1 : std::min(present, kAdpcmPayloadBytes);
            plan.decodedBytes = plan.usable < 0 ? 0 : 642;
            plan.truncated = cut || present < kAdpcmPayloadBytes || present > kAdpcmFrameRoom;
            break;
        default:
            // No decoder behind the format: silence of the rule's length.
            plan.reported = stream::OutputBytes(format, length, capacity);
            plan.usable = present;
            break;
    }
    return plan;
}

}  // namespace

HRESULT AdjustPalette(AM_MEDIA_TYPE *type, int8_t level) {
    if (!type) return E_POINTER;
    const ULONG size = type->pbFormat ? type->cbFormat : 0;
    if (size < 84) return S_OK;  // no entry count inside the block: nothing to adjust
    BYTE *block = type->pbFormat;
    const uint32_t count = static_cast<uint32_t>(ReadLe32(block + 80));
    const uint64_t room = size >= 88 ? (size - 88) / 4 : 0;
    const uint64_t entries = std::min<uint64_t>(count, room);
    const int l = level;
    for (uint64_t i = 0; i < entries; ++i) {
        BYTE *entry = block + 88 + 4 * i;
        for (int c = 0; c < 3; ++c) {
            const int v = entry[c];
            int result;
            if (l < 0) {
                const double g = 255.0 / (255.0 + 2.0 * l);
                result = static_cast<int>(static_cast<double>(v) / g) - l;
            } else {
                const int low = l, high = 255 - l;
                const double g = static_cast<double>(high - low) / 255.0;
                if (v <= low)
                    result = 0;
                else if (v >= high)
                    result = 255;
                else
                    result = static_cast<int>(static_cast<double>(v - low) / g);
            }
            entry[c] = static_cast<BYTE>(result & 0xFF);
        }
    }
    return S_OK;
}

AudioDecoderFilter::AudioDecoderFilter(IUnknown *outer) : TransformFilterBase(nullptr, outer, kClsidVelkorixDecoder) {
    InitializeCriticalSection(&levelLock);
}

AudioDecoderFilter::~AudioDecoderFilter() { DeleteCriticalSection(&levelLock); }

UnknownBase *AudioDecoderFilter::Create(IUnknown *outer, HRESULT *result) {
    auto *filter = new (std::nothrow) AudioDecoderFilter(outer);
    if (!filter) {
        if (result) *result = E_OUTOFMEMORY;
        return nullptr;
    }
    return filter;
}

HRESULT STDMETHODCALLTYPE AudioDecoderFilter::NonDelegatingQueryInterface(REFIID iid, void **object) {
    if (!object) return E_POINTER;
    if (iid == kIidLevelAdjust) return GetInterface(static_cast<ILevelAdjust *>(this), object);
    if (iid == kIidSpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages *>(this), object);
    return TransformFilterBase::NonDelegatingQueryInterface(iid, object);
}

// The two steps run for every sample; they are inlined into Transform below.
VELKORIX_ALWAYS_INLINE HRESULT AudioDecoderFilter::DecodeStep(IMediaSample *input, IMediaSample *output) {
    if (!input || !output) return E_POINTER;
    const LONG actual = input->GetActualDataLength();
    BYTE *source = nullptr;
    BYTE *target = nullptr;
    input->GetPointer(&source);
    output->GetPointer(&target);
    const LONG capacity = target ? output->GetSize() : 0;

    LONG reported = 0;
    if (!source || actual < stream::kHeaderSize) {
        OutputDebugStringA(kTruncatedSampleMessage);
    } else {
        const stream::RecordHeader header = stream::ParseHeader(source);
        const uint8_t format = header.format;
        const int32_t length = header.length;
        const PayloadPlan plan = Plan(format, length, actual - stream::kHeaderSize, capacity);
        reported = plan.reported;
        if (plan.truncated) OutputDebugStringA(kTruncatedSampleMessage);
        const bool decoded =
            plan.usable >= 0 && context_.DecodeByFormat(source + stream::kHeaderSize, target, plan.usable, format);

        // Whatever the decoder did not write is delivered as silence (the
        // buffer still holds an earlier sample's output).
        const int64_t written = decoded ? std::min<int64_t>(plan.decodedBytes, reported) : 0;
        if (written < reported)
            std::memset(target + written, 0, static_cast<std::size_t>(reported - written));
    }
    output->SetActualDataLength(reported);

    REFERENCE_TIME start = 0, stop = 0;
    if (input->GetTime(&start, &stop) == S_OK) output->SetTime(&start, &stop);
    output->SetSyncPoint(TRUE);
    return S_OK;
}

VELKORIX_ALWAYS_INLINE HRESULT AudioDecoderFilter::LevelStep(IMediaSample *output) {
    if (!output) return E_POINTER;
    // Read on every sample: an atomic load, not the lock (the writers store
    // it atomically under the lock).
    const int8_t current = __atomic_load_n(&level, __ATOMIC_ACQUIRE);

    AM_MEDIA_TYPE *attached = nullptr;
    if (output->GetMediaType(&attached) == S_OK && attached) {
        if (CheckInputType(attached) != S_OK) {
            DeleteMediaType(attached);
            return E_FAIL;
        }
        SetInputConnectionType(attached);
        DeleteMediaType(attached);
    } else {
        if (attached) DeleteMediaType(attached);
        if (current == previousLevel) return S_OK;
    }

    AM_MEDIA_TYPE copy{};
    if (SUCCEEDED(CopyMediaType(&copy, InputConnectionType()))) {
        AdjustPalette(&copy, current);
        output->SetMediaType(&copy);
        FreeMediaType(copy);
    }
    previousLevel = current;
    return S_OK;
}

HRESULT AudioDecoderFilter::Transform(IMediaSample *input, IMediaSample *output) {
    const HRESULT hr = DecodeStep(input, output);
    if (FAILED(hr)) return hr;
    return LevelStep(output);
}

HRESULT AudioDecoderFilter::CheckInputType(const AM_MEDIA_TYPE *type) {
    if (!type) return E_POINTER;
    context_.Reset();
    if (type->majortype == kMediaTypeAudio && type->subtype == kSubtypeWave) return S_OK;
    return E_FAIL;
}

HRESULT AudioDecoderFilter::CheckTransform(const AM_MEDIA_TYPE *, const AM_MEDIA_TYPE *) { return S_OK; }

HRESULT AudioDecoderFilter::DecideBufferSize(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) {
    if (!allocator || !request) return E_POINTER;
    if (!IsInputConnected()) return E_UNEXPECTED;
    request->cBuffers = 1;
    request->cbBuffer = kOutputBufferSize;
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    if (actual.cBuffers < 1 || actual.cbBuffer < kOutputBufferSize) return E_FAIL;
    return S_OK;
}

HRESULT AudioDecoderFilter::GetMediaType(int position, AM_MEDIA_TYPE *type) {
    if (!IsInputConnected()) return E_UNEXPECTED;
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    if (!type) return E_POINTER;
    const HRESULT hr = CopyMediaType(type, InputConnectionType());
    if (FAILED(hr)) return hr;
    type->subtype = kSubtypePcm;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AudioDecoderFilter::GetLevel(signed char *value) {
    if (!value) return E_POINTER;
    EnterCriticalSection(&levelLock);
    *value = level;
    LeaveCriticalSection(&levelLock);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AudioDecoderFilter::SetLevel(LONG value, LONG) {
    EnterCriticalSection(&levelLock);
    __atomic_store_n(&level, static_cast<int8_t>(value & 0xFF), __ATOMIC_RELEASE);
    LeaveCriticalSection(&levelLock);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AudioDecoderFilter::ResetLevel() {
    EnterCriticalSection(&levelLock);
    __atomic_store_n(&level, defaultLevel, __ATOMIC_RELEASE);
    LeaveCriticalSection(&levelLock);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AudioDecoderFilter::GetPages(CAUUID *pages) {
    if (!pages) return E_POINTER;
    pages->cElems = 1;
    pages->pElems = static_cast<GUID *>(CoTaskMemAlloc(sizeof(GUID)));
    if (!pages->pElems) return E_OUTOFMEMORY;
    pages->pElems[0] = kClsidLevelPropertyPage;
    return S_OK;
}

}  // namespace velkorix
