#include "test_filters.h"

#include <cstring>
#include <new>

#include "filter/guids.h"

namespace vtest {
namespace {

class Lock {
public:
    explicit Lock(CRITICAL_SECTION &section) : section_(section) { EnterCriticalSection(&section_); }
    ~Lock() { LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION &section_;
};

// An enumerator over one pin, or over no media types.
class OnePinEnumerator final : public IEnumPins {
public:
    OnePinEnumerator(IBaseFilter *filter, IPin *pin, ULONG position) : filter_(filter), pin_(pin), position_(position) {
        filter_->AddRef();
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumPins)) {
            *object = this;
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG count = InterlockedDecrement(&references_);
        if (count == 0) {
            filter_->Release();
            delete this;
        }
        return count;
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin **pins, ULONG *fetched) override {
        ULONG n = 0;
        if (count > 0 && position_ == 0) {
            pins[0] = pin_;
            pin_->AddRef();
            n = 1;
            position_ = 1;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        position_ += count;
        return position_ <= 1 ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumPins **copy) override {
        *copy = new OnePinEnumerator(filter_, pin_, position_);
        return S_OK;
    }

private:
    LONG references_ = 1;
    IBaseFilter *filter_;
    IPin *pin_;
    ULONG position_;
};

class NoTypesEnumerator final : public IEnumMediaTypes {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumMediaTypes)) {
            *object = this;
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG count = InterlockedDecrement(&references_);
        if (count == 0) delete this;
        return count;
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE **, ULONG *fetched) override {
        if (fetched) *fetched = 0;
        return count == 0 ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override { return count == 0 ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE Reset() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes **copy) override {
        *copy = new NoTypesEnumerator();
        return S_OK;
    }

private:
    LONG references_ = 1;
};

}  // namespace

// ---- media types ----

void FreeType(AM_MEDIA_TYPE &type) {
    if (type.pbFormat) CoTaskMemFree(type.pbFormat);
    type.pbFormat = nullptr;
    type.cbFormat = 0;
    if (type.pUnk) type.pUnk->Release();
    type.pUnk = nullptr;
}

HRESULT CopyType(AM_MEDIA_TYPE *target, const AM_MEDIA_TYPE *source) {
    *target = *source;
    target->pbFormat = nullptr;
    if (source->cbFormat && source->pbFormat) {
        target->pbFormat = static_cast<BYTE *>(CoTaskMemAlloc(source->cbFormat));
        if (!target->pbFormat) return E_OUTOFMEMORY;
        std::memcpy(target->pbFormat, source->pbFormat, source->cbFormat);
    } else {
        target->cbFormat = 0;
    }
    if (target->pUnk) target->pUnk->AddRef();
    return S_OK;
}

void DeleteType(AM_MEDIA_TYPE *type) {
    if (!type) return;
    FreeType(*type);
    CoTaskMemFree(type);
}

AM_MEDIA_TYPE WaveInputType(int rate, int channels) {
    AM_MEDIA_TYPE type{};
    type.majortype = velkorix::kMediaTypeAudio;
    type.subtype = velkorix::kSubtypeWave;
    type.formattype = velkorix::kFormatWaveFormatEx;
    type.bFixedSizeSamples = FALSE;
    type.lSampleSize = 0;
    auto *format = static_cast<WAVEFORMATEX *>(CoTaskMemAlloc(sizeof(WAVEFORMATEX)));
    std::memset(format, 0, sizeof(*format));
    format->wFormatTag = WAVE_FORMAT_PCM;
    format->nChannels = static_cast<WORD>(channels);
    format->nSamplesPerSec = static_cast<DWORD>(rate);
    format->wBitsPerSample = 16;
    format->nBlockAlign = static_cast<WORD>(2 * channels);
    format->nAvgBytesPerSec = static_cast<DWORD>(rate * 2 * channels);
    type.cbFormat = sizeof(WAVEFORMATEX);
    type.pbFormat = reinterpret_cast<BYTE *>(format);
    return type;
}

// ---- TestSample ----

TestSample::TestSample(const std::vector<BYTE> &data) : data_(data) {
    properties_.cbData = sizeof(properties_);
    properties_.lActual = static_cast<LONG>(data_.size());
    properties_.dwStreamId = AM_STREAM_MEDIA;
}

TestSample::~TestSample() { DeleteType(type_); }

HRESULT STDMETHODCALLTYPE TestSample::QueryInterface(REFIID iid, void **object) {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMediaSample) ||
        (IsEqualIID(iid, IID_IMediaSample2) && answersProperties_)) {
        *object = static_cast<IMediaSample2 *>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE TestSample::AddRef() { return InterlockedIncrement(&references_); }

ULONG STDMETHODCALLTYPE TestSample::Release() {
    const LONG count = InterlockedDecrement(&references_);
    if (count == 0) delete this;
    return count;
}

HRESULT STDMETHODCALLTYPE TestSample::GetPointer(BYTE **buffer) {
    *buffer = data_.data();
    return S_OK;
}

LONG STDMETHODCALLTYPE TestSample::GetSize() { return static_cast<LONG>(data_.size()); }

HRESULT STDMETHODCALLTYPE TestSample::GetTime(REFERENCE_TIME *start, REFERENCE_TIME *stop) {
    if (!(properties_.dwSampleFlags & AM_SAMPLE_TIMEVALID)) return VFW_E_SAMPLE_TIME_NOT_SET;
    *start = properties_.tStart;
    if (properties_.dwSampleFlags & AM_SAMPLE_STOPVALID) {
        *stop = properties_.tStop;
        return S_OK;
    }
    *stop = properties_.tStart + 1;
    return VFW_S_NO_STOP_TIME;
}

HRESULT STDMETHODCALLTYPE TestSample::SetTime(REFERENCE_TIME *start, REFERENCE_TIME *stop) {
    properties_.dwSampleFlags &= ~(AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID);
    if (start) {
        properties_.tStart = *start;
        properties_.dwSampleFlags |= AM_SAMPLE_TIMEVALID;
        if (stop) {
            properties_.tStop = *stop;
            properties_.dwSampleFlags |= AM_SAMPLE_STOPVALID;
        }
    }
    return S_OK;
}

void TestSample::SetFlag(DWORD flag, BOOL value) {
    if (value)
        properties_.dwSampleFlags |= flag;
    else
        properties_.dwSampleFlags &= ~flag;
}

HRESULT STDMETHODCALLTYPE TestSample::IsSyncPoint() {
    return (properties_.dwSampleFlags & AM_SAMPLE_SPLICEPOINT) ? S_OK : S_FALSE;
}
HRESULT STDMETHODCALLTYPE TestSample::SetSyncPoint(BOOL value) {
    SetFlag(AM_SAMPLE_SPLICEPOINT, value);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE TestSample::IsPreroll() {
    return (properties_.dwSampleFlags & AM_SAMPLE_PREROLL) ? S_OK : S_FALSE;
}
HRESULT STDMETHODCALLTYPE TestSample::SetPreroll(BOOL value) {
    SetFlag(AM_SAMPLE_PREROLL, value);
    return S_OK;
}
LONG STDMETHODCALLTYPE TestSample::GetActualDataLength() { return properties_.lActual; }
HRESULT STDMETHODCALLTYPE TestSample::SetActualDataLength(LONG length) {
    if (length < 0 || length > static_cast<LONG>(data_.size())) return VFW_E_BUFFER_OVERFLOW;
    properties_.lActual = length;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TestSample::GetMediaType(AM_MEDIA_TYPE **type) {
    *type = nullptr;
    if (!type_) return S_FALSE;
    auto *copy = static_cast<AM_MEDIA_TYPE *>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    CopyType(copy, type_);
    *type = copy;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TestSample::SetMediaType(AM_MEDIA_TYPE *type) {
    DeleteType(type_);
    type_ = nullptr;
    properties_.pMediaType = nullptr;
    SetFlag(AM_SAMPLE_TYPECHANGED, FALSE);
    if (type) {
        type_ = static_cast<AM_MEDIA_TYPE *>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        CopyType(type_, type);
        properties_.pMediaType = type_;
        SetFlag(AM_SAMPLE_TYPECHANGED, TRUE);
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TestSample::IsDiscontinuity() {
    return (properties_.dwSampleFlags & AM_SAMPLE_DATADISCONTINUITY) ? S_OK : S_FALSE;
}
HRESULT STDMETHODCALLTYPE TestSample::SetDiscontinuity(BOOL value) {
    SetFlag(AM_SAMPLE_DATADISCONTINUITY, value);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TestSample::GetMediaTime(LONGLONG *start, LONGLONG *stop) {
    if (!mediaTimeValid_) return VFW_E_MEDIA_TIME_NOT_SET;
    *start = mediaStart_;
    *stop = mediaStop_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TestSample::SetMediaTime(LONGLONG *start, LONGLONG *stop) {
    mediaTimeValid_ = start && stop;
    if (mediaTimeValid_) {
        mediaStart_ = *start;
        mediaStop_ = *stop;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TestSample::GetProperties(DWORD size, BYTE *properties) {
    if (!answersProperties_) return E_NOTIMPL;
    AM_SAMPLE2_PROPERTIES p = properties_;
    p.pbBuffer = data_.data();
    p.cbBuffer = static_cast<LONG>(data_.size());
    std::memcpy(properties, &p, size < sizeof(p) ? size : sizeof(p));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TestSample::SetProperties(DWORD size, const BYTE *properties) {
    AM_SAMPLE2_PROPERTIES p = properties_;
    std::memcpy(&p, properties, size < sizeof(p) ? size : sizeof(p));
    properties_.dwTypeSpecificFlags = p.dwTypeSpecificFlags;
    if (size > offsetof(AM_SAMPLE2_PROPERTIES, dwSampleFlags)) properties_.dwSampleFlags = p.dwSampleFlags;
    if (size > offsetof(AM_SAMPLE2_PROPERTIES, tStart)) {
        properties_.tStart = p.tStart;
        properties_.tStop = p.tStop;
    }
    if (size > offsetof(AM_SAMPLE2_PROPERTIES, dwStreamId)) properties_.dwStreamId = p.dwStreamId;
    return S_OK;
}

// ---- PinCore ----

PinCore::PinCore(FilterCore *filter, const wchar_t *name, PIN_DIRECTION direction)
    : filter_(filter), name_(name), direction_(direction) {}

PinCore::~PinCore() {
    if (peer_) peer_->Release();
    FreeType(type_);
}

HRESULT STDMETHODCALLTYPE PinCore::QueryInterface(REFIID iid, void **object) {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPin)) {
        *object = static_cast<IPin *>(this);
    } else if (void *extra = Extra(iid)) {
        *object = extra;
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE PinCore::AddRef() { return filter_->AddRef(); }
ULONG STDMETHODCALLTYPE PinCore::Release() { return filter_->Release(); }

HRESULT STDMETHODCALLTYPE PinCore::Disconnect() {
    if (!peer_) return S_FALSE;
    OnDisconnect();
    peer_->Release();
    peer_ = nullptr;
    FreeType(type_);
    type_ = AM_MEDIA_TYPE{};
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PinCore::ConnectedTo(IPin **pin) {
    *pin = peer_;
    if (!peer_) return VFW_E_NOT_CONNECTED;
    peer_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PinCore::ConnectionMediaType(AM_MEDIA_TYPE *type) {
    if (!peer_) return VFW_E_NOT_CONNECTED;
    return CopyType(type, &type_);
}

HRESULT STDMETHODCALLTYPE PinCore::QueryPinInfo(PIN_INFO *info) {
    info->pFilter = filter_;
    filter_->AddRef();
    wcsncpy(info->achName, name_.c_str(), MAX_PIN_NAME - 1);
    info->achName[MAX_PIN_NAME - 1] = 0;
    info->dir = direction_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PinCore::QueryDirection(PIN_DIRECTION *direction) {
    *direction = direction_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PinCore::QueryId(LPWSTR *id) {
    const size_t bytes = (name_.size() + 1) * sizeof(wchar_t);
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    std::memcpy(*id, name_.c_str(), bytes);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PinCore::QueryAccept(const AM_MEDIA_TYPE *) { return S_OK; }

HRESULT STDMETHODCALLTYPE PinCore::EnumMediaTypes(IEnumMediaTypes **types) {
    *types = new NoTypesEnumerator();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PinCore::QueryInternalConnections(IPin **, ULONG *) { return E_NOTIMPL; }

// ---- FilterCore ----

FilterCore::FilterCore(const CLSID &clsid, PinCore *pin) : clsid_(clsid), pin_(pin) {
    InitializeCriticalSection(&lock_);
}

FilterCore::~FilterCore() {
    if (clock_) clock_->Release();
    DeleteCriticalSection(&lock_);
}

HRESULT STDMETHODCALLTYPE FilterCore::QueryInterface(REFIID iid, void **object) {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPersist) || IsEqualIID(iid, IID_IMediaFilter) ||
        IsEqualIID(iid, IID_IBaseFilter)) {
        *object = static_cast<IBaseFilter *>(this);
    } else if (void *extra = Extra(iid)) {
        *object = extra;
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE FilterCore::AddRef() { return InterlockedIncrement(&references_); }

ULONG STDMETHODCALLTYPE FilterCore::Release() {
    const LONG count = InterlockedDecrement(&references_);
    if (count == 0) delete this;
    return count;
}

HRESULT STDMETHODCALLTYPE FilterCore::GetClassID(CLSID *clsid) {
    *clsid = clsid_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterCore::Stop() {
    Lock lock(lock_);
    const HRESULT hr = OnStop();
    state_ = State_Stopped;
    return hr;
}

HRESULT STDMETHODCALLTYPE FilterCore::Pause() {
    Lock lock(lock_);
    const HRESULT hr = OnPause(state_);
    if (SUCCEEDED(hr)) state_ = State_Paused;
    return hr;
}

HRESULT STDMETHODCALLTYPE FilterCore::Run(REFERENCE_TIME) {
    Lock lock(lock_);
    if (state_ == State_Stopped) {
        const HRESULT hr = OnPause(state_);
        if (FAILED(hr)) return hr;
    }
    state_ = State_Running;
    return OnRun();
}

HRESULT STDMETHODCALLTYPE FilterCore::GetState(DWORD, FILTER_STATE *state) {
    *state = state_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterCore::SetSyncSource(IReferenceClock *clock) {
    Lock lock(lock_);
    if (clock) clock->AddRef();
    if (clock_) clock_->Release();
    clock_ = clock;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterCore::GetSyncSource(IReferenceClock **clock) {
    Lock lock(lock_);
    *clock = clock_;
    if (clock_) clock_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterCore::EnumPins(IEnumPins **pins) {
    *pins = new OnePinEnumerator(this, pin_, 0);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterCore::FindPin(LPCWSTR id, IPin **pin) {
    PIN_INFO info;
    pin_->QueryPinInfo(&info);
    info.pFilter->Release();
    if (wcscmp(id, info.achName) != 0) {
        *pin = nullptr;
        return VFW_E_NOT_FOUND;
    }
    *pin = pin_;
    pin_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterCore::QueryFilterInfo(FILTER_INFO *info) {
    Lock lock(lock_);
    wcsncpy(info->achName, name_.c_str(), MAX_FILTER_NAME - 1);
    info->achName[MAX_FILTER_NAME - 1] = 0;
    info->pGraph = graph_;
    if (graph_) graph_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterCore::JoinFilterGraph(IFilterGraph *graph, LPCWSTR name) {
    Lock lock(lock_);
    graph_ = graph;
    events_ = nullptr;
    if (graph && SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void **>(&events_))))
        events_->Release();  // the graph holds us: keep no reference back
    name_ = name ? name : L"";
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterCore::QueryVendorInfo(LPWSTR *) { return E_NOTIMPL; }

HRESULT FilterCore::Notify(LONG code, LONG_PTR first, LONG_PTR second) {
    IMediaEventSink *events = events_;
    return events ? events->Notify(code, first, second) : E_FAIL;
}

// ---- SourcePin ----

SourcePin::SourcePin(StreamSource *source) : PinCore(source, L"Out", PINDIR_OUTPUT), source_(source) {}

SourcePin::~SourcePin() { OnDisconnect(); }

void *SourcePin::Extra(REFIID iid) {
    if (IsEqualIID(iid, IID_IMediaSeeking)) return static_cast<IMediaSeeking *>(this);
    if (IsEqualIID(iid, IID_IQualityControl)) return static_cast<IQualityControl *>(this);
    return nullptr;
}

void SourcePin::OnDisconnect() {
    if (allocator_) {
        allocator_->Decommit();
        allocator_->Release();
        allocator_ = nullptr;
    }
    if (input_) {
        input_->Release();
        input_ = nullptr;
    }
}

HRESULT STDMETHODCALLTYPE SourcePin::Connect(IPin *receivePin, const AM_MEDIA_TYPE *type) {
    if (peer_) return VFW_E_ALREADY_CONNECTED;
    const AM_MEDIA_TYPE *offer = type ? type : &source_->OutputType();
    HRESULT hr = receivePin->ReceiveConnection(this, offer);
    if (FAILED(hr)) return hr;
    hr = receivePin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void **>(&input_));
    if (FAILED(hr)) {
        receivePin->Disconnect();
        return hr;
    }
    // The largest record decides the buffer size.
    ALLOCATOR_PROPERTIES request{4, 1, 1, 0}, actual{};
    for (const auto &record : source_->records_)
        if (static_cast<LONG>(record.size()) > request.cbBuffer) request.cbBuffer = static_cast<LONG>(record.size());
    hr = input_->GetAllocator(&allocator_);
    if (FAILED(hr))
        hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                              reinterpret_cast<void **>(&allocator_));
    if (SUCCEEDED(hr)) hr = allocator_->SetProperties(&request, &actual);
    if (SUCCEEDED(hr)) hr = input_->NotifyAllocator(allocator_, FALSE);
    if (FAILED(hr)) {
        OnDisconnect();
        receivePin->Disconnect();
        return hr;
    }
    peer_ = receivePin;
    peer_->AddRef();
    CopyType(&type_, offer);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SourcePin::GetCapabilities(DWORD *capabilities) {
    *capabilities = AM_SEEKING_CanGetDuration | AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetCurrentPos;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE SourcePin::CheckCapabilities(DWORD *capabilities) {
    DWORD mine = 0;
    GetCapabilities(&mine);
    const DWORD asked = *capabilities;
    *capabilities &= mine;
    return *capabilities == asked ? S_OK : (*capabilities ? S_FALSE : E_FAIL);
}
HRESULT STDMETHODCALLTYPE SourcePin::IsFormatSupported(const GUID *format) {
    return IsEqualGUID(*format, TIME_FORMAT_MEDIA_TIME) ? S_OK : S_FALSE;
}
HRESULT STDMETHODCALLTYPE SourcePin::QueryPreferredFormat(GUID *format) {
    *format = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE SourcePin::GetTimeFormat(GUID *format) {
    *format = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE SourcePin::IsUsingTimeFormat(const GUID *format) {
    return IsEqualGUID(*format, TIME_FORMAT_MEDIA_TIME) ? S_OK : S_FALSE;
}
HRESULT STDMETHODCALLTYPE SourcePin::SetTimeFormat(const GUID *format) {
    return IsEqualGUID(*format, TIME_FORMAT_MEDIA_TIME) ? S_OK : E_INVALIDARG;
}
HRESULT STDMETHODCALLTYPE SourcePin::GetDuration(LONGLONG *duration) {
    *duration = source_->Duration();
    return S_OK;
}
HRESULT STDMETHODCALLTYPE SourcePin::GetStopPosition(LONGLONG *stop) {
    *stop = source_->Duration();
    return S_OK;
}
HRESULT STDMETHODCALLTYPE SourcePin::GetCurrentPosition(LONGLONG *current) {
    *current = source_->Delivered() * source_->recordDuration_;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE SourcePin::ConvertTimeFormat(LONGLONG *, const GUID *, LONGLONG, const GUID *) {
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE SourcePin::SetPositions(LONGLONG *, DWORD, LONGLONG *, DWORD) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE SourcePin::GetPositions(LONGLONG *current, LONGLONG *stop) {
    if (current) GetCurrentPosition(current);
    if (stop) *stop = source_->Duration();
    return S_OK;
}
HRESULT STDMETHODCALLTYPE SourcePin::GetAvailable(LONGLONG *earliest, LONGLONG *latest) {
    if (earliest) *earliest = 0;
    if (latest) *latest = source_->Duration();
    return S_OK;
}
HRESULT STDMETHODCALLTYPE SourcePin::SetRate(double rate) { return rate == 1.0 ? S_OK : E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE SourcePin::GetRate(double *rate) {
    *rate = 1.0;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE SourcePin::GetPreroll(LONGLONG *preroll) {
    *preroll = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SourcePin::Notify(IBaseFilter *sender, Quality quality) {
    ++qualityMessages;
    lastQuality = quality;
    lastQualitySender = sender;
    return S_OK;
}

// ---- StreamSource ----

// {7C1C0C4E-5E0B-4C55-9B1D-6A1E0F5C2D01}, a class identifier of the tests' own.
const CLSID kSourceClass = {0x7C1C0C4E, 0x5E0B, 0x4C55, {0x9B, 0x1D, 0x6A, 0x1E, 0x0F, 0x5C, 0x2D, 0x01}};
// {7C1C0C4E-5E0B-4C55-9B1D-6A1E0F5C2D02}
const CLSID kSinkClass = {0x7C1C0C4E, 0x5E0B, 0x4C55, {0x9B, 0x1D, 0x6A, 0x1E, 0x0F, 0x5C, 0x2D, 0x02}};

StreamSource::StreamSource(std::vector<std::vector<BYTE>> records, REFERENCE_TIME recordDuration, int rate,
                           int channels)
    : FilterCore(kSourceClass, &pin_),
      pin_(this),
      records_(std::move(records)),
      recordDuration_(recordDuration),
      outputType_(WaveInputType(rate, channels)) {}

StreamSource::~StreamSource() {
    OnStop();
    FreeType(outputType_);
}

REFERENCE_TIME StreamSource::Duration() const { return recordDuration_ * static_cast<REFERENCE_TIME>(records_.size()); }

HRESULT StreamSource::OnPause(FILTER_STATE from) {
    if (from == State_Stopped && pin_.Allocator()) return pin_.Allocator()->Commit();
    return S_OK;
}

HRESULT StreamSource::OnRun() {
    if (!streaming_ || thread_ || !pin_.Input()) return S_OK;
    InterlockedExchange(&stopRequested_, 0);
    thread_ = CreateThread(nullptr, 0, &StreamSource::ThreadMain, this, 0, nullptr);
    return thread_ ? S_OK : E_FAIL;
}

HRESULT StreamSource::OnStop() {
    InterlockedExchange(&stopRequested_, 1);
    // Decommitting releases a thread that waits for a buffer.
    if (pin_.Allocator()) pin_.Allocator()->Decommit();
    if (thread_) {
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
    }
    return S_OK;
}

DWORD WINAPI StreamSource::ThreadMain(void *self) {
    static_cast<StreamSource *>(self)->Stream();
    return 0;
}

void StreamSource::Stream() {
    IPin *peer = pin_.Peer();
    peer->NewSegment(0, Duration(), 1.0);
    for (size_t i = 0; i < records_.size() && !stopRequested_; ++i) {
        IMediaSample *sample = nullptr;
        HRESULT hr = pin_.Allocator()->GetBuffer(&sample, nullptr, nullptr, 0);
        if (FAILED(hr)) {
            streamResult_ = hr;
            return;
        }
        BYTE *data = nullptr;
        sample->GetPointer(&data);
        const auto &record = records_[i];
        std::memcpy(data, record.data(), record.size());
        sample->SetActualDataLength(static_cast<LONG>(record.size()));
        REFERENCE_TIME start = recordDuration_ * static_cast<REFERENCE_TIME>(i), stop = start + recordDuration_;
        sample->SetTime(&start, &stop);
        sample->SetSyncPoint(TRUE);
        sample->SetDiscontinuity(i == 0 ? TRUE : FALSE);
        hr = pin_.Input()->Receive(sample);
        sample->Release();
        if (hr != S_OK) {
            streamResult_ = hr;
            return;
        }
        InterlockedIncrement(&delivered_);
    }
    if (!stopRequested_) peer->EndOfStream();
}

// ---- SinkPin ----

SinkPin::SinkPin(CollectSink *sink) : PinCore(sink, L"In", PINDIR_INPUT), sink_(sink) {}

SinkPin::~SinkPin() = default;

void *SinkPin::Extra(REFIID iid) {
    if (IsEqualIID(iid, IID_IMemInputPin)) return static_cast<IMemInputPin *>(this);
    return nullptr;
}

void SinkPin::OnDisconnect() {
    if (sink_->allocator_) {
        sink_->allocator_->Release();
        sink_->allocator_ = nullptr;
    }
}

HRESULT STDMETHODCALLTYPE SinkPin::ReceiveConnection(IPin *connector, const AM_MEDIA_TYPE *type) {
    if (peer_) return VFW_E_ALREADY_CONNECTED;
    if (!IsEqualGUID(type->majortype, velkorix::kMediaTypeAudio)) return VFW_E_TYPE_NOT_ACCEPTED;
    if (sink_->pcmOnly && !IsEqualGUID(type->subtype, velkorix::kSubtypePcm)) return VFW_E_TYPE_NOT_ACCEPTED;
    peer_ = connector;
    peer_->AddRef();
    CopyType(&type_, type);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SinkPin::EndOfStream() {
    ++sink_->endOfStreams;
    sink_->EndOfStreamArrived();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SinkPin::BeginFlush() {
    ++sink_->beginFlushes;
    // As a renderer does: an end of stream before the flush no longer counts.
    EnterCriticalSection(&sink_->lock_);
    sink_->completionPending_ = false;
    sink_->completed_ = false;
    LeaveCriticalSection(&sink_->lock_);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SinkPin::EndFlush() {
    ++sink_->endFlushes;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SinkPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    sink_->segmentStarts.push_back(start);
    sink_->segmentStops.push_back(stop);
    sink_->segmentRates.push_back(rate);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SinkPin::GetAllocator(IMemAllocator **allocator) {
    *allocator = nullptr;
    if (!sink_->offerAllocator_) return VFW_E_NO_ALLOCATOR;
    if (!sink_->offered_) {
        const HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                            reinterpret_cast<void **>(&sink_->offered_));
        if (FAILED(hr)) return hr;
    }
    *allocator = sink_->offered_;
    sink_->offered_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SinkPin::NotifyAllocator(IMemAllocator *allocator, BOOL) {
    allocator->AddRef();
    if (sink_->allocator_) sink_->allocator_->Release();
    sink_->allocator_ = allocator;
    sink_->allocatorNotified = true;
    sink_->offeredAllocatorUsed = allocator == sink_->offered_;
    allocator->GetProperties(&sink_->allocatorProperties);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SinkPin::Receive(IMediaSample *sample) {
    ReceivedSample r;
    r.identity = sample;
    r.length = sample->GetActualDataLength();
    BYTE *data = nullptr;
    sample->GetPointer(&data);
    if (data && r.length > 0) r.bytes.assign(data, data + r.length);
    r.timeResult = sample->GetTime(&r.start, &r.stop);
    r.syncPoint = sample->IsSyncPoint() == S_OK;
    r.discontinuity = sample->IsDiscontinuity() == S_OK;
    r.preroll = sample->IsPreroll() == S_OK;
    AM_MEDIA_TYPE *type = nullptr;
    if (sample->GetMediaType(&type) == S_OK && type) {
        r.typeAttached = true;
        CopyType(&r.type, type);
        DeleteType(type);
    }
    IMediaSample2 *sample2 = nullptr;
    if (SUCCEEDED(sample->QueryInterface(IID_IMediaSample2, reinterpret_cast<void **>(&sample2)))) {
        AM_SAMPLE2_PROPERTIES p{};
        if (SUCCEEDED(sample2->GetProperties(sizeof(p), reinterpret_cast<BYTE *>(&p)))) {
            r.streamId = p.dwStreamId;
            r.typeSpecificFlags = p.dwTypeSpecificFlags;
        }
        sample2->Release();
    }
    if (r.streamId == AM_STREAM_MEDIA) sink_->pcm.insert(sink_->pcm.end(), r.bytes.begin(), r.bytes.end());
    sink_->samples.push_back(std::move(r));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SinkPin::ReceiveMultiple(IMediaSample **samples, LONG count, LONG *processed) {
    *processed = 0;
    for (LONG i = 0; i < count; ++i) {
        const HRESULT hr = Receive(samples[i]);
        if (hr != S_OK) return hr;
        ++*processed;
    }
    return S_OK;
}

// ---- CollectSink ----

CollectSink::CollectSink(bool offerAllocator) : FilterCore(kSinkClass, &pin_), pin_(this), offerAllocator_(offerAllocator) {}

CollectSink::~CollectSink() {
    if (allocator_) allocator_->Release();
    if (offered_) offered_->Release();
    for (auto &sample : samples) FreeType(sample.type);
}

void *CollectSink::Extra(REFIID iid) {
    if (IsEqualIID(iid, IID_IAMFilterMiscFlags)) return static_cast<IAMFilterMiscFlags *>(this);
    return nullptr;
}

HRESULT CollectSink::OnPause(FILTER_STATE) { return S_OK; }

HRESULT CollectSink::OnRun() {
    // A renderer reports completion once it runs.
    if (completionPending_ && !completed_) {
        completed_ = true;
        completionPending_ = false;
        Notify(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter *>(this)));
    }
    return S_OK;
}

HRESULT CollectSink::OnStop() {
    completionPending_ = false;
    completed_ = false;
    return S_OK;
}

void CollectSink::EndOfStreamArrived() {
    EnterCriticalSection(&lock_);
    if (state_ == State_Running && !completed_) {
        completed_ = true;
        LeaveCriticalSection(&lock_);
        Notify(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter *>(this)));
        return;
    }
    completionPending_ = true;
    LeaveCriticalSection(&lock_);
}

}  // namespace vtest
