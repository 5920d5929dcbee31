// What makes a module an in-process COM server, whichever classes it serves:
// the records of a class table, the class factory that DllGetClassObject
// hands out, the unload rule, and self-registration of a table (COM server
// keys, the filter mapper, and the file types a source filter opens). The
// decoder module (module.h) and the stream source module each have their
// own table and entry points over these.
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

// A file type whose files a source filter opens: the graph builder's
// RenderFile and AddSourceFilter look the file's extension up under
// HKEY_CLASSES_ROOT\Media Type\Extensions and create the class named by the
// key's "Source Filter" value.
struct FileTypeRecord {
    const char *extension;  // with its dot: ".vks"
    CLSID sourceFilter;
};

// What one module registers: its class table and its file types.
struct ServerModuleRecord {
    const ServerClassEntry *classes;
    int classCount;
    const FileTypeRecord *fileTypes;
    int fileTypeCount;
};

// LockServer count of the module's class factories; interlocked.
extern volatile LONG serverLockCount;

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

// DllGetClassObject over a class table: a new factory for the entry of
// `clsid` (IUnknown or IClassFactory only).
HRESULT GetServerClassObject(const ServerModuleRecord &module, REFCLSID clsid, REFIID iid, LPVOID *object);
// DllCanUnloadNow: S_OK only when no object of the module lives and no
// server lock is held.
HRESULT CanUnloadServer();

// Registration (TRUE) or unregistration (FALSE) of a module loaded as
// `instance`: the COM server keys of every class, the file types and the
// filter mapper's entries of the classes that are filters.
HRESULT RegisterServer(const ServerModuleRecord &module, HINSTANCE instance, BOOL doRegister);
// Writes HKEY_CLASSES_ROOT\CLSID\{class} with its name and InprocServer32.
HRESULT RegisterClassServer(const ServerClassEntry &entry, const WCHAR *modulePath);
// Removes the class key tree; missing keys count as removed.
HRESULT UnregisterClassServer(const ServerClassEntry &entry);
// Writes the file type's "Source Filter" value (its key is created when
// missing).
HRESULT RegisterFileType(const FileTypeRecord &type);
// Removes what RegisterFileType wrote: the "Source Filter" value while it
// still names the type's class (another program's value stays), then the
// extension's key when nothing else is left in it.
HRESULT UnregisterFileType(const FileTypeRecord &type);
// Deletes `subkey` of `parent` with everything below it.
HRESULT DeleteRegistryTree(HKEY parent, const char *subkey);

// The key of a file type's extension below HKEY_CLASSES_ROOT.
inline constexpr char kMediaTypeExtensionsKey[] = "Media Type\\Extensions";

// An HRESULT for a Win32 error code that is a failure even for code 0.
inline HRESULT Win32Failure(DWORD code) {
    return static_cast<HRESULT>(0x80070000u | (static_cast<uint32_t>(code) & 0xFFFFu));
}
inline constexpr HRESULT kFileNotFoundResult = static_cast<HRESULT>(0x80070002u);

}  // namespace velkorix
