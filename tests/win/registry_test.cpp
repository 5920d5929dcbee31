// Checks what registration left behind: the COM server keys and the filter
// mapper's entry for the decoder; for the stream source, its class, the
// mapper's entry and the .vks file type.
//   registered MODULE_PATH
//   unregistered
//   source-registered SOURCE_MODULE_PATH
//   source-unregistered
#include <cstring>
#include <string>
#include <vector>

#include "filter/guids.h"
#include "harness.h"

namespace {

using velkorix::kClsidLevelPropertyPage;
using velkorix::kClsidVelkorixDecoder;
using velkorix::kMediaTypeAudio;

const char kDecoderKey[] = "CLSID\\{43D3DDAA-867B-4789-AFB3-3347222D5188}";
const char kPageKey[] = "CLSID\\{3A95D4E1-E7ED-40BD-A405-EB3870551393}";
// The mapper's entry for a filter in the legacy DirectShow filter category.
const char kMapperKey[] =
    "CLSID\\{083863F1-70DE-11d0-BD40-00A0C911CE86}\\Instance\\{43D3DDAA-867B-4789-AFB3-3347222D5188}";

bool KeyExists(const char *path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// A REG_SZ value; "<missing>" when absent or of another type.
std::string StringValue(const std::string &path, const char *name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "<missing>";
    char buffer[1024] = {};
    DWORD size = sizeof(buffer) - 1, type = 0;
    const LONG status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(buffer), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) return "<missing>";
    return buffer;
}

std::vector<std::string> Subkeys(const char *path) {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
    char name[300];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof(name);
        if (RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.push_back(name);
    }
    RegCloseKey(key);
    return names;
}

std::vector<std::string> ValueNames(const std::string &path) {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
    char name[300];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof(name);
        if (RegEnumValueA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.push_back(name);
    }
    RegCloseKey(key);
    return names;
}

uint32_t Le32(const std::vector<BYTE> &data, size_t at) {
    if (at + 4 > data.size()) return 0xFFFFFFFFu;
    return data[at] | data[at + 1] << 8 | data[at + 2] << 16 | static_cast<uint32_t>(data[at + 3]) << 24;
}

GUID GuidAt(const std::vector<BYTE> &data, uint32_t at) {
    GUID id{};
    if (at + sizeof(GUID) <= data.size()) std::memcpy(&id, data.data() + at, sizeof(GUID));
    return id;
}

// The filter mapper's binary record of a filter: version, merit, pin count,
// then per pin a tagged header (flags, instances, type and medium counts,
// category flag) followed by its types (tag, offsets of the major type and
// subtype GUIDs) and mediums.
struct FilterData {
    uint32_t merit = 0;
    struct Pin {
        uint32_t flags = 0;
        std::vector<std::pair<GUID, GUID>> types;
    };
    std::vector<Pin> pins;
    bool valid = false;
};

FilterData ParseFilterData(const std::vector<BYTE> &data) {
    FilterData result;
    if (data.size() < 16 || Le32(data, 0) != 2) return result;
    result.merit = Le32(data, 4);
    const uint32_t pins = Le32(data, 8);
    size_t at = 16;
    for (uint32_t p = 0; p < pins && p < 16; ++p) {
        if (at + 24 > data.size() || data[at + 1] != 'p' || data[at + 2] != 'i' || data[at + 3] != '3') return result;
        FilterData::Pin pin;
        pin.flags = Le32(data, at + 4);
        const uint32_t types = Le32(data, at + 12), mediums = Le32(data, at + 16);
        const bool category = Le32(data, at + 20) != 0;
        at += 24 + (category ? 4 : 0);
        for (uint32_t t = 0; t < types && t < 16; ++t) {
            if (at + 16 > data.size() || data[at + 1] != 't' || data[at + 2] != 'y' || data[at + 3] != '3')
                return result;
            pin.types.emplace_back(GuidAt(data, Le32(data, at + 8)), GuidAt(data, Le32(data, at + 12)));
            at += 16;
        }
        at += 4 * mediums;
        result.pins.push_back(pin);
    }
    result.valid = true;
    return result;
}

std::vector<BYTE> BinaryValue(const char *path, const char *name) {
    std::vector<BYTE> data;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return data;
    DWORD size = 0, type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_BINARY) {
        data.resize(size);
        RegQueryValueExA(key, name, nullptr, &type, data.data(), &size);
    }
    RegCloseKey(key);
    return data;
}

// Filters the mapper finds with an audio input (and, when asked, an audio
// output) at or above `merit`: their friendly names.
std::vector<std::wstring> MatchingFilters(DWORD merit, bool audioOutput) {
    std::vector<std::wstring> names;
    IFilterMapper2 *mapper = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                reinterpret_cast<void **>(&mapper)))) {
        names.push_back(L"<no mapper>");
        return names;
    }
    const GUID types[2] = {kMediaTypeAudio, GUID_NULL};
    IEnumMoniker *monikers = nullptr;
    const HRESULT hr = mapper->EnumMatchingFilters(&monikers, 0, FALSE, merit, TRUE, 1, types, nullptr, nullptr,
                                                   FALSE, audioOutput ? TRUE : FALSE, audioOutput ? 1 : 0,
                                                   audioOutput ? types : nullptr, nullptr, nullptr);
    if (SUCCEEDED(hr) && monikers) {
        IMoniker *moniker = nullptr;
        while (monikers->Next(1, &moniker, nullptr) == S_OK) {
            IPropertyBag *bag = nullptr;
            if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void **>(&bag)))) {
                VARIANT name;
                VariantInit(&name);
                if (SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR)
                    names.push_back(name.bstrVal);
                VariantClear(&name);
                bag->Release();
            }
            moniker->Release();
        }
        monikers->Release();
    } else {
        names.push_back(L"<enumeration failed>");
    }
    mapper->Release();
    return names;
}

int CountOf(const std::vector<std::wstring> &names, const wchar_t *name) {
    int count = 0;
    for (const auto &n : names) count += n == name;
    return count;
}

void CheckRegistered(const std::string &modulePath) {
    CHECK(StringValue(kDecoderKey, nullptr) == "Velkorix Decoder");
    CHECK(StringValue(std::string(kDecoderKey) + "\\InprocServer32", nullptr) == modulePath);
    CHECK(StringValue(std::string(kDecoderKey) + "\\InprocServer32", "ThreadingModel") == "Both");
    CHECK(StringValue(kPageKey, nullptr) == "Video Contrast Property Page");
    CHECK(StringValue(std::string(kPageKey) + "\\InprocServer32", nullptr) == modulePath);
    CHECK(StringValue(std::string(kPageKey) + "\\InprocServer32", "ThreadingModel") == "Both");
    // One set of keys, however often the module was registered.
    CHECK(Subkeys(kDecoderKey) == std::vector<std::string>{"InprocServer32"});
    CHECK(ValueNames(std::string(kDecoderKey) + "\\InprocServer32").size() == 2);

    // The mapper's own record of the filter.
    CHECK(StringValue(kMapperKey, "FriendlyName") == "Velkorix Decoder");
    const FilterData data = ParseFilterData(BinaryValue(kMapperKey, "FilterData"));
    REQUIRE_VOID(data.valid);
    CHECK_EQ(data.merit, 0x006000C8u);
    CHECK_EQ(data.pins.size(), 2u);
    if (data.pins.size() == 2) {
        CHECK_EQ(data.pins[0].flags, 0u);                    // input: not rendered, one instance
        CHECK_EQ(data.pins[1].flags, static_cast<uint32_t>(REG_PINFLAG_B_OUTPUT));
        for (const auto &pin : data.pins) {
            CHECK_EQ(pin.types.size(), 1u);
            if (pin.types.size() == 1) {
                CHECK(IsEqualGUID(pin.types[0].first, kMediaTypeAudio));
                CHECK(IsEqualGUID(pin.types[0].second, GUID_NULL));
            }
        }
    }

    // And as the mapper answers a search: one entry for an audio input, also
    // with an audio output. (A search above MERIT_DO_NOT_USE also weighs the
    // category's merit, so the exact merit is checked in the record above.)
    CHECK_EQ(CountOf(MatchingFilters(MERIT_DO_NOT_USE, false), L"Velkorix Decoder"), 1);
    CHECK_EQ(CountOf(MatchingFilters(MERIT_DO_NOT_USE, true), L"Velkorix Decoder"), 1);
}

void CheckUnregistered() {
    CHECK(!KeyExists(kDecoderKey));
    CHECK(!KeyExists(kPageKey));
    CHECK(!KeyExists(kMapperKey));
    CHECK_EQ(CountOf(MatchingFilters(MERIT_DO_NOT_USE, false), L"Velkorix Decoder"), 0);
}

const char kSourceKey[] = "CLSID\\{F91D2C2B-03D9-405E-BF62-616108B800A0}";
const char kSourceMapperKey[] =
    "CLSID\\{083863F1-70DE-11d0-BD40-00A0C911CE86}\\Instance\\{F91D2C2B-03D9-405E-BF62-616108B800A0}";
const char kExtensionKey[] = "Media Type\\Extensions\\.vks";

void CheckSourceRegistered(const char *modulePath) {
    CHECK(StringValue(kSourceKey, nullptr) == "Velkorix Stream Source");
    CHECK(StringValue(std::string(kSourceKey) + "\\InprocServer32", nullptr) == modulePath);
    CHECK(StringValue(std::string(kSourceKey) + "\\InprocServer32", "ThreadingModel") == "Both");
    CHECK(StringValue(kSourceMapperKey, "FriendlyName") == "Velkorix Stream Source");
    CHECK(StringValue(kExtensionKey, "Source Filter") == "{F91D2C2B-03D9-405E-BF62-616108B800A0}");
    CHECK(ValueNames(kExtensionKey).size() == 1);
    // The decoder's registration is its own.
    CHECK(KeyExists(kDecoderKey));
}

void CheckSourceUnregistered() {
    CHECK(!KeyExists(kSourceKey));
    CHECK(!KeyExists(kSourceMapperKey));
    CHECK(!KeyExists(kExtensionKey));
    CHECK(KeyExists("Media Type\\Extensions"));
}

}  // namespace

VTEST_COMMAND(SourceRegisteredCommand, "source-registered", "source-registered SOURCE_MODULE_PATH") {
    if (argc != 2) {
        std::printf("usage: source-registered SOURCE_MODULE_PATH\n");
        return 2;
    }
    CoInitialize(nullptr);
    CheckSourceRegistered(argv[1]);
    CoUninitialize();
    return vtest::Finish(argv[0]);
}

VTEST_COMMAND(SourceUnregisteredCommand, "source-unregistered", "source-unregistered") {
    (void)argc;
    CoInitialize(nullptr);
    CheckSourceUnregistered();
    CoUninitialize();
    return vtest::Finish(argv[0]);
}

VTEST_COMMAND(RegisteredCommand, "registered", "registered MODULE_PATH") {
    if (argc != 2) {
        std::printf("usage: registered MODULE_PATH\n");
        return 2;
    }
    CoInitialize(nullptr);
    CheckRegistered(argv[1]);
    CoUninitialize();
    return vtest::Finish(argv[0]);
}

VTEST_COMMAND(UnregisteredCommand, "unregistered", "unregistered") {
    (void)argc;
    CoInitialize(nullptr);
    CheckUnregistered();
    CoUninitialize();
    return vtest::Finish(argv[0]);
}
