// Self-registration of a module's class table: the COM server keys of every
// class, the file types of its source filters, and the filters' entries in
// the platform's filter mapper.
#include <cstring>
#include <strings.h>

#include "filter/server.h"
#include "platform/platform_ids.h"

namespace velkorix {
namespace {

// Longest registry text the module writes: a module path of MAX_PATH UTF-16
// units can take two bytes per unit in a double-byte ANSI code page.
constexpr int kAnsiCapacity = 2 * MAX_PATH + 16;

// ANSI text (the registry's code page) of a UTF-16 string; 0 when the text
// does not fit or cannot be converted.
DWORD ToAnsi(const WCHAR *wide, char (&ansi)[kAnsiCapacity]) {
    const int written = WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, kAnsiCapacity, nullptr, nullptr);
    if (written <= 0) {
        const DWORD error = GetLastError();
        return error ? error : static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER);
    }
    return ERROR_SUCCESS;
}

// "CLSID\{...}" for a class identifier.
DWORD ClassKeyPath(const CLSID &classId, char (&path)[kAnsiCapacity]) {
    WCHAR text[40];
    if (StringFromGUID2(classId, text, 40) == 0) return ERROR_INSUFFICIENT_BUFFER;
    char guid[kAnsiCapacity];
    const DWORD error = ToAnsi(text, guid);
    if (error != ERROR_SUCCESS) return error;
    static const char kPrefix[] = "CLSID\\";
    const std::size_t prefix = sizeof(kPrefix) - 1, length = std::strlen(guid);
    if (prefix + length + 1 > sizeof(path)) return ERROR_INSUFFICIENT_BUFFER;
    std::memcpy(path, kPrefix, prefix);
    std::memcpy(path + prefix, guid, length + 1);
    return ERROR_SUCCESS;
}

LSTATUS SetString(HKEY key, const char *name, const char *value) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value),
                          static_cast<DWORD>(std::strlen(value) + 1));
}

// A result of "not found" counts as success for the mapper: unregistering
// what was never registered leaves the same state.
HRESULT MapperResult(HRESULT hr) { return hr == kFileNotFoundResult ? S_OK : hr; }

HRESULT MapperStep(IFilterMapper2 *mapper, const FilterSetupRecord &setup, BOOL doRegister) {
    HRESULT hr = mapper->UnregisterFilter(nullptr, nullptr, setup.classId);
    if (doRegister) {
        // Whatever was there before is replaced: the unregistration's result
        // does not matter.
        REGFILTER2 registration;
        std::memset(&registration, 0, sizeof(registration));
        registration.dwVersion = 1;
        registration.dwMerit = setup.merit;
        registration.cPins = setup.pinCount;
        registration.rgPins = setup.pins;
        hr = mapper->RegisterFilter(setup.classId, setup.name, nullptr, nullptr, nullptr, &registration);
    }
    return MapperResult(hr);
}

HRESULT MapperStep(IFilterMapper *mapper, const FilterSetupRecord &setup, BOOL doRegister) {
    HRESULT hr = MapperResult(mapper->UnregisterFilter(setup.classId));
    if (!doRegister) return hr;
    // As with IFilterMapper2, a failing removal of an older registration does
    // not stop the new one.
    hr = MapperResult(mapper->RegisterFilter(setup.classId, setup.name, setup.merit));
    for (UINT p = 0; p < setup.pinCount && SUCCEEDED(hr); ++p) {
        const PinSetupRecord &pin = setup.pins[p];
        const CLSID connectsTo = pin.clsConnectsToFilter ? *pin.clsConnectsToFilter : kNullGuid;
        hr = MapperResult(mapper->RegisterPin(setup.classId, pin.strName, pin.bRendered, pin.bOutput, pin.bZero,
                                              pin.bMany, connectsTo, pin.strConnectsToPin));
        for (UINT t = 0; t < pin.nMediaTypes && SUCCEEDED(hr); ++t) {
            const PinTypeRecord &type = pin.lpMediaType[t];
            const CLSID major = type.clsMajorType ? *type.clsMajorType : kNullGuid;
            const CLSID minor = type.clsMinorType ? *type.clsMinorType : kNullGuid;
            hr = MapperResult(mapper->RegisterPinType(setup.classId, pin.strName, major, minor));
        }
    }
    return hr;
}

// Runs the mapper step for every filter of the table, stopping at the first
// failure.
template <typename Mapper>
HRESULT MapperSteps(Mapper *mapper, const ServerModuleRecord &module, BOOL doRegister) {
    HRESULT hr = S_OK;
    for (int i = 0; i < module.classCount; ++i) {
        const ServerClassEntry &entry = module.classes[i];
        if (!entry.filterSetup) continue;
        hr = MapperStep(mapper, *entry.filterSetup, doRegister);
        if (FAILED(hr)) break;
    }
    return hr;
}

}  // namespace

HRESULT DeleteRegistryTree(HKEY parent, const char *subkey) {
    if (!subkey || !*subkey) return E_FAIL;
    HKEY key = nullptr;
    // A key that is not there is as good as deleted. Any other refusal (access
    // denied, for one) is a failure: the caller would enumerate the key again
    // and again.
    const LSTATUS opened = RegOpenKeyExA(parent, subkey, 0, MAXIMUM_ALLOWED, &key);
    if (opened == ERROR_FILE_NOT_FOUND) return S_OK;
    if (opened != ERROR_SUCCESS) return Win32Failure(static_cast<DWORD>(opened));
    // The walk always takes the first child and removes it. A child that is
    // still there afterwards (its deletion failed, or it opened as "not found"
    // while enumeration still lists it) would come back forever: it ends the
    // walk with a failure.
    char child[MAX_PATH + 1];
    char previous[MAX_PATH + 1] = "";
    HRESULT hr = S_OK;
    for (;;) {
        DWORD length = sizeof(child);
        if (RegEnumKeyExA(key, 0, child, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (previous[0] && std::strcmp(child, previous) == 0) {
            hr = E_FAIL;
            break;
        }
        hr = DeleteRegistryTree(key, child);
        if (FAILED(hr)) break;
        std::memcpy(previous, child, sizeof(previous));
    }
    RegCloseKey(key);
    if (FAILED(hr)) return hr;
    const LSTATUS status = RegDeleteKeyA(parent, subkey);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return Win32Failure(static_cast<DWORD>(status));
    return S_OK;
}

HRESULT RegisterClassServer(const ServerClassEntry &entry, const WCHAR *modulePath) {
    char path[kAnsiCapacity];
    char name[kAnsiCapacity];
    char module[kAnsiCapacity];
    DWORD error = ClassKeyPath(entry.classId, path);
    if (error == ERROR_SUCCESS) error = ToAnsi(entry.name, name);
    if (error == ERROR_SUCCESS) error = ToAnsi(modulePath, module);
    if (error != ERROR_SUCCESS) return Win32Failure(error);

    HKEY classKey = nullptr;
    LSTATUS status = RegCreateKeyA(HKEY_CLASSES_ROOT, path, &classKey);
    if (status != ERROR_SUCCESS) return Win32Failure(static_cast<DWORD>(status));
    status = SetString(classKey, nullptr, name);
    HKEY serverKey = nullptr;
    if (status == ERROR_SUCCESS) status = RegCreateKeyA(classKey, "InprocServer32", &serverKey);
    if (status == ERROR_SUCCESS) status = SetString(serverKey, nullptr, module);
    if (status == ERROR_SUCCESS) status = SetString(serverKey, "ThreadingModel", "Both");
    if (serverKey) RegCloseKey(serverKey);
    RegCloseKey(classKey);
    return status == ERROR_SUCCESS ? S_OK : Win32Failure(static_cast<DWORD>(status));
}

HRESULT UnregisterClassServer(const ServerClassEntry &entry) {
    char path[kAnsiCapacity];
    const DWORD error = ClassKeyPath(entry.classId, path);
    if (error != ERROR_SUCCESS) return Win32Failure(error);
    return DeleteRegistryTree(HKEY_CLASSES_ROOT, path);
}

namespace {

// "Media Type\Extensions\.ext" for a file type; false when the extension
// is not ".something" without backslashes or does not fit.
bool FileTypeKeyPath(const FileTypeRecord &type, char (&path)[kAnsiCapacity]) {
    const char *extension = type.extension;
    if (!extension || extension[0] != '.' || !extension[1] || std::strchr(extension, '\\')) return false;
    const std::size_t prefix = sizeof(kMediaTypeExtensionsKey) - 1, length = std::strlen(extension);
    if (prefix + 1 + length + 1 > sizeof(path)) return false;
    std::memcpy(path, kMediaTypeExtensionsKey, prefix);
    path[prefix] = '\\';
    std::memcpy(path + prefix + 1, extension, length + 1);
    return true;
}

// The class identifier in registry form, in the ANSI code page.
DWORD ClassText(const CLSID &classId, char (&text)[kAnsiCapacity]) {
    WCHAR wide[40];
    if (StringFromGUID2(classId, wide, 40) == 0) return ERROR_INSUFFICIENT_BUFFER;
    return ToAnsi(wide, text);
}

constexpr char kSourceFilterValue[] = "Source Filter";

}  // namespace

HRESULT RegisterFileType(const FileTypeRecord &type) {
    char path[kAnsiCapacity];
    char classText[kAnsiCapacity];
    if (!FileTypeKeyPath(type, path)) return E_INVALIDARG;
    const DWORD error = ClassText(type.sourceFilter, classText);
    if (error != ERROR_SUCCESS) return Win32Failure(error);
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyA(HKEY_CLASSES_ROOT, path, &key);
    if (status != ERROR_SUCCESS) return Win32Failure(static_cast<DWORD>(status));
    status = SetString(key, kSourceFilterValue, classText);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? S_OK : Win32Failure(static_cast<DWORD>(status));
}

HRESULT UnregisterFileType(const FileTypeRecord &type) {
    char path[kAnsiCapacity];
    char classText[kAnsiCapacity];
    if (!FileTypeKeyPath(type, path)) return E_INVALIDARG;
    const DWORD error = ClassText(type.sourceFilter, classText);
    if (error != ERROR_SUCCESS) return Win32Failure(error);
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExA(HKEY_CLASSES_ROOT, path, 0, KEY_READ | KEY_WRITE, &key);
    if (status == ERROR_FILE_NOT_FOUND) return S_OK;
    if (status != ERROR_SUCCESS) return Win32Failure(static_cast<DWORD>(status));

    // Our value only: another program may have taken the extension since.
    char value[kAnsiCapacity] = {};
    DWORD size = sizeof(value) - 1, valueType = 0;
    status = RegQueryValueExA(key, kSourceFilterValue, nullptr, &valueType, reinterpret_cast<BYTE *>(value), &size);
    if (status == ERROR_SUCCESS && valueType == REG_SZ && strcasecmp(value, classText) == 0) {
        status = RegDeleteValueA(key, kSourceFilterValue);
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
            RegCloseKey(key);
            return Win32Failure(static_cast<DWORD>(status));
        }
    }
    // The key goes when nothing is left in it.
    char name[MAX_PATH + 1];
    DWORD nameLength = sizeof(name);
    const bool hasValue =
        RegEnumValueA(key, 0, name, &nameLength, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    nameLength = sizeof(name);
    const bool hasSubkey =
        RegEnumKeyExA(key, 0, name, &nameLength, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    if (hasValue || hasSubkey) return S_OK;
    status = RegDeleteKeyA(HKEY_CLASSES_ROOT, path);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return Win32Failure(static_cast<DWORD>(status));
    return S_OK;
}

HRESULT RegisterServer(const ServerModuleRecord &module, HINSTANCE instance, BOOL doRegister) {
    // The module's own path, as the server keys name it.
    char ansiPath[MAX_PATH + 1];
    SetLastError(ERROR_SUCCESS);
    const DWORD length = GetModuleFileNameA(instance, ansiPath, MAX_PATH);
    if (length == 0) return Win32Failure(GetLastError());
    // A path that filled the buffer may have been cut short: registering it
    // would name a file that does not exist.
    if (length >= MAX_PATH) return Win32Failure(ERROR_INSUFFICIENT_BUFFER);
    ansiPath[length] = 0;
    WCHAR modulePath[MAX_PATH + 1];
    if (MultiByteToWideChar(CP_ACP, 0, ansiPath, -1, modulePath, MAX_PATH + 1) == 0)
        return Win32Failure(GetLastError());

    if (doRegister) {
        for (int i = 0; i < module.classCount; ++i) {
            const HRESULT hr = RegisterClassServer(module.classes[i], modulePath);
            if (FAILED(hr)) return hr;
        }
        // The file types name classes whose keys now exist.
        for (int i = 0; i < module.fileTypeCount; ++i) {
            const HRESULT hr = RegisterFileType(module.fileTypes[i]);
            if (FAILED(hr)) return hr;
        }
    }

    // COM may already be initialised on this thread in another mode; only a
    // successful initialisation is undone below.
    const HRESULT initialized = CoInitialize(nullptr);

    IFilterMapper2 *mapper2 = nullptr;
    IFilterMapper *mapper = nullptr;
    HRESULT hr = CoCreateInstance(kClsidFilterMapper2, nullptr, CLSCTX_INPROC_SERVER, kIidFilterMapper2,
                                  reinterpret_cast<void **>(&mapper2));
    if (FAILED(hr)) {
        mapper2 = nullptr;
        hr = CoCreateInstance(kClsidFilterMapper, nullptr, CLSCTX_INPROC_SERVER, kIidFilterMapper,
                              reinterpret_cast<void **>(&mapper));
        if (FAILED(hr)) mapper = nullptr;
    }
    if (mapper2) {
        hr = MapperSteps(mapper2, module, doRegister);
        mapper2->Release();
    } else if (mapper) {
        hr = MapperSteps(mapper, module, doRegister);
        mapper->Release();
    }

    CoFreeUnusedLibraries();
    if (SUCCEEDED(initialized)) CoUninitialize();

    if (FAILED(hr) || doRegister) return hr;
    // The file types go before the classes they name.
    for (int i = 0; i < module.fileTypeCount; ++i) {
        hr = UnregisterFileType(module.fileTypes[i]);
        if (FAILED(hr)) return hr;
    }
    for (int i = 0; i < module.classCount; ++i) {
        hr = UnregisterClassServer(module.classes[i]);
        if (FAILED(hr)) break;
    }
    return hr;
}

}  // namespace velkorix
