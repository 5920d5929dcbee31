// The module as an in-process COM server: the table of creatable classes, the
// class factory that DllGetClassObject hands out, the unload rule, and
// self-registration (COM server keys and the filter mapper).
#pragma once

#include "platform/com_base.h"
#include "platform.h"

namespace velkorix {

// What the filter mapper is told about one pin and its media types: the
// platform's own registration records.
using PinTypeRecord = REGPINTYPES;
using PinSetupRecord = REGFILTERPINS;

struct FilterSetupRecord {
    CLSID classId;
    const WCHAR *name;
    DWORD merit;
    UINT pinCount;
    const PinSetupRecord *pins;
};

// Creation function of a class: constructs one instance for the controlling
// outer object; on failure stores an error in `result` (when given) and
// returns null.
using CreateFunction = UnknownBase *(*)(IUnknown *outer, HRESULT *result);
// Called with TRUE when the module is loaded and FALSE when it is unloaded.
using LoadNotification = void (*)(BOOL loading, const CLSID *classId);

struct ServerClassEntry {
    const WCHAR *name;  // friendly name: the default value of the class key
    CLSID classId;
    CreateFunction create;
    LoadNotification loadNotification;  // null: none
    const FilterSetupRecord *filterSetup;  // null: not a filter
};

inline constexpr int ServerClassCount = 2;
extern const ServerClassEntry ServerClassTable[ServerClassCount];

// The decoding filter's registration record: merit normal + 200, two pins.
inline constexpr DWORD kDecoderMerit = 0x006000C8;
extern const FilterSetupRecord kDecoderSetup;

// LockServer count of the class factories; interlocked.
extern volatile LONG serverLockCount;

// Recorded by DllMain at process attach.
HINSTANCE ModuleInstance();
DWORD PlatformId();

// One class factory per DllGetClassObject call, for one table entry.
class ModuleClassFactory final : public IClassFactory {
public:
    explicit ModuleClassFactory(const ServerClassEntry *entry);
    ~ModuleClassFactory();
    ModuleClassFactory(const ModuleClassFactory &) = delete;
    ModuleClassFactory &operator=(const ModuleClassFactory &) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID iid, void **object) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

    const ServerClassEntry *Entry() const { return entry_; }

private:
    const ServerClassEntry *entry_;
    // The server is called from any thread ("Both"): the count is interlocked.
    volatile LONG references_ = 0;
};

// Registration (TRUE) or unregistration (FALSE) of every class in the table:
// COM server keys and the filter mapper.
HRESULT ModuleRegister(BOOL doRegister);
// Writes HKEY_CLASSES_ROOT\CLSID\{class} with its name and InprocServer32.
HRESULT RegisterClassServer(const ServerClassEntry &entry, const WCHAR *modulePath);
// Removes the class key tree; missing keys count as removed.
HRESULT UnregisterClassServer(const ServerClassEntry &entry);
// Deletes `subkey` of `parent` with everything below it.
HRESULT DeleteRegistryTree(HKEY parent, const char *subkey);

// An HRESULT for a Win32 error code that is a failure even for code 0.
inline HRESULT Win32Failure(DWORD code) {
    return static_cast<HRESULT>(0x80070000u | (static_cast<uint32_t>(code) & 0xFFFFu));
}
inline constexpr HRESULT kFileNotFoundResult = static_cast<HRESULT>(0x80070002u);

}  // namespace velkorix

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID *object);
STDAPI DllCanUnloadNow();
STDAPI DllRegisterServer();
STDAPI DllUnregisterServer();
