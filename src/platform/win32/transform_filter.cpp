#include "transform_filter.h"

#include <cstddef>
#include <cwchar>
#include <new>

#include "platform/media_type.h"

namespace velkorix {
namespace {

class Lock {
public:
    explicit Lock(CRITICAL_SECTION &section) : section_(section) { EnterCriticalSection(&section_); }
    ~Lock() { LeaveCriticalSection(&section_); }
    Lock(const Lock &) = delete;
    Lock &operator=(const Lock &) = delete;

private:
    CRITICAL_SECTION &section_;
};

bool IsNull(const GUID &id) { return id == GUID{}; }

// A type with a wildcard in its major type, subtype or format type.
bool IsPartial(const AM_MEDIA_TYPE *type) {
    return IsNull(type->majortype) || IsNull(type->subtype) || IsNull(type->formattype);
}

// Whether `type` fits the fields that `partial` fixes.
bool Matches(const AM_MEDIA_TYPE *partial, const AM_MEDIA_TYPE *type) {
    if (!partial) return true;
    if (!IsNull(partial->majortype) && !(partial->majortype == type->majortype)) return false;
    if (!IsNull(partial->subtype) && !(partial->subtype == type->subtype)) return false;
    if (!IsNull(partial->formattype) && !(partial->formattype == type->formattype)) return false;
    return true;
}

const WCHAR kInputPinName[] = L"XForm In";
const WCHAR kOutputPinName[] = L"XForm Out";

// IEnumPins over the filter's two pins. Holds a reference on the filter.
class PinEnumerator final : public UnknownBase, public IEnumPins {
public:
    PinEnumerator(TransformFilterBase *filter, ULONG position)
        : UnknownBase(nullptr), filter_(filter), position_(position) {
        filter_->AsBaseFilter()->AddRef();
    }
    ~PinEnumerator() override { filter_->AsBaseFilter()->Release(); }

    VELKORIX_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void **object) override {
        if (!object) return E_POINTER;
        if (iid == IID_IEnumPins) return GetInterface(static_cast<IEnumPins *>(this), object);
        return UnknownBase::NonDelegatingQueryInterface(iid, object);
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin **pins, ULONG *fetched) override {
        if (!pins) return E_POINTER;
        if (count > 1 && !fetched) return E_INVALIDARG;
        ULONG n = 0;
        while (n < count) {
            PinBase *pin = filter_->PinAt(static_cast<int>(position_));
            if (!pin) break;
            pins[n] = pin;
            pin->AddRef();
            ++n;
            ++position_;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        while (count > 0 && filter_->PinAt(static_cast<int>(position_))) {
            ++position_;
            --count;
        }
        return count == 0 ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumPins **copy) override {
        if (!copy) return E_POINTER;
        auto *clone = new (std::nothrow) PinEnumerator(filter_, position_);
        *copy = clone;
        if (!clone) return E_OUTOFMEMORY;
        clone->AddRef();
        return S_OK;
    }

private:
    TransformFilterBase *filter_;
    ULONG position_;
};

// IEnumMediaTypes over a pin's preferred types. Holds a reference on the pin.
class MediaTypeEnumerator final : public UnknownBase, public IEnumMediaTypes {
public:
    MediaTypeEnumerator(PinBase *pin, int position) : UnknownBase(nullptr), pin_(pin), position_(position) {
        pin_->AddRef();
    }
    ~MediaTypeEnumerator() override { pin_->Release(); }

    VELKORIX_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void **object) override {
        if (!object) return E_POINTER;
        if (iid == IID_IEnumMediaTypes) return GetInterface(static_cast<IEnumMediaTypes *>(this), object);
        return UnknownBase::NonDelegatingQueryInterface(iid, object);
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE **types, ULONG *fetched) override {
        if (!types) return E_POINTER;
        if (count > 1 && !fetched) return E_INVALIDARG;
        ULONG n = 0;
        while (n < count) {
            auto *type = static_cast<AM_MEDIA_TYPE *>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
            if (!type) break;
            std::memset(type, 0, sizeof(*type));
            if (pin_->GetMediaTypeAt(position_, type) != S_OK) {
                DeleteMediaType(type);
                break;
            }
            types[n++] = type;
            ++position_;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        while (count > 0) {
            AM_MEDIA_TYPE probe{};
            const HRESULT hr = pin_->GetMediaTypeAt(position_, &probe);
            FreeMediaType(probe);
            if (hr != S_OK) return S_FALSE;
            ++position_;
            --count;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes **copy) override {
        if (!copy) return E_POINTER;
        auto *clone = new (std::nothrow) MediaTypeEnumerator(pin_, position_);
        *copy = clone;
        if (!clone) return E_OUTOFMEMORY;
        clone->AddRef();
        return S_OK;
    }

private:
    PinBase *pin_;
    int position_;
};

}  // namespace

// ---- PinBase ----

PinBase::PinBase(TransformFilterBase *filter, IUnknown *owner, const WCHAR *name, PIN_DIRECTION direction)
    : UnknownBase(owner), filter_(filter), name_(name), direction_(direction) {
    InitializeCriticalSection(&typeLock_);
}

PinBase::~PinBase() {
    ClearConnection();
    DeleteCriticalSection(&typeLock_);
}

HRESULT STDMETHODCALLTYPE PinBase::NonDelegatingQueryInterface(REFIID iid, void **object) {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IPin) return GetInterface(static_cast<IPin *>(this), object);
    if (iid == IID_IQualityControl) return GetInterface(static_cast<IQualityControl *>(this), object);
    *object = nullptr;
    return E_NOINTERFACE;
}

void PinBase::ClearConnection() {
    if (peer_) {
        peer_->Release();
        peer_ = nullptr;
    }
    Lock lock(typeLock_);
    FreeMediaType(type_);
    type_ = AM_MEDIA_TYPE{};
}

HRESULT PinBase::SetConnectionType(const AM_MEDIA_TYPE *type) {
    if (!type) return E_POINTER;
    AM_MEDIA_TYPE copy{};
    const HRESULT hr = CopyMediaType(&copy, type);
    if (FAILED(hr)) return hr;
    AM_MEDIA_TYPE old;
    {
        Lock lock(typeLock_);
        old = type_;
        type_ = copy;
    }
    FreeMediaType(old);
    return S_OK;
}

HRESULT PinBase::CheckConnect(IPin *) { return S_OK; }
HRESULT PinBase::CompleteConnect(IPin *) { return S_OK; }

HRESULT PinBase::TryConnection(IPin *receivePin, const AM_MEDIA_TYPE *type) {
    HRESULT hr = CheckMediaType(type);
    if (hr != S_OK) return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
    hr = SetConnectionType(type);
    if (FAILED(hr)) return hr;
    peer_ = receivePin;
    peer_->AddRef();
    hr = receivePin->ReceiveConnection(this, type);
    if (SUCCEEDED(hr)) {
        hr = CompleteConnect(receivePin);
        if (SUCCEEDED(hr)) return S_OK;
        receivePin->Disconnect();
    }
    ClearConnection();
    return hr;
}

HRESULT PinBase::TryTypesOf(IEnumMediaTypes *types, IPin *receivePin, const AM_MEDIA_TYPE *partial) {
    types->Reset();
    AM_MEDIA_TYPE *type = nullptr;
    ULONG fetched = 0;
    while (types->Next(1, &type, &fetched) == S_OK && fetched == 1 && type) {
        const bool connected = Matches(partial, type) && SUCCEEDED(TryConnection(receivePin, type));
        DeleteMediaType(type);
        type = nullptr;
        if (connected) return S_OK;
    }
    return VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT STDMETHODCALLTYPE PinBase::Connect(IPin *receivePin, const AM_MEDIA_TYPE *type) {
    if (!receivePin) return E_POINTER;
    Lock lock(filter_->filterLock_);
    if (direction_ != PINDIR_OUTPUT) return E_UNEXPECTED;
    if (peer_) return VFW_E_ALREADY_CONNECTED;
    if (filter_->state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    PIN_DIRECTION other;
    if (FAILED(receivePin->QueryDirection(&other)) || other == direction_) return VFW_E_INVALID_DIRECTION;

    HRESULT hr = CheckConnect(receivePin);
    if (SUCCEEDED(hr)) {
        if (type && !IsPartial(type)) {
            hr = TryConnection(receivePin, type);
        } else {
            // The receiving pin's preferences first, then ours.
            hr = VFW_E_NO_ACCEPTABLE_TYPES;
            IEnumMediaTypes *theirs = nullptr;
            if (SUCCEEDED(receivePin->EnumMediaTypes(&theirs)) && theirs) {
                hr = TryTypesOf(theirs, receivePin, type);
                theirs->Release();
            }
            if (FAILED(hr)) {
                MediaTypeEnumerator ours(this, 0);
                ours.NonDelegatingAddRef();  // lives on the stack: never released to zero
                hr = TryTypesOf(&ours, receivePin, type);
            }
        }
    }
    if (FAILED(hr)) BreakConnect();
    return hr;
}

HRESULT STDMETHODCALLTYPE PinBase::ReceiveConnection(IPin *connector, const AM_MEDIA_TYPE *type) {
    if (!connector || !type) return E_POINTER;
    Lock lock(filter_->filterLock_);
    if (direction_ != PINDIR_INPUT) return E_UNEXPECTED;
    if (peer_) return VFW_E_ALREADY_CONNECTED;
    if (filter_->state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    PIN_DIRECTION other;
    if (FAILED(connector->QueryDirection(&other)) || other == direction_) return VFW_E_INVALID_DIRECTION;

    HRESULT hr = CheckConnect(connector);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    if (CheckMediaType(type) != S_OK) {
        BreakConnect();
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    hr = SetConnectionType(type);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    peer_ = connector;
    peer_->AddRef();
    hr = CompleteConnect(connector);
    if (FAILED(hr)) {
        ClearConnection();
        BreakConnect();
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE PinBase::Disconnect() {
    Lock lock(filter_->filterLock_);
    if (filter_->state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    if (!peer_) return S_FALSE;
    BreakConnect();
    ClearConnection();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PinBase::ConnectedTo(IPin **pin) {
    if (!pin) return E_POINTER;
    Lock lock(filter_->filterLock_);
    *pin = peer_;
    if (!peer_) return VFW_E_NOT_CONNECTED;
    peer_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PinBase::ConnectionMediaType(AM_MEDIA_TYPE *type) {
    if (!type) return E_POINTER;
    Lock lock(filter_->filterLock_);
    if (!peer_) {
        std::memset(type, 0, sizeof(*type));
        return VFW_E_NOT_CONNECTED;
    }
    Lock typeLock(typeLock_);
    return CopyMediaType(type, &type_);
}

HRESULT STDMETHODCALLTYPE PinBase::QueryPinInfo(PIN_INFO *info) {
    if (!info) return E_POINTER;
    info->pFilter = filter_->AsBaseFilter();
    info->pFilter->AddRef();
    std::wcsncpy(info->achName, name_, MAX_PIN_NAME - 1);
    info->achName[MAX_PIN_NAME - 1] = 0;
    info->dir = direction_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PinBase::QueryDirection(PIN_DIRECTION *direction) {
    if (!direction) return E_POINTER;
    *direction = direction_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PinBase::QueryId(LPWSTR *id) {
    if (!id) return E_POINTER;
    const size_t bytes = (std::wcslen(name_) + 1) * sizeof(WCHAR);
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (!*id) return E_OUTOFMEMORY;
    std::memcpy(*id, name_, bytes);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PinBase::QueryAccept(const AM_MEDIA_TYPE *type) {
    if (!type) return E_POINTER;
    return CheckMediaType(type) == S_OK ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE PinBase::EnumMediaTypes(IEnumMediaTypes **types) {
    if (!types) return E_POINTER;
    auto *enumerator = new (std::nothrow) MediaTypeEnumerator(this, 0);
    *types = enumerator;
    if (!enumerator) return E_OUTOFMEMORY;
    enumerator->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PinBase::QueryInternalConnections(IPin **, ULONG *) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE PinBase::SetSink(IQualityControl *sink) {
    Lock lock(filter_->filterLock_);
    qualitySink_ = sink;
    return S_OK;
}

// ---- TransformInputPin ----

TransformInputPin::TransformInputPin(TransformFilterBase *filter, IUnknown *owner)
    : PinBase(filter, owner, kInputPinName, PINDIR_INPUT) {}

TransformInputPin::~TransformInputPin() { BreakConnect(); }

HRESULT STDMETHODCALLTYPE TransformInputPin::NonDelegatingQueryInterface(REFIID iid, void **object) {
    if (!object) return E_POINTER;
    if (iid == IID_IMemInputPin) return GetInterface(static_cast<IMemInputPin *>(this), object);
    return PinBase::NonDelegatingQueryInterface(iid, object);
}

HRESULT TransformInputPin::CheckConnect(IPin *peer) { return PinBase::CheckConnect(peer); }

void TransformInputPin::BreakConnect() {
    if (allocator_) {
        allocator_->Release();
        allocator_ = nullptr;
    }
}

HRESULT TransformInputPin::SetConnectionType(const AM_MEDIA_TYPE *type) { return PinBase::SetConnectionType(type); }

HRESULT TransformInputPin::GetMediaTypeAt(int position, AM_MEDIA_TYPE *) {
    // The input pin has no preferred types: it takes what upstream offers.
    return position < 0 ? E_INVALIDARG : VFW_S_NO_MORE_ITEMS;
}

HRESULT TransformInputPin::CheckMediaType(const AM_MEDIA_TYPE *type) { return filter_->CheckInputType(type); }

void TransformInputPin::Inactive() {
    InterlockedExchange(&flushing_, 0);
    // Decommitting releases an upstream thread waiting for a buffer.
    if (allocator_) allocator_->Decommit();
}

HRESULT STDMETHODCALLTYPE TransformInputPin::EndOfStream() { return filter_->EndOfStreamFromInput(); }

HRESULT STDMETHODCALLTYPE TransformInputPin::BeginFlush() { return filter_->BeginFlushFromInput(); }

HRESULT STDMETHODCALLTYPE TransformInputPin::EndFlush() { return filter_->EndFlushFromInput(); }

HRESULT STDMETHODCALLTYPE TransformInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    return filter_->NewSegmentFromInput(start, stop, rate);
}

HRESULT STDMETHODCALLTYPE TransformInputPin::Notify(IBaseFilter *, Quality) { return E_NOTIMPL; }

HRESULT TransformInputPin::PassNotify(Quality quality) {
    IQualityControl *sink = nullptr;
    IPin *upstream = nullptr;
    {
        Lock lock(filter_->filterLock_);
        sink = qualitySink_;
        if (sink) {
            sink->AddRef();
        } else if (Peer()) {
            upstream = Peer();
            upstream->AddRef();
        }
    }
    HRESULT hr = VFW_E_NOT_FOUND;
    if (sink) {
        hr = sink->Notify(filter_->AsBaseFilter(), quality);
        sink->Release();
    } else if (upstream) {
        IQualityControl *control = nullptr;
        if (SUCCEEDED(upstream->QueryInterface(IID_IQualityControl, reinterpret_cast<void **>(&control)))) {
            hr = control->Notify(filter_->AsBaseFilter(), quality);
            control->Release();
        }
        upstream->Release();
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE TransformInputPin::GetAllocator(IMemAllocator **allocator) {
    if (!allocator) return E_POINTER;
    Lock lock(filter_->filterLock_);
    if (!allocator_) {
        const HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                            reinterpret_cast<void **>(&allocator_));
        if (FAILED(hr)) {
            allocator_ = nullptr;
            *allocator = nullptr;
            return hr;
        }
    }
    *allocator = allocator_;
    allocator_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TransformInputPin::NotifyAllocator(IMemAllocator *allocator, BOOL) {
    if (!allocator) return E_POINTER;
    Lock lock(filter_->filterLock_);
    allocator->AddRef();
    if (allocator_) allocator_->Release();
    allocator_ = allocator;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TransformInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES *) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE TransformInputPin::Receive(IMediaSample *sample) { return filter_->ReceiveSample(sample); }

HRESULT STDMETHODCALLTYPE TransformInputPin::ReceiveMultiple(IMediaSample **samples, LONG count, LONG *processed) {
    if (!samples || !processed) return E_POINTER;
    *processed = 0;
    HRESULT hr = S_OK;
    for (LONG i = 0; i < count; ++i) {
        hr = Receive(samples[i]);
        if (hr != S_OK) break;
        ++*processed;
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE TransformInputPin::ReceiveCanBlock() {
    // Receive blocks exactly when delivery downstream can.
    IPin *downstream = nullptr;
    {
        Lock lock(filter_->filterLock_);
        downstream = filter_->output_.Peer();
        if (downstream) downstream->AddRef();
    }
    if (!downstream) return S_FALSE;
    HRESULT hr = S_OK;
    IMemInputPin *input = nullptr;
    if (SUCCEEDED(downstream->QueryInterface(IID_IMemInputPin, reinterpret_cast<void **>(&input)))) {
        hr = input->ReceiveCanBlock() == S_FALSE ? S_FALSE : S_OK;
        input->Release();
    }
    downstream->Release();
    return hr;
}

// ---- TransformOutputPin ----

TransformOutputPin::TransformOutputPin(TransformFilterBase *filter, IUnknown *owner)
    : PinBase(filter, owner, kOutputPinName, PINDIR_OUTPUT) {}

TransformOutputPin::~TransformOutputPin() { BreakConnect(); }

HRESULT STDMETHODCALLTYPE TransformOutputPin::NonDelegatingQueryInterface(REFIID iid, void **object) {
    if (!object) return E_POINTER;
    if (iid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking *>(this), object);
    return PinBase::NonDelegatingQueryInterface(iid, object);
}

HRESULT TransformOutputPin::CheckConnect(IPin *peer) {
    // The output type derives from the input type: no output without input.
    if (!filter_->IsInputConnected()) return E_UNEXPECTED;
    const HRESULT hr = peer->QueryInterface(IID_IMemInputPin, reinterpret_cast<void **>(&downstreamInput_));
    if (FAILED(hr)) {
        downstreamInput_ = nullptr;
        return E_NOINTERFACE;
    }
    return S_OK;
}

HRESULT TransformOutputPin::CompleteConnect(IPin *) {
    if (!downstreamInput_) return E_UNEXPECTED;
    return DecideAllocator(downstreamInput_, &allocator_);
}

void TransformOutputPin::BreakConnect() {
    if (allocator_) {
        allocator_->Decommit();
        allocator_->Release();
        allocator_ = nullptr;
    }
    if (downstreamInput_) {
        downstreamInput_->Release();
        downstreamInput_ = nullptr;
    }
}

HRESULT TransformOutputPin::GetMediaTypeAt(int position, AM_MEDIA_TYPE *type) {
    return filter_->GetMediaType(position, type);
}

HRESULT TransformOutputPin::CheckMediaType(const AM_MEDIA_TYPE *type) {
    if (!filter_->IsInputConnected()) return E_UNEXPECTED;
    return filter_->CheckTransform(filter_->InputConnectionType(), type);
}

HRESULT TransformOutputPin::DecideAllocator(IMemInputPin *downstream, IMemAllocator **result) {
    ALLOCATOR_PROPERTIES wanted{};
    downstream->GetAllocatorRequirements(&wanted);  // optional: E_NOTIMPL leaves it zero
    if (wanted.cbAlign == 0) wanted.cbAlign = 1;

    // The downstream pin's allocator, when it takes our buffer request.
    IMemAllocator *allocator = nullptr;
    HRESULT hr = downstream->GetAllocator(&allocator);
    if (SUCCEEDED(hr) && allocator) {
        ALLOCATOR_PROPERTIES request = wanted;
        hr = filter_->DecideBufferSize(allocator, &request);
        if (SUCCEEDED(hr)) hr = downstream->NotifyAllocator(allocator, FALSE);
        if (SUCCEEDED(hr)) {
            *result = allocator;
            return S_OK;
        }
    }
    if (allocator) allocator->Release();
    allocator = nullptr;

    // Otherwise a memory allocator of our own.
    hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                          reinterpret_cast<void **>(&allocator));
    if (FAILED(hr)) return hr;
    ALLOCATOR_PROPERTIES request = wanted;
    hr = filter_->DecideBufferSize(allocator, &request);
    if (SUCCEEDED(hr)) hr = downstream->NotifyAllocator(allocator, FALSE);
    if (FAILED(hr)) {
        allocator->Release();
        return hr;
    }
    *result = allocator;
    return S_OK;
}

HRESULT TransformOutputPin::Active() {
    if (!allocator_) return VFW_E_NO_ALLOCATOR;
    return allocator_->Commit();
}

void TransformOutputPin::Inactive() {
    if (allocator_) allocator_->Decommit();
}

HRESULT TransformOutputPin::GetDeliveryBuffer(IMediaSample **sample, REFERENCE_TIME *start, REFERENCE_TIME *stop,
                                              DWORD flags) {
    if (!allocator_) return VFW_E_NO_ALLOCATOR;
    return allocator_->GetBuffer(sample, start, stop, flags);
}

HRESULT TransformOutputPin::Deliver(IMediaSample *sample) {
    if (!downstreamInput_) return VFW_E_NOT_CONNECTED;
    return downstreamInput_->Receive(sample);
}

HRESULT TransformOutputPin::DeliverEndOfStream() {
    if (!Peer()) return VFW_E_NOT_CONNECTED;
    return Peer()->EndOfStream();
}

HRESULT TransformOutputPin::DeliverBeginFlush() {
    if (!Peer()) return VFW_E_NOT_CONNECTED;
    return Peer()->BeginFlush();
}

HRESULT TransformOutputPin::DeliverEndFlush() {
    if (!Peer()) return VFW_E_NOT_CONNECTED;
    return Peer()->EndFlush();
}

HRESULT TransformOutputPin::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    if (!Peer()) return VFW_E_NOT_CONNECTED;
    return Peer()->NewSegment(start, stop, rate);
}

HRESULT STDMETHODCALLTYPE TransformOutputPin::Notify(IBaseFilter *, Quality quality) {
    return filter_->input_.PassNotify(quality);
}

IMediaSeeking *TransformOutputPin::UpstreamSeeking() {
    IPin *upstream = nullptr;
    {
        Lock lock(filter_->filterLock_);
        upstream = filter_->input_.Peer();
        if (upstream) upstream->AddRef();
    }
    if (!upstream) return nullptr;
    IMediaSeeking *seeking = nullptr;
    if (FAILED(upstream->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void **>(&seeking)))) seeking = nullptr;
    upstream->Release();
    return seeking;
}

// Every seeking call is answered by the pin upstream of the filter; without
// one there is nothing to seek.
#define VELKORIX_FORWARD_SEEKING(call)               \
    IMediaSeeking *upstream = UpstreamSeeking();     \
    if (!upstream) return E_NOTIMPL;                 \
    const HRESULT hr = upstream->call;               \
    upstream->Release();                             \
    return hr

HRESULT STDMETHODCALLTYPE TransformOutputPin::GetCapabilities(DWORD *capabilities) {
    VELKORIX_FORWARD_SEEKING(GetCapabilities(capabilities));
}
HRESULT STDMETHODCALLTYPE TransformOutputPin::CheckCapabilities(DWORD *capabilities) {
    VELKORIX_FORWARD_SEEKING(CheckCapabilities(capabilities));
}
HRESULT STDMETHODCALLTYPE TransformOutputPin::IsFormatSupported(const GUID *format) {
    VELKORIX_FORWARD_SEEKING(IsFormatSupported(format));
}
HRESULT STDMETHODCALLTYPE TransformOutputPin::QueryPreferredFormat(GUID *format) {
    VELKORIX_FORWARD_SEEKING(QueryPreferredFormat(format));
}
HRESULT STDMETHODCALLTYPE TransformOutputPin::GetTimeFormat(GUID *format) {
    VELKORIX_FORWARD_SEEKING(GetTimeFormat(format));
}
HRESULT STDMETHODCALLTYPE TransformOutputPin::IsUsingTimeFormat(const GUID *format) {
    VELKORIX_FORWARD_SEEKING(IsUsingTimeFormat(format));
}
HRESULT STDMETHODCALLTYPE TransformOutputPin::SetTimeFormat(const GUID *format) {
    VELKORIX_FORWARD_SEEKING(SetTimeFormat(format));
}
HRESULT STDMETHODCALLTYPE TransformOutputPin::GetDuration(LONGLONG *duration) {
    VELKORIX_FORWARD_SEEKING(GetDuration(duration));
}
HRESULT STDMETHODCALLTYPE TransformOutputPin::GetStopPosition(LONGLONG *stop) {
    VELKORIX_FORWARD_SEEKING(GetStopPosition(stop));
}
HRESULT STDMETHODCALLTYPE TransformOutputPin::GetCurrentPosition(LONGLONG *current) {
    VELKORIX_FORWARD_SEEKING(GetCurrentPosition(current));
}
HRESULT STDMETHODCALLTYPE TransformOutputPin::ConvertTimeFormat(LONGLONG *target, const GUID *targetFormat,
                                                                 LONGLONG source, const GUID *sourceFormat) {
    VELKORIX_FORWARD_SEEKING(ConvertTimeFormat(target, targetFormat, source, sourceFormat));
}
HRESULT STDMETHODCALLTYPE TransformOutputPin::SetPositions(LONGLONG *current, DWORD currentFlags, LONGLONG *stop,
                                                            DWORD stopFlags) {
    VELKORIX_FORWARD_SEEKING(SetPositions(current, currentFlags, stop, stopFlags));
}
HRESULT STDMETHODCALLTYPE TransformOutputPin::GetPositions(LONGLONG *current, LONGLONG *stop) {
    VELKORIX_FORWARD_SEEKING(GetPositions(current, stop));
}
HRESULT STDMETHODCALLTYPE TransformOutputPin::GetAvailable(LONGLONG *earliest, LONGLONG *latest) {
    VELKORIX_FORWARD_SEEKING(GetAvailable(earliest, latest));
}
HRESULT STDMETHODCALLTYPE TransformOutputPin::SetRate(double rate) { VELKORIX_FORWARD_SEEKING(SetRate(rate)); }
HRESULT STDMETHODCALLTYPE TransformOutputPin::GetRate(double *rate) { VELKORIX_FORWARD_SEEKING(GetRate(rate)); }
HRESULT STDMETHODCALLTYPE TransformOutputPin::GetPreroll(LONGLONG *preroll) {
    VELKORIX_FORWARD_SEEKING(GetPreroll(preroll));
}

#undef VELKORIX_FORWARD_SEEKING

// ---- TransformFilterBase ----

TransformFilterBase::TransformFilterBase(const char *, IUnknown *outer, REFCLSID clsid)
    : UnknownBase(outer), clsid_(clsid), input_(this, GetOwner()), output_(this, GetOwner()) {
    InitializeCriticalSection(&filterLock_);
    InitializeCriticalSection(&receiveLock_);
}

TransformFilterBase::~TransformFilterBase() {
    output_.Inactive();
    input_.Inactive();
    if (clock_) clock_->Release();
    DeleteCriticalSection(&receiveLock_);
    DeleteCriticalSection(&filterLock_);
}

HRESULT STDMETHODCALLTYPE TransformFilterBase::NonDelegatingQueryInterface(REFIID iid, void **object) {
    if (!object) return E_POINTER;
    if (iid == IID_IBaseFilter || iid == IID_IMediaFilter || iid == IID_IPersist)
        return GetInterface(static_cast<IBaseFilter *>(this), object);
    return UnknownBase::NonDelegatingQueryInterface(iid, object);
}

HRESULT TransformFilterBase::SetInputConnectionType(const AM_MEDIA_TYPE *type) { return input_.SetConnectionType(type); }

PinBase *TransformFilterBase::PinAt(int position) {
    switch (position) {
        case 0: return &input_;
        case 1: return &output_;
        default: return nullptr;
    }
}

HRESULT STDMETHODCALLTYPE TransformFilterBase::GetClassID(CLSID *clsid) {
    if (!clsid) return E_POINTER;
    *clsid = clsid_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TransformFilterBase::Stop() {
    Lock lock(filterLock_);
    if (state_ == State_Stopped) return S_OK;
    // Decommitting the input allocator releases an upstream thread waiting for
    // a buffer; then wait for a sample in progress before the output side stops.
    input_.Inactive();
    {
        Lock receive(receiveLock_);
        output_.Inactive();
        state_ = State_Stopped;
    }
    endOfStreamDelivered_ = false;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TransformFilterBase::Pause() {
    Lock lock(filterLock_);
    if (state_ == State_Stopped) {
        if (output_.IsConnected()) {
            const HRESULT hr = output_.Active();
            if (FAILED(hr)) return hr;
        }
        // Nothing will ever arrive on an unconnected input: tell downstream.
        if (!input_.IsConnected() && output_.IsConnected() && !endOfStreamDelivered_) {
            output_.DeliverEndOfStream();
            endOfStreamDelivered_ = true;
        }
        samplePath_.Restart();
    }
    state_ = State_Paused;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TransformFilterBase::Run(REFERENCE_TIME start) {
    Lock lock(filterLock_);
    if (state_ == State_Stopped) {
        const HRESULT hr = Pause();
        if (FAILED(hr)) return hr;
    }
    startTime_ = start;
    state_ = State_Running;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TransformFilterBase::GetState(DWORD, FILTER_STATE *state) {
    if (!state) return E_POINTER;
    Lock lock(filterLock_);
    *state = state_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TransformFilterBase::SetSyncSource(IReferenceClock *clock) {
    Lock lock(filterLock_);
    if (clock) clock->AddRef();
    if (clock_) clock_->Release();
    clock_ = clock;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TransformFilterBase::GetSyncSource(IReferenceClock **clock) {
    if (!clock) return E_POINTER;
    Lock lock(filterLock_);
    *clock = clock_;
    if (clock_) clock_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TransformFilterBase::EnumPins(IEnumPins **pins) {
    if (!pins) return E_POINTER;
    auto *enumerator = new (std::nothrow) PinEnumerator(this, 0);
    *pins = enumerator;
    if (!enumerator) return E_OUTOFMEMORY;
    enumerator->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TransformFilterBase::FindPin(LPCWSTR id, IPin **pin) {
    if (!id || !pin) return E_POINTER;
    for (int i = 0; PinAt(i); ++i) {
        if (std::wcscmp(id, PinAt(i)->Name()) == 0) {
            *pin = PinAt(i);
            (*pin)->AddRef();
            return S_OK;
        }
    }
    *pin = nullptr;
    return VFW_E_NOT_FOUND;
}

HRESULT STDMETHODCALLTYPE TransformFilterBase::QueryFilterInfo(FILTER_INFO *info) {
    if (!info) return E_POINTER;
    Lock lock(filterLock_);
    std::memcpy(info->achName, name_, sizeof(name_));
    info->pGraph = graph_;
    if (graph_) graph_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TransformFilterBase::JoinFilterGraph(IFilterGraph *graph, LPCWSTR name) {
    Lock lock(filterLock_);
    graph_ = graph;
    eventSink_ = nullptr;
    if (graph) {
        IMediaEventSink *sink = nullptr;
        if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void **>(&sink))) && sink) {
            eventSink_ = sink;
            sink->Release();  // the graph outlives its membership: keep no reference
        }
    }
    std::memset(name_, 0, sizeof(name_));
    if (name) std::wcsncpy(name_, name, MAX_FILTER_NAME - 1);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TransformFilterBase::QueryVendorInfo(LPWSTR *) { return E_NOTIMPL; }

HRESULT TransformFilterBase::NotifyEvent(LONG code, LONG_PTR first, LONG_PTR second) {
    IMediaEventSink *sink = eventSink_;
    if (!sink) return E_NOTIMPL;
    return sink->Notify(code, first, second);
}

HRESULT TransformFilterBase::CheckStreaming() {
    if (!input_.IsConnected()) return VFW_E_NOT_CONNECTED;
    if (input_.IsFlushing()) return S_FALSE;
    if (state_ == State_Stopped) return VFW_E_WRONG_STATE;
    return S_OK;
}

HRESULT TransformFilterBase::GetDeliveryBuffer(IMediaSample **sample, REFERENCE_TIME *start, REFERENCE_TIME *stop,
                                               DWORD flags) {
    return output_.GetDeliveryBuffer(sample, start, stop, flags);
}

void TransformFilterBase::ReadProperties(IMediaSample *sample, SampleProperties *properties) {
    // IMediaSample2 answers everything but the media times in one call; a
    // sample without it is asked one property at a time.
    IMediaSample2 *sample2 = nullptr;
    if (FAILED(sample->QueryInterface(IID_IMediaSample2, reinterpret_cast<void **>(&sample2))) || !sample2) {
        ReadSampleProperties(sample, properties);
        return;
    }
    AM_SAMPLE2_PROPERTIES p{};
    const HRESULT hr = sample2->GetProperties(sizeof(p), reinterpret_cast<BYTE *>(&p));
    sample2->Release();
    if (FAILED(hr)) {
        ReadSampleProperties(sample, properties);
        return;
    }
    SampleProperties &out = *properties;
    const DWORD flags = p.dwSampleFlags;
    out.hasStart = (flags & AM_SAMPLE_TIMEVALID) != 0;
    out.hasStop = out.hasStart && (flags & AM_SAMPLE_STOPVALID) != 0;
    out.start = p.tStart;
    out.stop = p.tStop;
    out.syncPoint = (flags & AM_SAMPLE_SPLICEPOINT) != 0;
    out.preroll = (flags & AM_SAMPLE_PREROLL) != 0;
    out.discontinuity = (flags & AM_SAMPLE_DATADISCONTINUITY) != 0;
    // The sample's own type, not a copy.
    if ((flags & AM_SAMPLE_TYPECHANGED) && p.pMediaType) out.type = p.pMediaType;
    out.streamId = p.dwStreamId;
    out.typeSpecificFlags = p.dwTypeSpecificFlags;
    LONGLONG mediaStart = 0, mediaStop = 0;
    if (sample->GetMediaTime(&mediaStart, &mediaStop) == S_OK) {
        out.hasMediaTime = true;
        out.mediaStart = mediaStart;
        out.mediaStop = mediaStop;
    }
}

void TransformFilterBase::CompleteOutputSample(const SampleProperties &input, IMediaSample *output) {
    if (input.typeSpecificFlags == 0) return;
    IMediaSample2 *output2 = nullptr;
    if (FAILED(output->QueryInterface(IID_IMediaSample2, reinterpret_cast<void **>(&output2))) || !output2) return;
    AM_SAMPLE2_PROPERTIES head{};
    head.cbData = sizeof(head);
    head.dwTypeSpecificFlags = input.typeSpecificFlags;
    // Only the leading two fields: the rest stay as the sample path set them.
    output2->SetProperties(offsetof(AM_SAMPLE2_PROPERTIES, dwSampleFlags), reinterpret_cast<BYTE *>(&head));
    output2->Release();
}

void TransformFilterBase::AbortStream(HRESULT reason) { NotifyEvent(EC_ERRORABORT, reason, 0); }

HRESULT TransformFilterBase::ReceiveSample(IMediaSample *sample) {
    if (!sample) return E_POINTER;
    Lock receive(receiveLock_);
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    return samplePath_.Receive(sample, *this);
}

HRESULT TransformFilterBase::EndOfStreamFromInput() {
    Lock receive(receiveLock_);
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    if (!output_.IsConnected()) return S_OK;
    return output_.DeliverEndOfStream();
}

HRESULT TransformFilterBase::BeginFlushFromInput() {
    Lock lock(filterLock_);
    if (!input_.IsConnected()) return VFW_E_NOT_CONNECTED;
    // From here every sample is refused until the flush ends; downstream
    // releases whatever it holds, which frees a blocked Receive.
    InterlockedExchange(&input_.flushing_, 1);
    if (!output_.IsConnected()) return S_OK;
    return output_.DeliverBeginFlush();
}

HRESULT TransformFilterBase::EndFlushFromInput() {
    Lock lock(filterLock_);
    if (!input_.IsConnected()) return VFW_E_NOT_CONNECTED;
    HRESULT hr = S_OK;
    if (output_.IsConnected()) hr = output_.DeliverEndFlush();
    {
        // A sample that was under way when the flush began has finished.
        Lock receive(receiveLock_);
        samplePath_.Restart();
    }
    InterlockedExchange(&input_.flushing_, 0);
    return hr;
}

HRESULT TransformFilterBase::NewSegmentFromInput(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    if (!output_.IsConnected()) return S_OK;
    return output_.DeliverNewSegment(start, stop, rate);
}

}  // namespace velkorix
