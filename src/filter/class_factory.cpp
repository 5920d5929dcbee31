// The class factory, DllGetClassObject over a class table, and the unload
// rule: the same for every module of the product.
#include <new>

#include "filter/server.h"
#include "platform/platform_ids.h"

namespace velkorix {

volatile LONG serverLockCount = 0;

ModuleClassFactory::ModuleClassFactory(const ServerClassEntry *entry) : entry_(entry) {
    InterlockedIncrement(&activeObjectCount);
}

ModuleClassFactory::~ModuleClassFactory() { InterlockedDecrement(&activeObjectCount); }

HRESULT STDMETHODCALLTYPE ModuleClassFactory::QueryInterface(REFIID iid, void **object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (iid == kIidUnknown || iid == kIidClassFactory) {
        *object = static_cast<IClassFactory *>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE ModuleClassFactory::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&references_));
}

ULONG STDMETHODCALLTYPE ModuleClassFactory::Release() {
    const LONG count = InterlockedDecrement(&references_);
    if (count == 0) {
        delete this;
        return 0;
    }
    return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE ModuleClassFactory::CreateInstance(IUnknown *outer, REFIID iid, void **object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    // An aggregating outer object may only ask for the inner IUnknown.
    if (outer && !(iid == kIidUnknown)) return E_NOINTERFACE;

    HRESULT result = S_OK;
    UnknownBase *created = entry_->create(outer, &result);
    if (!created) return FAILED(result) ? result : E_OUTOFMEMORY;
    if (FAILED(result)) {
        delete created;
        return result;
    }
    created->NonDelegatingAddRef();
    const HRESULT hr = created->NonDelegatingQueryInterface(iid, object);
    created->NonDelegatingRelease();
    return hr;
}

HRESULT STDMETHODCALLTYPE ModuleClassFactory::LockServer(BOOL lock) {
    if (lock)
        InterlockedIncrement(&serverLockCount);
    else
        InterlockedDecrement(&serverLockCount);
    return S_OK;
}

HRESULT GetServerClassObject(const ServerModuleRecord &module, REFCLSID clsid, REFIID iid, LPVOID *object) {
    if (!object) return E_POINTER;
    if (!(iid == kIidUnknown || iid == kIidClassFactory)) return E_NOINTERFACE;
    for (int i = 0; i < module.classCount; ++i) {
        const ServerClassEntry &entry = module.classes[i];
        if (!(clsid == entry.classId)) continue;
        auto *factory = new (std::nothrow) ModuleClassFactory(&entry);
        *object = factory;
        if (!factory) return E_OUTOFMEMORY;
        factory->AddRef();
        return S_OK;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CanUnloadServer() { return (serverLockCount > 0 || activeObjectCount != 0) ? S_FALSE : S_OK; }

}  // namespace velkorix
