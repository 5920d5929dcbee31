#include "stream_source_filter.h"

#include <algorithm>
#include <cwchar>
#include <new>

#include "auto_lock.h"
#include "filter/codec_context.h"
#include "filter/guids.h"
#include "platform/media_type.h"
#include "source_guids.h"

namespace velkorix {
namespace {

const WCHAR kOutputPinName[] = L"Output";

// The rate and channel count a type given to Load asks for: a 16-bit PCM
// WAVEFORMATEX block; anything else leaves the defaults.
source::PcmFormat FormatOf(const AM_MEDIA_TYPE *type) {
    source::PcmFormat format;
    if (!type || !(type->formattype == kFormatWaveFormatEx) || !type->pbFormat ||
        type->cbFormat < sizeof(PCMWAVEFORMAT))
        return format;
    const auto *wave = reinterpret_cast<const WAVEFORMATEX *>(type->pbFormat);
    if (wave->wFormatTag != WAVE_FORMAT_PCM || wave->wBitsPerSample != 16) return format;
    source::PcmFormat asked;
    asked.rate = static_cast<int>(std::min<DWORD>(wave->nSamplesPerSec, 0x7FFFFFFF));
    asked.channels = wave->nChannels;
    return asked.Valid() ? asked : format;
}

HRESULT LoadFailure(source::LoadResult result) {
    switch (result) {
        case source::LoadResult::Ok: return S_OK;
        case source::LoadResult::Empty:
        case source::LoadResult::NoRecord: return VFW_E_INVALID_FILE_FORMAT;
        case source::LoadResult::ReadError: return STG_E_READFAULT;
        case source::LoadResult::TooManyRecords:
        case source::LoadResult::OutOfMemory: return E_OUTOFMEMORY;
    }
    return E_FAIL;
}

}  // namespace

// ---- StreamSourcePin ----

StreamSourcePin::StreamSourcePin(StreamSourceFilter *filter, IUnknown *owner)
    : OutputPinBase(filter, owner, kOutputPinName), source_(filter) {
    InitializeCriticalSection(&positionLock_);
}

StreamSourcePin::~StreamSourcePin() {
    EndThread();
    DeleteCriticalSection(&positionLock_);
}

HRESULT STDMETHODCALLTYPE StreamSourcePin::NonDelegatingQueryInterface(REFIID iid, void **object) {
    if (!object) return E_POINTER;
    if (iid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking *>(this), object);
    return OutputPinBase::NonDelegatingQueryInterface(iid, object);
}

HRESULT STDMETHODCALLTYPE StreamSourcePin::Notify(IBaseFilter *, Quality) { return E_NOTIMPL; }

HRESULT StreamSourcePin::CheckConnect(IPin *peer) {
    if (!source_->IsLoaded()) return E_UNEXPECTED;
    return OutputPinBase::CheckConnect(peer);
}

HRESULT StreamSourcePin::GetMediaTypeAt(int position, AM_MEDIA_TYPE *type) {
    if (position < 0) return E_INVALIDARG;
    if (position > 0 || !source_->IsLoaded()) return VFW_S_NO_MORE_ITEMS;
    if (!type) return E_POINTER;
    return source_->OutputType(type);
}

HRESULT StreamSourcePin::CheckMediaType(const AM_MEDIA_TYPE *type) {
    if (!type) return E_POINTER;
    AM_MEDIA_TYPE ours{};
    if (!source_->IsLoaded() || FAILED(source_->OutputType(&ours))) return VFW_E_TYPE_NOT_ACCEPTED;
    const bool same = type->majortype == ours.majortype && type->subtype == ours.subtype &&
                      type->formattype == ours.formattype && type->cbFormat == ours.cbFormat && type->pbFormat &&
                      std::memcmp(type->pbFormat, ours.pbFormat, ours.cbFormat) == 0;
    FreeMediaType(ours);
    return same ? S_OK : S_FALSE;
}

HRESULT StreamSourcePin::DecideBufferSize(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) {
    if (!allocator || !request) return E_POINTER;
    if (!source_->IsLoaded()) return E_UNEXPECTED;
    const LONG largest = static_cast<LONG>(source_->Pump().LargestSample());
    request->cBuffers = std::max<LONG>(request->cBuffers, 4);
    request->cbBuffer = std::max<LONG>(request->cbBuffer, largest);
    if (request->cbAlign <= 0) request->cbAlign = 1;
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    if (actual.cBuffers < 1 || actual.cbBuffer < largest) return E_FAIL;
    return S_OK;
}

void StreamSourcePin::ResetPositions() {
    AutoLock lock(positionLock_);
    current_ = 0;
    stop_ = source_->Pump().Duration();
}

HRESULT StreamSourcePin::StartStreaming() {
    if (!IsConnected() || !source_->IsLoaded()) return S_OK;
    const HRESULT hr = Active();
    if (FAILED(hr)) return hr;
    return StartThread();
}

void StreamSourcePin::StopStreaming() {
    InterlockedExchange(&stopRequested_, 1);
    // A thread waiting for a buffer gets none once the allocator is decommitted.
    Inactive();
    EndThread();
}

HRESULT StreamSourcePin::StartThread() {
    if (thread_) return S_OK;
    InterlockedExchange(&stopRequested_, 0);
    started_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!started_) return HRESULT_FROM_WIN32(GetLastError());
    thread_ = CreateThread(nullptr, 0, &StreamSourcePin::ThreadMain, this, 0, nullptr);
    const DWORD error = thread_ ? ERROR_SUCCESS : GetLastError();
    // Return only once the thread runs: no other thread of the process starts
    // while this one is still being set up (32-bit programs under a user-mode
    // emulator share one descriptor table between threads and break when two
    // threads start at once), and a state change returns with streaming under
    // way.
    if (thread_) WaitForSingleObject(started_, INFINITE);
    CloseHandle(started_);
    started_ = nullptr;
    return thread_ ? S_OK : HRESULT_FROM_WIN32(error);
}

void StreamSourcePin::EndThread() {
    if (!thread_) return;
    InterlockedExchange(&stopRequested_, 1);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
}

DWORD WINAPI StreamSourcePin::ThreadMain(void *self) {
    SetEvent(static_cast<StreamSourcePin *>(self)->started_);
    static_cast<StreamSourcePin *>(self)->Stream();
    return 0;
}

void StreamSourcePin::Stream() {
    const source::RecordPump &pump = source_->Pump();
    source::Segment segment;
    {
        AutoLock lock(positionLock_);
        segment = pump.Plan(current_, stop_);
    }
    DeliverNewSegment(segment.start, segment.stop, 1.0);
    AM_MEDIA_TYPE type{};
    if (FAILED(source_->OutputType(&type))) return;

    source::Ending ending;
    bool readFailed = false;
    const int64_t duration = pump.Duration();
    std::size_t n = 0;
    for (; segment.prerollFrom + n < pump.RecordCount(); ++n) {
        if (stopRequested_) {
            FreeMediaType(type);
            return;
        }
        const source::Delivery delivery = pump.DeliveryAt(segment, n);
        if (!delivery.preroll) {
            // The stop position as it is now: it may have moved since the run began.
            LONGLONG stop;
            {
                AutoLock lock(positionLock_);
                stop = stop_;
            }
            if (stop < duration && pump.TimeOf(delivery.record) >= stop) break;
        }
        IMediaSample *sample = nullptr;
        HRESULT hr = GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
        if (FAILED(hr) || !sample) {  // decommitted: the filter stops
            FreeMediaType(type);
            return;
        }
        BYTE *data = nullptr;
        sample->GetPointer(&data);
        const LONG size = sample->GetSize();
        const source::RecordRead read =
            pump.Read(source_->File(), delivery.record, data, size > 0 ? static_cast<std::size_t>(size) : 0);
        if (!read.ok) {
            sample->Release();
            ending = source::RecordPump::EndAfterFailure(read);
            readFailed = true;
            break;
        }
        sample->SetActualDataLength(static_cast<LONG>(read.bytes));
        REFERENCE_TIME start = delivery.start, stop = delivery.stop;
        sample->SetTime(&start, &stop);
        sample->SetSyncPoint(TRUE);
        sample->SetPreroll(delivery.preroll ? TRUE : FALSE);
        sample->SetDiscontinuity(delivery.first ? TRUE : FALSE);
        // The run's first sample announces the type: the decoder starts it
        // from a fresh state.
        if (delivery.first) sample->SetMediaType(&type);
        hr = Deliver(sample);
        sample->Release();
        if (hr != S_OK) {
            // Flushing (a seek restarts the run), stopping, or a failure
            // downstream that ends the stream.
            if (FAILED(hr) && !stopRequested_) source_->Notify(EC_ERRORABORT, hr, 0);
            FreeMediaType(type);
            return;
        }
    }
    FreeMediaType(type);
    if (!readFailed) {
        segment.end = segment.prerollFrom + n;
        ending = pump.EndOf(segment);
    }
    if (ending.damaged) {
        const uint64_t offset = ending.end.offset;
        source_->Notify(kEventStreamDamaged, static_cast<LONG_PTR>(static_cast<DWORD>(offset)),
                        static_cast<LONG_PTR>(static_cast<DWORD>(offset >> 32)));
    }
    DeliverEndOfStream();
}

// ---- IMediaSeeking ----

namespace {
constexpr DWORD kCapabilities = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards |
                                AM_SEEKING_CanSeekBackwards | AM_SEEKING_CanGetCurrentPos |
                                AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration;

bool IsMediaTime(const GUID *format) { return !format || *format == TIME_FORMAT_MEDIA_TIME; }
}  // namespace

HRESULT STDMETHODCALLTYPE StreamSourcePin::GetCapabilities(DWORD *capabilities) {
    if (!capabilities) return E_POINTER;
    *capabilities = kCapabilities;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE StreamSourcePin::CheckCapabilities(DWORD *capabilities) {
    if (!capabilities) return E_POINTER;
    const DWORD asked = *capabilities;
    *capabilities &= kCapabilities;
    if (*capabilities == asked) return S_OK;
    return *capabilities ? S_FALSE : E_FAIL;
}

HRESULT STDMETHODCALLTYPE StreamSourcePin::IsFormatSupported(const GUID *format) {
    if (!format) return E_POINTER;
    return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE StreamSourcePin::QueryPreferredFormat(GUID *format) {
    if (!format) return E_POINTER;
    *format = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE StreamSourcePin::GetTimeFormat(GUID *format) { return QueryPreferredFormat(format); }

HRESULT STDMETHODCALLTYPE StreamSourcePin::IsUsingTimeFormat(const GUID *format) {
    if (!format) return E_POINTER;
    return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE StreamSourcePin::SetTimeFormat(const GUID *format) {
    if (!format) return E_POINTER;
    return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
}

HRESULT STDMETHODCALLTYPE StreamSourcePin::GetDuration(LONGLONG *duration) {
    if (!duration) return E_POINTER;
    if (!source_->IsLoaded()) return E_UNEXPECTED;
    *duration = source_->Pump().Duration();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE StreamSourcePin::GetStopPosition(LONGLONG *stop) {
    if (!stop) return E_POINTER;
    AutoLock lock(positionLock_);
    *stop = stop_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE StreamSourcePin::GetCurrentPosition(LONGLONG *current) {
    if (!current) return E_POINTER;
    AutoLock lock(positionLock_);
    *current = current_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE StreamSourcePin::ConvertTimeFormat(LONGLONG *target, const GUID *targetFormat,
                                                             LONGLONG source, const GUID *sourceFormat) {
    if (!target) return E_POINTER;
    if (!IsMediaTime(targetFormat) || !IsMediaTime(sourceFormat)) return E_INVALIDARG;
    *target = source;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE StreamSourcePin::SetPositions(LONGLONG *current, DWORD currentFlags, LONGLONG *stop,
                                                        DWORD stopFlags) {
    const DWORD currentHow = currentFlags & AM_SEEKING_PositioningBitsMask;
    const DWORD stopHow = stopFlags & AM_SEEKING_PositioningBitsMask;
    if (currentHow != AM_SEEKING_NoPositioning && !current) return E_POINTER;
    if (stopHow != AM_SEEKING_NoPositioning && !stop) return E_POINTER;
    if (currentHow == AM_SEEKING_IncrementalPositioning) return E_INVALIDARG;
    if (!source_->IsLoaded()) return E_UNEXPECTED;

    AutoLock filterLock(filter_->FilterLock());
    const source::RecordPump &pump = source_->Pump();
    const int64_t duration = pump.Duration();
    bool moved = false;
    {
        AutoLock lock(positionLock_);
        LONGLONG newCurrent = current_, newStop = stop_;
        if (currentHow == AM_SEEKING_AbsolutePositioning) newCurrent = *current;
        if (currentHow == AM_SEEKING_RelativePositioning) newCurrent = current_ + *current;
        if (stopHow == AM_SEEKING_AbsolutePositioning) newStop = *stop;
        if (stopHow == AM_SEEKING_RelativePositioning) newStop = stop_ + *stop;
        if (stopHow == AM_SEEKING_IncrementalPositioning) newStop = newCurrent + *stop;
        newStop = std::clamp<LONGLONG>(newStop, 0, duration);
        if (currentHow != AM_SEEKING_NoPositioning) {
            // Land on the boundary of the record the position falls in.
            const source::Segment landed = pump.Plan(newCurrent, duration);
            newCurrent = landed.start;
            moved = true;
        }
        current_ = newCurrent;
        stop_ = newStop;
        if (current && (currentFlags & AM_SEEKING_ReturnTime)) *current = current_;
        if (stop && (stopFlags & AM_SEEKING_ReturnTime)) *stop = stop_;
    }
    if (!moved || !thread_) return S_OK;
    // A run is under way: downstream drops what it holds, the run ends, and
    // a new one starts from the new position.
    DeliverBeginFlush();
    EndThread();
    DeliverEndFlush();
    return StartThread();
}

HRESULT STDMETHODCALLTYPE StreamSourcePin::GetPositions(LONGLONG *current, LONGLONG *stop) {
    AutoLock lock(positionLock_);
    if (current) *current = current_;
    if (stop) *stop = stop_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE StreamSourcePin::GetAvailable(LONGLONG *earliest, LONGLONG *latest) {
    if (earliest) *earliest = 0;
    if (latest) *latest = source_->Pump().Duration();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE StreamSourcePin::SetRate(double rate) { return rate == 1.0 ? S_OK : E_INVALIDARG; }

HRESULT STDMETHODCALLTYPE StreamSourcePin::GetRate(double *rate) {
    if (!rate) return E_POINTER;
    *rate = 1.0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE StreamSourcePin::GetPreroll(LONGLONG *preroll) {
    if (!preroll) return E_POINTER;
    *preroll = 0;
    return S_OK;
}

// ---- StreamSourceFilter ----

StreamSourceFilter::StreamSourceFilter(IUnknown *outer)
    : FilterBase(outer, kClsidVelkorixSource), pump_(FilterDecoderOf), pin_(this, GetOwner()) {}

StreamSourceFilter::~StreamSourceFilter() { pin_.StopStreaming(); }

UnknownBase *StreamSourceFilter::Create(IUnknown *outer, HRESULT *result) {
    auto *filter = new (std::nothrow) StreamSourceFilter(outer);
    if (!filter && result) *result = E_OUTOFMEMORY;
    return filter;
}

HRESULT STDMETHODCALLTYPE StreamSourceFilter::NonDelegatingQueryInterface(REFIID iid, void **object) {
    if (!object) return E_POINTER;
    if (iid == IID_IFileSourceFilter) return GetInterface(static_cast<IFileSourceFilter *>(this), object);
    return FilterBase::NonDelegatingQueryInterface(iid, object);
}

PinBase *StreamSourceFilter::PinAt(int position) { return position == 0 ? &pin_ : nullptr; }

HRESULT StreamSourceFilter::OnActivate() { return pin_.StartStreaming(); }

void StreamSourceFilter::OnStop() { pin_.StopStreaming(); }

HRESULT StreamSourceFilter::OutputType(AM_MEDIA_TYPE *type) const {
    if (!type) return E_POINTER;
    std::memset(type, 0, sizeof(*type));
    auto *wave = static_cast<WAVEFORMATEX *>(CoTaskMemAlloc(sizeof(WAVEFORMATEX)));
    if (!wave) return E_OUTOFMEMORY;
    const source::PcmFormat format = pump_.Format();
    std::memset(wave, 0, sizeof(*wave));
    wave->wFormatTag = WAVE_FORMAT_PCM;
    wave->nChannels = static_cast<WORD>(format.channels);
    wave->nSamplesPerSec = static_cast<DWORD>(format.rate);
    wave->wBitsPerSample = 16;
    wave->nBlockAlign = static_cast<WORD>(format.BlockAlign());
    wave->nAvgBytesPerSec = static_cast<DWORD>(format.rate) * wave->nBlockAlign;
    type->majortype = kMediaTypeAudio;
    type->subtype = kSubtypeWave;
    type->formattype = kFormatWaveFormatEx;
    type->bFixedSizeSamples = FALSE;
    type->bTemporalCompression = FALSE;
    type->lSampleSize = 0;
    type->cbFormat = sizeof(WAVEFORMATEX);
    type->pbFormat = reinterpret_cast<BYTE *>(wave);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE StreamSourceFilter::Load(LPCOLESTR fileName, const AM_MEDIA_TYPE *type) {
    if (!fileName) return E_POINTER;
    AutoLock lock(FilterLock());
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    if (pin_.IsConnected()) return VFW_E_ALREADY_CONNECTED;
    fileName_.clear();
    HRESULT hr = file_.Open(fileName);
    if (SUCCEEDED(hr)) hr = LoadFailure(pump_.Load(file_, FormatOf(type)));
    if (FAILED(hr)) {
        file_.Close();
        return hr;
    }
    fileName_ = fileName;
    pin_.ResetPositions();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE StreamSourceFilter::GetCurFile(LPOLESTR *fileName, AM_MEDIA_TYPE *type) {
    if (!fileName) return E_POINTER;
    AutoLock lock(FilterLock());
    *fileName = nullptr;
    if (!IsLoaded()) return E_FAIL;
    const std::size_t bytes = (fileName_.size() + 1) * sizeof(WCHAR);
    *fileName = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (!*fileName) return E_OUTOFMEMORY;
    std::memcpy(*fileName, fileName_.c_str(), bytes);
    if (type) {
        const HRESULT hr = OutputType(type);
        if (FAILED(hr)) {
            CoTaskMemFree(*fileName);
            *fileName = nullptr;
            return hr;
        }
    }
    return S_OK;
}

}  // namespace velkorix
