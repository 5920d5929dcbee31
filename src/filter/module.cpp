// Module entry point, class table, class factory and the unload rule.
#include "filter/module.h"

#include <new>

#include "filter/audio_decoder_filter.h"
#include "filter/guids.h"
#include "filter/level_property_page.h"

namespace velkorix {
namespace {

// Any subtype of the audio major type, on both pins.
const PinTypeRecord kAudioPinTypes[] = {{&kMediaTypeAudio, &kNullGuid}};

const PinSetupRecord kDecoderPins[] = {
    {const_cast<LPWSTR>(L"Input"), FALSE, FALSE, FALSE, FALSE, &kNullGuid, L"Output", 1, kAudioPinTypes},
    {const_cast<LPWSTR>(L"Output"), FALSE, TRUE, FALSE, FALSE, &kNullGuid, L"Input", 1, kAudioPinTypes},
};

HINSTANCE moduleInstance = nullptr;
DWORD platformId = 1;

}  // namespace

const FilterSetupRecord kDecoderSetup = {kClsidVelkorixDecoder, L"Velkorix Decoder", kDecoderMerit, 2, kDecoderPins};

const ServerClassEntry ServerClassTable[ServerClassCount] = {
    {L"Velkorix Decoder", kClsidVelkorixDecoder, &AudioDecoderFilter::Create, nullptr, &kDecoderSetup},
    {L"Video Contrast Property Page", kClsidLevelPropertyPage, &LevelPropertyPage::Create, nullptr, nullptr},
};

volatile LONG serverLockCount = 0;

HINSTANCE ModuleInstance() { return moduleInstance; }
DWORD PlatformId() { return platformId; }

// ---- ModuleClassFactory ----

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

}  // namespace velkorix

using namespace velkorix;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    switch (reason) {
        case DLL_PROCESS_ATTACH: {
            DisableThreadLibraryCalls(instance);
            platformId = 1;
            OSVERSIONINFOA version;
            std::memset(&version, 0, sizeof(version));
            version.dwOSVersionInfoSize = sizeof(version);
            if (GetVersionExA(&version)) platformId = version.dwPlatformId;
            moduleInstance = instance;
            for (const ServerClassEntry &entry : ServerClassTable)
                if (entry.loadNotification) entry.loadNotification(TRUE, &entry.classId);
            break;
        }
        case DLL_PROCESS_DETACH:
            for (const ServerClassEntry &entry : ServerClassTable)
                if (entry.loadNotification) entry.loadNotification(FALSE, &entry.classId);
            break;
        default: break;
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID *object) {
    if (!object) return E_POINTER;
    if (!(iid == kIidUnknown || iid == kIidClassFactory)) return E_NOINTERFACE;
    for (const ServerClassEntry &entry : ServerClassTable) {
        if (!(clsid == entry.classId)) continue;
        auto *factory = new (std::nothrow) ModuleClassFactory(&entry);
        *object = factory;
        if (!factory) return E_OUTOFMEMORY;
        factory->AddRef();
        return S_OK;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return (serverLockCount > 0 || activeObjectCount != 0) ? S_FALSE : S_OK; }

STDAPI DllRegisterServer() { return ModuleRegister(TRUE); }

STDAPI DllUnregisterServer() { return ModuleRegister(FALSE); }
