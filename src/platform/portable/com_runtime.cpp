// The stand-in's COM run-time and filter mapper. CoCreateInstance knows the
// two filter-mapper classes only; both mapper interfaces work on one
// in-memory store of filter registrations.
#include <map>
#include <mutex>

#include "platform/platform_ids.h"
#include "stand_in_control.h"
#include "stand_in_internal.h"

namespace velkorix::standin {
namespace {

struct GuidLess {
    bool operator()(const GUID &a, const GUID &b) const { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }
};

struct CallInjection {
    int skip = -1;
    HRESULT result = S_OK;
};

struct ComState {
    std::recursive_mutex mutex;
    HRESULT initializeResult = S_OK;
    bool initializeResultSet = false;
    int depth = 0;
    int freeUnusedCalls = 0;
    std::vector<CreationRecord> creations;
    HRESULT mapper2Failure = S_OK;
    HRESULT mapperFailure = S_OK;
    int liveMappers = 0;
    std::map<CLSID, MapperFilter, GuidLess> filters;
    std::vector<CLSID> order;  // registration order, for listing
    std::map<MapperCall, CallInjection> injections;
    std::vector<std::string> log;
};

ComState &State() {
    static ComState state;
    return state;
}

std::string Narrow(LPCWSTR text) {
    std::string out;
    for (const WCHAR *p = text ? text : L""; *p; ++p) out += static_cast<char>(*p <= 0x7F ? *p : '?');
    return out;
}

// Logs the call and answers an injected failure for it, if one is due.
bool Injected(ComState &s, MapperCall call, const std::string &entry, HRESULT *result) {
    s.log.push_back(entry);
    auto it = s.injections.find(call);
    if (it == s.injections.end() || it->second.skip < 0) return false;
    if (it->second.skip > 0) {
        --it->second.skip;
        return false;
    }
    *result = it->second.result;
    s.injections.erase(it);
    return true;
}

void Remember(ComState &s, const CLSID &clsid, MapperFilter filter) {
    if (!s.filters.count(clsid)) s.order.push_back(clsid);
    s.filters[clsid] = std::move(filter);
}

HRESULT Forget(ComState &s, const CLSID &clsid) {
    if (!s.filters.erase(clsid)) return static_cast<HRESULT>(0x80070002u);  // ERROR_FILE_NOT_FOUND
    for (auto it = s.order.begin(); it != s.order.end(); ++it) {
        if (*it == clsid) {
            s.order.erase(it);
            break;
        }
    }
    return S_OK;
}

template <typename Interface>
class MapperObject : public Interface {
public:
    MapperObject(const IID &iid) : iid_(iid) {
        ComState &s = State();
        std::lock_guard<std::recursive_mutex> lock(s.mutex);
        ++s.liveMappers;
    }
    virtual ~MapperObject() {
        ComState &s = State();
        std::lock_guard<std::recursive_mutex> lock(s.mutex);
        --s.liveMappers;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override {
        if (!object) return E_POINTER;
        if (iid == kIidUnknown || iid == iid_) {
            *object = static_cast<Interface *>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG count = InterlockedDecrement(&references_);
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }

private:
    IID iid_;
    volatile LONG references_ = 0;
};

class FilterMapper2 final : public MapperObject<IFilterMapper2> {
public:
    FilterMapper2() : MapperObject(kIidFilterMapper2) {}

    HRESULT STDMETHODCALLTYPE CreateCategory(REFCLSID, DWORD, LPCWSTR) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE UnregisterFilter(const CLSID *, LPCOLESTR, REFCLSID filter) override {
        ComState &s = State();
        std::lock_guard<std::recursive_mutex> lock(s.mutex);
        HRESULT result = S_OK;
        if (Injected(s, MapperCall::Unregister2, "Unregister2", &result)) return result;
        return Forget(s, filter);
    }

    HRESULT STDMETHODCALLTYPE RegisterFilter(REFCLSID filter, LPCWSTR name, IMoniker **, const CLSID *, LPCOLESTR,
                                             const REGFILTER2 *registration) override {
        ComState &s = State();
        std::lock_guard<std::recursive_mutex> lock(s.mutex);
        HRESULT result = S_OK;
        if (Injected(s, MapperCall::Register2, "Register2 " + Narrow(name), &result)) return result;
        if (!name || !registration) return E_POINTER;
        if (registration->dwVersion != 1) return E_NOTIMPL;  // the stand-in keeps version-1 records only
        if (registration->cPins > 0 && !registration->rgPins) return E_POINTER;
        MapperFilter entry;
        entry.name = name;
        entry.merit = registration->dwMerit;
        for (ULONG p = 0; p < registration->cPins; ++p) {
            const REGFILTERPINS &source = registration->rgPins[p];
            MapperPin pin;
            pin.name = source.strName ? source.strName : L"";
            pin.rendered = source.bRendered != FALSE;
            pin.output = source.bOutput != FALSE;
            pin.zero = source.bZero != FALSE;
            pin.many = source.bMany != FALSE;
            pin.connectsToFilter = source.clsConnectsToFilter ? *source.clsConnectsToFilter : GUID_NULL;
            pin.connectsToPin = source.strConnectsToPin ? source.strConnectsToPin : L"";
            for (UINT t = 0; t < source.nMediaTypes; ++t) {
                const REGPINTYPES &type = source.lpMediaType[t];
                pin.types.push_back({type.clsMajorType ? *type.clsMajorType : GUID_NULL,
                                     type.clsMinorType ? *type.clsMinorType : GUID_NULL});
            }
            entry.pins.push_back(std::move(pin));
        }
        Remember(s, filter, std::move(entry));
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE EnumMatchingFilters(IEnumMoniker **, DWORD, BOOL, DWORD, BOOL, DWORD, const GUID *,
                                                  const void *, const CLSID *, BOOL, BOOL, DWORD, const GUID *,
                                                  const void *, const CLSID *) override {
        return E_NOTIMPL;
    }
};

class FilterMapper final : public MapperObject<IFilterMapper> {
public:
    FilterMapper() : MapperObject(kIidFilterMapper) {}

    HRESULT STDMETHODCALLTYPE RegisterFilter(CLSID filter, LPCWSTR name, DWORD merit) override {
        ComState &s = State();
        std::lock_guard<std::recursive_mutex> lock(s.mutex);
        HRESULT result = S_OK;
        if (Injected(s, MapperCall::RegisterFilter, "RegisterFilter " + Narrow(name), &result)) return result;
        if (!name) return E_POINTER;
        MapperFilter entry;
        entry.name = name;
        entry.merit = merit;
        Remember(s, filter, std::move(entry));
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE RegisterFilterInstance(CLSID, LPCWSTR, CLSID *) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE RegisterPin(CLSID filter, LPCWSTR name, BOOL rendered, BOOL output, BOOL zero, BOOL many,
                                          CLSID connectsToFilter, LPCWSTR connectsToPin) override {
        ComState &s = State();
        std::lock_guard<std::recursive_mutex> lock(s.mutex);
        HRESULT result = S_OK;
        if (Injected(s, MapperCall::RegisterPin, "RegisterPin " + Narrow(name), &result)) return result;
        auto it = s.filters.find(filter);
        if (it == s.filters.end()) return static_cast<HRESULT>(0x80070002u);
        if (!name) return E_POINTER;
        MapperPin pin;
        pin.name = name;
        pin.rendered = rendered != FALSE;
        pin.output = output != FALSE;
        pin.zero = zero != FALSE;
        pin.many = many != FALSE;
        pin.connectsToFilter = connectsToFilter;
        pin.connectsToPin = connectsToPin ? connectsToPin : L"";
        it->second.pins.push_back(std::move(pin));
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE RegisterPinType(CLSID filter, LPCWSTR pinName, CLSID major, CLSID minor) override {
        ComState &s = State();
        std::lock_guard<std::recursive_mutex> lock(s.mutex);
        HRESULT result = S_OK;
        if (Injected(s, MapperCall::RegisterPinType, "RegisterPinType " + Narrow(pinName), &result)) return result;
        auto it = s.filters.find(filter);
        if (it == s.filters.end() || !pinName) return static_cast<HRESULT>(0x80070002u);
        for (MapperPin &pin : it->second.pins) {
            if (pin.name == pinName) {
                pin.types.push_back({major, minor});
                return S_OK;
            }
        }
        return static_cast<HRESULT>(0x80070002u);
    }

    HRESULT STDMETHODCALLTYPE UnregisterFilter(CLSID filter) override {
        ComState &s = State();
        std::lock_guard<std::recursive_mutex> lock(s.mutex);
        HRESULT result = S_OK;
        if (Injected(s, MapperCall::Unregister, "Unregister", &result)) return result;
        return Forget(s, filter);
    }

    HRESULT STDMETHODCALLTYPE UnregisterFilterInstance(CLSID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnregisterPin(CLSID, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumMatchingFilters(IEnumRegFilters **, DWORD, BOOL, CLSID, CLSID, BOOL, BOOL, CLSID,
                                                  CLSID) override {
        return E_NOTIMPL;
    }
};

}  // namespace

void ResetComRuntime() {
    ComState &s = State();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    s.initializeResult = S_OK;
    s.initializeResultSet = false;
    s.depth = 0;
    s.freeUnusedCalls = 0;
    s.creations.clear();
    s.mapper2Failure = S_OK;
    s.mapperFailure = S_OK;
    s.filters.clear();
    s.order.clear();
    s.injections.clear();
    s.log.clear();
}

void SetCoInitializeResult(HRESULT result) {
    ComState &s = State();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    s.initializeResult = result;
    s.initializeResultSet = true;
}

int ComInitializeDepth() {
    ComState &s = State();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    return s.depth;
}

int CoFreeUnusedLibrariesCalls() {
    ComState &s = State();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    return s.freeUnusedCalls;
}

std::vector<CreationRecord> CreationLog() {
    ComState &s = State();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    return s.creations;
}

void FailMapperCreation(bool mapper2, bool mapper, HRESULT result) {
    ComState &s = State();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    s.mapper2Failure = mapper2 ? result : S_OK;
    s.mapperFailure = mapper ? result : S_OK;
}

int LiveMapperObjects() {
    ComState &s = State();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    return s.liveMappers;
}

std::vector<std::pair<CLSID, MapperFilter>> MapperFilters() {
    ComState &s = State();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    std::vector<std::pair<CLSID, MapperFilter>> out;
    for (const CLSID &clsid : s.order) out.emplace_back(clsid, s.filters.at(clsid));
    return out;
}

void FailMapperCall(MapperCall call, int skip, HRESULT result) {
    ComState &s = State();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    s.injections[call] = CallInjection{skip < 0 ? 0 : skip, result};
}

std::vector<std::string> MapperCallLog() {
    ComState &s = State();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    return s.log;
}

}  // namespace velkorix::standin

using namespace velkorix::standin;

HRESULT CoInitialize(LPVOID) {
    ComState &s = State();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    if (s.initializeResultSet && FAILED(s.initializeResult)) return s.initializeResult;
    const HRESULT result = s.depth > 0 ? S_FALSE : S_OK;
    ++s.depth;
    return result;
}

void CoUninitialize() {
    ComState &s = State();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    --s.depth;
}

void CoFreeUnusedLibraries() {
    ComState &s = State();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    ++s.freeUnusedCalls;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown *outer, DWORD context, REFIID iid, void **object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    ComState &s = State();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    s.creations.push_back({clsid, context, iid, outer != nullptr});
    if (!(context & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
    IUnknown *created = nullptr;
    if (clsid == velkorix::kClsidFilterMapper2) {
        if (FAILED(s.mapper2Failure)) return s.mapper2Failure;
        if (outer) return CLASS_E_NOAGGREGATION;
        created = new FilterMapper2();
    } else if (clsid == velkorix::kClsidFilterMapper) {
        if (FAILED(s.mapperFailure)) return s.mapperFailure;
        if (outer) return CLASS_E_NOAGGREGATION;
        created = new FilterMapper();
    } else {
        return REGDB_E_CLASSNOTREG;
    }
    created->AddRef();
    const HRESULT hr = created->QueryInterface(iid, object);
    created->Release();
    return hr;
}
