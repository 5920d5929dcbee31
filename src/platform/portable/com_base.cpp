#include "com_base.h"

#include "common/debug_channel.h"

void OutputDebugStringA(const char *text) { velkorix::DebugOutput(text); }

namespace velkorix {

volatile LONG activeObjectCount = 0;

UnknownBase::UnknownBase(IUnknown *outer)
    : owner_(outer ? outer : &inner_) {
    InterlockedIncrement(&activeObjectCount);
}

UnknownBase::~UnknownBase() { InterlockedDecrement(&activeObjectCount); }

HRESULT STDMETHODCALLTYPE UnknownBase::NonDelegatingQueryInterface(REFIID iid, void **object) {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown) {
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
        // Guard against re-entrant releases during destruction.
        references_ = 1;
        delete this;
        return 0;
    }
    return count > 1 ? static_cast<ULONG>(count) : 1u;
}

HRESULT UnknownBase::GetInterface(IUnknown *iface, void **object) {
    if (!object) return E_POINTER;
    *object = iface;
    iface->AddRef();
    return S_OK;
}

}  // namespace velkorix
