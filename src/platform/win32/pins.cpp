#include "pins.h"

#include <cwchar>
#include <new>

#include "auto_lock.h"
#include "enumerators.h"
#include "platform/media_type.h"

namespace velkorix {
namespace {

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

}  // namespace

// ---- PinBase ----

PinBase::PinBase(PinOwner *filter, IUnknown *owner, const WCHAR *name, PIN_DIRECTION direction)
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
    AutoLock lock(typeLock_);
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
        AutoLock lock(typeLock_);
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
    AutoLock lock(filter_->FilterLock());
    if (direction_ != PINDIR_OUTPUT) return E_UNEXPECTED;
    if (peer_) return VFW_E_ALREADY_CONNECTED;
    if (!filter_->IsStopped()) return VFW_E_NOT_STOPPED;
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
    AutoLock lock(filter_->FilterLock());
    if (direction_ != PINDIR_INPUT) return E_UNEXPECTED;
    if (peer_) return VFW_E_ALREADY_CONNECTED;
    if (!filter_->IsStopped()) return VFW_E_NOT_STOPPED;
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
    AutoLock lock(filter_->FilterLock());
    if (!filter_->IsStopped()) return VFW_E_NOT_STOPPED;
    if (!peer_) return S_FALSE;
    BreakConnect();
    ClearConnection();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PinBase::ConnectedTo(IPin **pin) {
    if (!pin) return E_POINTER;
    AutoLock lock(filter_->FilterLock());
    *pin = peer_;
    if (!peer_) return VFW_E_NOT_CONNECTED;
    peer_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PinBase::ConnectionMediaType(AM_MEDIA_TYPE *type) {
    if (!type) return E_POINTER;
    AutoLock lock(filter_->FilterLock());
    if (!peer_) {
        std::memset(type, 0, sizeof(*type));
        return VFW_E_NOT_CONNECTED;
    }
    AutoLock typeLock(typeLock_);
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
    AutoLock lock(filter_->FilterLock());
    qualitySink_ = sink;
    return S_OK;
}

// ---- InputPinBase ----

InputPinBase::InputPinBase(PinOwner *filter, IUnknown *owner, const WCHAR *name)
    : PinBase(filter, owner, name, PINDIR_INPUT) {}

InputPinBase::~InputPinBase() { BreakConnect(); }

HRESULT STDMETHODCALLTYPE InputPinBase::NonDelegatingQueryInterface(REFIID iid, void **object) {
    if (!object) return E_POINTER;
    if (iid == IID_IMemInputPin) return GetInterface(static_cast<IMemInputPin *>(this), object);
    return PinBase::NonDelegatingQueryInterface(iid, object);
}

void InputPinBase::BreakConnect() {
    if (allocator_) {
        allocator_->Release();
        allocator_ = nullptr;
    }
}

HRESULT InputPinBase::GetMediaTypeAt(int position, AM_MEDIA_TYPE *) {
    return position < 0 ? E_INVALIDARG : VFW_S_NO_MORE_ITEMS;
}

void InputPinBase::Inactive() {
    SetFlushing(false);
    if (allocator_) allocator_->Decommit();
}

HRESULT STDMETHODCALLTYPE InputPinBase::Notify(IBaseFilter *, Quality) { return E_NOTIMPL; }

HRESULT InputPinBase::PassNotify(Quality quality) {
    IQualityControl *sink = nullptr;
    IPin *upstream = nullptr;
    {
        AutoLock lock(filter_->FilterLock());
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

HRESULT STDMETHODCALLTYPE InputPinBase::GetAllocator(IMemAllocator **allocator) {
    if (!allocator) return E_POINTER;
    AutoLock lock(filter_->FilterLock());
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

HRESULT STDMETHODCALLTYPE InputPinBase::NotifyAllocator(IMemAllocator *allocator, BOOL) {
    if (!allocator) return E_POINTER;
    AutoLock lock(filter_->FilterLock());
    allocator->AddRef();
    if (allocator_) allocator_->Release();
    allocator_ = allocator;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE InputPinBase::GetAllocatorRequirements(ALLOCATOR_PROPERTIES *) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE InputPinBase::ReceiveMultiple(IMediaSample **samples, LONG count, LONG *processed) {
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

// ---- OutputPinBase ----

OutputPinBase::OutputPinBase(PinOwner *filter, IUnknown *owner, const WCHAR *name)
    : PinBase(filter, owner, name, PINDIR_OUTPUT) {}

OutputPinBase::~OutputPinBase() { BreakConnect(); }

HRESULT OutputPinBase::CheckConnect(IPin *peer) {
    const HRESULT hr = peer->QueryInterface(IID_IMemInputPin, reinterpret_cast<void **>(&downstreamInput_));
    if (FAILED(hr)) {
        downstreamInput_ = nullptr;
        return E_NOINTERFACE;
    }
    return S_OK;
}

HRESULT OutputPinBase::CompleteConnect(IPin *) {
    if (!downstreamInput_) return E_UNEXPECTED;
    return DecideAllocator(downstreamInput_, &allocator_);
}

void OutputPinBase::BreakConnect() {
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

HRESULT OutputPinBase::DecideAllocator(IMemInputPin *downstream, IMemAllocator **result) {
    ALLOCATOR_PROPERTIES wanted{};
    downstream->GetAllocatorRequirements(&wanted);  // optional: E_NOTIMPL leaves it zero
    if (wanted.cbAlign == 0) wanted.cbAlign = 1;

    // The downstream pin's allocator, when it takes our buffer request.
    IMemAllocator *allocator = nullptr;
    HRESULT hr = downstream->GetAllocator(&allocator);
    if (SUCCEEDED(hr) && allocator) {
        ALLOCATOR_PROPERTIES request = wanted;
        hr = DecideBufferSize(allocator, &request);
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
    hr = DecideBufferSize(allocator, &request);
    if (SUCCEEDED(hr)) hr = downstream->NotifyAllocator(allocator, FALSE);
    if (FAILED(hr)) {
        allocator->Release();
        return hr;
    }
    *result = allocator;
    return S_OK;
}

HRESULT OutputPinBase::Active() {
    if (!allocator_) return VFW_E_NO_ALLOCATOR;
    return allocator_->Commit();
}

void OutputPinBase::Inactive() {
    if (allocator_) allocator_->Decommit();
}

HRESULT OutputPinBase::GetDeliveryBuffer(IMediaSample **sample, REFERENCE_TIME *start, REFERENCE_TIME *stop,
                                         DWORD flags) {
    if (!allocator_) return VFW_E_NO_ALLOCATOR;
    return allocator_->GetBuffer(sample, start, stop, flags);
}

HRESULT OutputPinBase::Deliver(IMediaSample *sample) {
    if (!downstreamInput_) return VFW_E_NOT_CONNECTED;
    return downstreamInput_->Receive(sample);
}

HRESULT OutputPinBase::DeliverEndOfStream() {
    if (!Peer()) return VFW_E_NOT_CONNECTED;
    return Peer()->EndOfStream();
}

HRESULT OutputPinBase::DeliverBeginFlush() {
    if (!Peer()) return VFW_E_NOT_CONNECTED;
    return Peer()->BeginFlush();
}

HRESULT OutputPinBase::DeliverEndFlush() {
    if (!Peer()) return VFW_E_NOT_CONNECTED;
    return Peer()->EndFlush();
}

HRESULT OutputPinBase::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    if (!Peer()) return VFW_E_NOT_CONNECTED;
    return Peer()->NewSegment(start, stop, rate);
}

}  // namespace velkorix
