#include "filter_base.h"

#include <cwchar>
#include <new>

#include "auto_lock.h"
#include "enumerators.h"

namespace velkorix {

FilterBase::FilterBase(IUnknown *outer, REFCLSID clsid) : UnknownBase(outer), clsid_(clsid) {
    InitializeCriticalSection(&filterLock_);
}

FilterBase::~FilterBase() {
    if (clock_) clock_->Release();
    DeleteCriticalSection(&filterLock_);
}

HRESULT STDMETHODCALLTYPE FilterBase::NonDelegatingQueryInterface(REFIID iid, void **object) {
    if (!object) return E_POINTER;
    if (iid == IID_IBaseFilter || iid == IID_IMediaFilter || iid == IID_IPersist)
        return GetInterface(static_cast<IBaseFilter *>(this), object);
    return UnknownBase::NonDelegatingQueryInterface(iid, object);
}

HRESULT STDMETHODCALLTYPE FilterBase::GetClassID(CLSID *clsid) {
    if (!clsid) return E_POINTER;
    *clsid = clsid_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterBase::Stop() {
    AutoLock lock(filterLock_);
    if (state_ == State_Stopped) return S_OK;
    OnStop();
    state_ = State_Stopped;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterBase::Pause() {
    AutoLock lock(filterLock_);
    if (state_ == State_Stopped) {
        const HRESULT hr = OnActivate();
        if (FAILED(hr)) return hr;
    }
    state_ = State_Paused;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterBase::Run(REFERENCE_TIME start) {
    AutoLock lock(filterLock_);
    if (state_ == State_Stopped) {
        const HRESULT hr = Pause();
        if (FAILED(hr)) return hr;
    }
    startTime_ = start;
    state_ = State_Running;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterBase::GetState(DWORD, FILTER_STATE *state) {
    if (!state) return E_POINTER;
    AutoLock lock(filterLock_);
    *state = state_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterBase::SetSyncSource(IReferenceClock *clock) {
    AutoLock lock(filterLock_);
    if (clock) clock->AddRef();
    if (clock_) clock_->Release();
    clock_ = clock;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterBase::GetSyncSource(IReferenceClock **clock) {
    if (!clock) return E_POINTER;
    AutoLock lock(filterLock_);
    *clock = clock_;
    if (clock_) clock_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterBase::EnumPins(IEnumPins **pins) {
    if (!pins) return E_POINTER;
    auto *enumerator = new (std::nothrow) PinEnumerator(this, 0);
    *pins = enumerator;
    if (!enumerator) return E_OUTOFMEMORY;
    enumerator->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterBase::FindPin(LPCWSTR id, IPin **pin) {
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

HRESULT STDMETHODCALLTYPE FilterBase::QueryFilterInfo(FILTER_INFO *info) {
    if (!info) return E_POINTER;
    AutoLock lock(filterLock_);
    std::memcpy(info->achName, name_, sizeof(name_));
    info->pGraph = graph_;
    if (graph_) graph_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterBase::JoinFilterGraph(IFilterGraph *graph, LPCWSTR name) {
    AutoLock lock(filterLock_);
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

HRESULT STDMETHODCALLTYPE FilterBase::QueryVendorInfo(LPWSTR *) { return E_NOTIMPL; }

HRESULT FilterBase::NotifyEvent(LONG code, LONG_PTR first, LONG_PTR second) {
    IMediaEventSink *sink = eventSink_;
    if (!sink) return E_NOTIMPL;
    return sink->Notify(code, first, second);
}

}  // namespace velkorix
