// Test control of the portable stand-in's module-level services: what the
// in-memory registry, filter mapper, COM run-time and module services hold,
// and failures to inject into them. Not part of the platform's interface.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform.h"

namespace velkorix::standin {

// Puts every service below back into its initial state: empty registry and
// mapper, no injected failures, COM not initialised, default module path.
void Reset();

// ---- Module services ----

// The path GetModuleFileNameA reports (default: the running program).
void SetModuleFileName(const std::string &path);
// Makes GetModuleFileNameA fail with `error` (0: report success again).
void FailModuleFileName(DWORD error);
// What GetVersionExA reports: success with the platform identifier, or failure.
void SetVersionInfo(bool succeeds, DWORD platformId);
// The module handle last passed to DisableThreadLibraryCalls, and how often it was called.
HMODULE ThreadCallsDisabledFor();
int ThreadCallsDisabledCount();

// ---- Registry (paths below HKEY_CLASSES_ROOT, backslash-separated) ----

enum class RegistryCall { CreateKey, OpenKey, SetValue, EnumKey, DeleteKey, QueryValue, EnumValue, DeleteValue };
// The call of that kind after `skip` successful ones fails with `error`.
void FailRegistryCall(RegistryCall call, int skip, LSTATUS error);
// RegDeleteKeyA refuses this key with ERROR_ACCESS_DENIED.
void ProtectRegistryKey(const std::string &path);
// RegOpenKeyExA refuses this existing key with `error` on every attempt, as
// for a key whose security denies the caller; after `limit` refusals (-1:
// never) the key opens again. RegistryOpenRefusals counts the refusals.
void RefuseRegistryOpen(const std::string &path, LSTATUS error, int limit = -1);
int RegistryOpenRefusals(const std::string &path);
bool RegistryKeyExists(const std::string &path);
// A string value ("" names the default value); false when absent.
bool RegistryString(const std::string &path, const std::string &name, std::string *value, DWORD *type = nullptr);
std::vector<std::string> RegistrySubkeys(const std::string &path);
std::vector<std::string> RegistryValueNames(const std::string &path);
// Handles opened or created and not yet closed.
int OpenRegistryHandles();

// ---- COM run-time ----

// What CoInitialize answers (default: S_OK, then S_FALSE while initialised).
void SetCoInitializeResult(HRESULT result);
// Successful CoInitialize calls minus CoUninitialize calls.
int ComInitializeDepth();
int CoFreeUnusedLibrariesCalls();

struct CreationRecord {
    CLSID clsid;
    DWORD context;
    IID iid;
    bool aggregated;
};
std::vector<CreationRecord> CreationLog();
// Makes creation of CLSID_FilterMapper2 and/or CLSID_FilterMapper fail.
void FailMapperCreation(bool mapper2, bool mapper, HRESULT result = REGDB_E_CLASSNOTREG);
// Mapper objects created and not yet released.
int LiveMapperObjects();

// ---- Filter mapper ----

struct MapperPinType {
    CLSID major;
    CLSID minor;
};
struct MapperPin {
    std::wstring name;
    bool rendered = false, output = false, zero = false, many = false;
    CLSID connectsToFilter{};
    std::wstring connectsToPin;
    std::vector<MapperPinType> types;
};
struct MapperFilter {
    std::wstring name;
    DWORD merit = 0;
    std::vector<MapperPin> pins;
};
std::vector<std::pair<CLSID, MapperFilter>> MapperFilters();

enum class MapperCall {
    Unregister2,      // IFilterMapper2::UnregisterFilter
    Register2,        // IFilterMapper2::RegisterFilter
    Unregister,       // IFilterMapper::UnregisterFilter
    RegisterFilter,   // IFilterMapper::RegisterFilter
    RegisterPin,      // IFilterMapper::RegisterPin
    RegisterPinType,  // IFilterMapper::RegisterPinType
};
// The call of that kind after `skip` answered ones returns `result` and
// changes nothing.
void FailMapperCall(MapperCall call, int skip, HRESULT result);
// Every mapper call in order, e.g. "Register2 Velkorix Decoder".
std::vector<std::string> MapperCallLog();

}  // namespace velkorix::standin
