// The module-level platform services of the portable stand-in: module and
// version information, character conversion, the registry, the COM run-time
// entry points and the filter mapper's interfaces. Names, layouts and values
// follow the platform's documented definitions; only what the module code
// calls exists. Behaviour is in-memory and controllable from tests through
// stand_in_control.h.
//
// Wide strings are wchar_t here as on the platform's headers; on Linux that
// type is 32 bits wide, which no module code depends on. The ANSI code page of
// the stand-in is ISO 8859-1: byte values map one to one to code points.
#pragma once

// Included at the end of platform.h.

#include <cstdint>

typedef wchar_t WCHAR;
typedef WCHAR *LPWSTR;
typedef const WCHAR *LPCWSTR;
typedef WCHAR OLECHAR;
typedef OLECHAR *LPOLESTR;
typedef const OLECHAR *LPCOLESTR;
typedef char CHAR;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef void *LPVOID;
typedef unsigned int UINT;
typedef uint16_t WORD;
typedef LONG LSTATUS;
typedef DWORD REGSAM;
typedef struct HINSTANCE__ *HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HKEY__ *HKEY;
typedef HKEY *PHKEY;

#define WINAPI
#define STDAPI extern "C" HRESULT STDMETHODCALLTYPE

#define MAX_PATH 260

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_NO_UNICODE_TRANSLATION 1113L

#define RPC_E_CHANGED_MODE ((HRESULT)0x80010106u)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154u)
#define CLASS_E_NOTLICENSED ((HRESULT)0x80040112u)

#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2

#define CP_ACP 0

#define HKEY_CLASSES_ROOT ((HKEY)(uintptr_t)0x80000000u)
#define REG_SZ 1
#define REG_BINARY 3
#define REG_DWORD 4
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F
#define MAXIMUM_ALLOWED 0x02000000

#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_LOCAL_SERVER 0x4

#define MERIT_NORMAL 0x00600000

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
};

// Module and thread services.
DWORD GetLastError();
void SetLastError(DWORD code);
DWORD GetModuleFileNameA(HMODULE module, LPSTR path, DWORD size);
BOOL GetVersionExA(OSVERSIONINFOA *info);
BOOL DisableThreadLibraryCalls(HMODULE module);

// Character conversion between the ANSI code page and wide strings.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR wide, int wideLength);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength, LPSTR text, int length,
                        LPCSTR defaultChar, BOOL *usedDefault);

// GUID text in registry form, braces included; returns the characters
// written with the terminator, 0 when `size` is too small.
int StringFromGUID2(REFGUID guid, LPOLESTR text, int size);

// The registry.
LSTATUS RegCreateKeyA(HKEY parent, LPCSTR subkey, PHKEY result);
LSTATUS RegOpenKeyExA(HKEY parent, LPCSTR subkey, DWORD options, REGSAM access, PHKEY result);
LSTATUS RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE *data, DWORD size);
LSTATUS RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, DWORD *nameLength, DWORD *reserved, LPSTR className,
                      DWORD *classLength, FILETIME *lastWrite);
LSTATUS RegDeleteKeyA(HKEY parent, LPCSTR subkey);
LSTATUS RegCloseKey(HKEY key);
LSTATUS RegQueryValueExA(HKEY key, LPCSTR name, DWORD *reserved, DWORD *type, BYTE *data, DWORD *size);
LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR name, DWORD *nameLength, DWORD *reserved, DWORD *type,
                      BYTE *data, DWORD *size);
LSTATUS RegDeleteValueA(HKEY key, LPCSTR name);

// The COM run-time.
struct IClassFactory : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID iid, void **object) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) = 0;

protected:
    ~IClassFactory() = default;
};

HRESULT CoInitialize(LPVOID reserved);
void CoUninitialize();
void CoFreeUnusedLibraries();
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown *outer, DWORD context, REFIID iid, void **object);

// The filter mapper's registration records and interfaces.
struct IMoniker;
struct IEnumMoniker;
struct IEnumRegFilters;

struct REGPINTYPES {
    const CLSID *clsMajorType;
    const CLSID *clsMinorType;
};

struct REGFILTERPINS {
    LPWSTR strName;
    BOOL bRendered;
    BOOL bOutput;
    BOOL bZero;
    BOOL bMany;
    const CLSID *clsConnectsToFilter;
    const WCHAR *strConnectsToPin;
    UINT nMediaTypes;
    const REGPINTYPES *lpMediaType;
};

struct REGFILTER2 {
    DWORD dwVersion;
    DWORD dwMerit;
    ULONG cPins;
    const REGFILTERPINS *rgPins;
};

// The filter mapper's classes and interfaces.
// CLSID_FilterMapper2 {CDA42200-BD88-11D0-BD4E-00A0C911CE86}
inline constexpr CLSID CLSID_FilterMapper2 = {0xCDA42200, 0xBD88, 0x11D0, {0xBD, 0x4E, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};
// IID_IFilterMapper2 {B79BB0B0-33C1-11D1-ABE1-00A0C905F375}
inline constexpr IID IID_IFilterMapper2 = {0xB79BB0B0, 0x33C1, 0x11D1, {0xAB, 0xE1, 0x00, 0xA0, 0xC9, 0x05, 0xF3, 0x75}};
// CLSID_FilterMapper {E436EBB2-524F-11CE-9F53-0020AF0BA770}
inline constexpr CLSID CLSID_FilterMapper = {0xE436EBB2, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
// IID_IFilterMapper {56A868A3-0AD4-11CE-B03A-0020AF0BA770}
inline constexpr IID IID_IFilterMapper = {0x56A868A3, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};

struct IFilterMapper2 : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateCategory(REFCLSID category, DWORD merit, LPCWSTR description) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnregisterFilter(const CLSID *category, LPCOLESTR instance, REFCLSID filter) = 0;
    virtual HRESULT STDMETHODCALLTYPE RegisterFilter(REFCLSID filter, LPCWSTR name, IMoniker **moniker,
                                                     const CLSID *category, LPCOLESTR instance,
                                                     const REGFILTER2 *registration) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumMatchingFilters(IEnumMoniker **result, DWORD flags, BOOL exactMatch,
                                                          DWORD merit, BOOL inputNeeded, DWORD inputTypes,
                                                          const GUID *inputTypeList, const void *inputMedium,
                                                          const CLSID *inputCategory, BOOL render,
                                                          BOOL outputNeeded, DWORD outputTypes,
                                                          const GUID *outputTypeList, const void *outputMedium,
                                                          const CLSID *outputCategory) = 0;

protected:
    ~IFilterMapper2() = default;
};

struct IFilterMapper : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE RegisterFilter(CLSID filter, LPCWSTR name, DWORD merit) = 0;
    virtual HRESULT STDMETHODCALLTYPE RegisterFilterInstance(CLSID filter, LPCWSTR name, CLSID *instance) = 0;
    virtual HRESULT STDMETHODCALLTYPE RegisterPin(CLSID filter, LPCWSTR name, BOOL rendered, BOOL output,
                                                  BOOL zero, BOOL many, CLSID connectsToFilter,
                                                  LPCWSTR connectsToPin) = 0;
    virtual HRESULT STDMETHODCALLTYPE RegisterPinType(CLSID filter, LPCWSTR pinName, CLSID majorType,
                                                      CLSID subType) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnregisterFilter(CLSID filter) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnregisterFilterInstance(CLSID instance) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnregisterPin(CLSID filter, LPCWSTR name) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumMatchingFilters(IEnumRegFilters **result, DWORD merit, BOOL inputNeeded,
                                                          CLSID inputMajor, CLSID inputSub, BOOL render,
                                                          BOOL outputNeeded, CLSID outputMajor,
                                                          CLSID outputSub) = 0;

protected:
    ~IFilterMapper() = default;
};
