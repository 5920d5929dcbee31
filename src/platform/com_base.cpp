#include "platform/com_base.h"

#include "platform/platform_ids.h"

namespace velkorix {

volatile LONG activeObjectCount = 0;

UnknownBase::UnknownBase(IUnknown *outer)
    : owner_(outer ? outer : &inner_) {
    InterlockedIncrement(&activeObjectCount);
}

UnknownBase::~UnknownBase() { InterlockedDecrement(&activeObjectCount); }

HRESULT STDMETHODCALLTYPE UnknownBase::NonDelegatingQueryInterface(REFIID iid, void **object) {
    if (!object) return E_POINTER;
    if (iid == kIidUnknown) {
        *object = &inner_;
        NonDelegatingAddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE UnknownBase::NonDelegatingAddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&references_));
}

ULONG STDMETHODCALLTYPE UnknownBase::NonDelegatingRelease() {
    const LONG count = InterlockedDecrement(&references_);
    if (count == 0) {
        // A release from inside the destructor (an aggregated inner object
        // handing back a reference) must not destroy the object twice.
        references_ = 1;
        delete this;
        return 0;
    }
    return static_cast<ULONG>(count);
}

HRESULT UnknownBase::GetInterface(IUnknown *iface, void **object) {
    if (!object) return E_POINTER;
    *object = iface;
    iface->AddRef();
    return S_OK;
}

}  // namespace velkorix
