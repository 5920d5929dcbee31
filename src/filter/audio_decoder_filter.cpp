#include "filter/audio_decoder_filter.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <utility>

#include "codec_slot/codec_table.h"
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
// many output bytes the decoder then writes. The sizes come from the codec
// slot's row of the format's codec type.
struct PayloadPlan {
    LONG reported = 0;
    int32_t usable = 0;
    int64_t decodedBytes = 0;
    bool truncated = false;  // the payload cannot be taken as declared
};

// A format without a decoder behind it: silence of the rule's length.
PayloadPlan PlanWithoutDecoder(uint8_t format, int32_t length, int32_t available, LONG capacity) {
    PayloadPlan plan;
    plan.reported = stream::OutputBytes(format, length, capacity);
    plan.usable = std::clamp(length, 0, available);
    return plan;
}

// The plan of a payload decoded by the codec of the slot table's row at
// `Position`. The row is a constant here, so its sizes cost nothing per
// sample.
template <int Position>
PayloadPlan PlanWithRow(uint8_t format, int32_t length, int32_t available, LONG capacity) {
    constexpr codec_slot::CodecRow row = codec_slot::kCodecTable[Position];
    PayloadPlan plan;
    plan.reported = stream::OutputBytes(format, length, capacity);
    const int32_t present = std::clamp(length, 0, available);
    const bool cut = length < 0 || length > available;
    if constexpr (row.Has(codec_slot::kOneUnit)) {
        // One frame whatever the sample holds: the binding reads at most the
        // frame's payload and decodes zero bytes for what is missing, which is
        // reported like a short G.729 payload. A payload beyond the room of
        // the frame is reported too.
        constexpr int64_t frameOutput = row.UnitOutputBytes();
        plan.usable = capacity < frameOutput ? -1 : std::min(present, row.unitBytes);
        plan.decodedBytes = plan.usable < 0 ? 0 : frameOutput;
        plan.truncated = cut || present < row.unitBytes || present > row.largestInput;
    } else {
        // As many units as the output buffer has room for, up to the largest
        // input; a fixed payload ignores the length declared with it and
        // takes what the sample holds.
        int64_t room = capacity / row.UnitOutputBytes() * row.unitBytes;
        if constexpr (row.largestInput > 0) room = std::min<int64_t>(room, row.largestInput);
        constexpr bool fixed = row.Has(codec_slot::kFixedPayload);
        const int32_t taken = fixed ? std::max(available, 0) : present;
        plan.usable = static_cast<int32_t>(std::min<int64_t>(taken, room));
        if constexpr (!row.Has(codec_slot::kPartialUnit)) plan.usable -= plan.usable % row.unitBytes;
        plan.decodedBytes = 2 * (static_cast<int64_t>(row.unitSamples) * plan.usable / row.unitBytes);
        plan.truncated = fixed ? plan.usable != row.largestInput : cut || plan.usable != present;
    }
    return plan;
}

// The plan of a payload of audio format `Format`, from the row of its codec
// type.
template <int Format>
PayloadPlan PlanFormat(int32_t length, int32_t available, LONG capacity) {
    constexpr int position = codec_slot::CodecRowPosition(kAudioFormatTable[Format]);
    if constexpr (position < 0)
        return PlanWithoutDecoder(Format, length, available, capacity);
    else if constexpr (codec_slot::kCodecTable[position].unitBytes == 0)  // not an audio codec
        return PlanWithoutDecoder(Format, length, available, capacity);
    else
        return PlanWithRow<position>(Format, length, available, capacity);
}

using PlanFunction = PayloadPlan (*)(int32_t length, int32_t available, LONG capacity);

template <std::size_t... Formats>
constexpr std::array<PlanFunction, sizeof...(Formats)> PlansByFormat(std::index_sequence<Formats...>) {
    return {&PlanFormat<static_cast<int>(Formats)>...};
}
constexpr auto kPlans = PlansByFormat(std::make_index_sequence<kAudioFormatCount>());

VELKORIX_ALWAYS_INLINE PayloadPlan Plan(uint8_t format, int32_t length, int32_t available, LONG capacity) {
    if (format < kAudioFormatCount) return kPlans[format](length, available, capacity);
    return PlanWithoutDecoder(format, length, available, capacity);  // past the format table
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
            plan.usable >= 0 && context.DecodeByFormat(source + stream::kHeaderSize, target, plan.usable, format);

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
    context.Reset();
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
