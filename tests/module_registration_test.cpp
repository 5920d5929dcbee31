// Self-registration on the portable stand-in: registry keys, the filter
// mapper (IFilterMapper2 and the IFilterMapper fallback), unregistration and
// the failure paths.
#include <gtest/gtest.h>

#include <string>

#include "filter/guids.h"
#include "filter/module.h"
#include "stand_in_control.h"

namespace velkorix {
namespace {

using standin::MapperCall;
using standin::RegistryCall;

const std::string kDecoderKey = "CLSID\\{43D3DDAA-867B-4789-AFB3-3347222D5188}";
const std::string kPageKey = "CLSID\\{3A95D4E1-E7ED-40BD-A405-EB3870551393}";
const std::string kModulePath = "C:\\Program Files\\Velkorix\\Velkorix.ax";
constexpr HRESULT kAccessDenied = static_cast<HRESULT>(0x80070005u);

std::string Value(const std::string &path, const std::string &name) {
    std::string value;
    DWORD type = 0;
    if (!standin::RegistryString(path, name, &value, &type)) return "<missing>";
    return type == REG_SZ ? value : "<not REG_SZ>";
}

class ModuleRegistrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        standin::Reset();
        standin::SetModuleFileName(kModulePath);
    }
    void TearDown() override {
        EXPECT_EQ(standin::OpenRegistryHandles(), 0) << "a registry key was left open";
        EXPECT_EQ(standin::ComInitializeDepth(), 0) << "COM initialisation not balanced";
        EXPECT_EQ(standin::LiveMapperObjects(), 0) << "a filter mapper was not released";
    }

    static void ExpectClassKeys(const std::string &modulePath) {
        EXPECT_EQ(Value(kDecoderKey, ""), "Velkorix Decoder");
        EXPECT_EQ(Value(kDecoderKey + "\\InprocServer32", ""), modulePath);
        EXPECT_EQ(Value(kDecoderKey + "\\InprocServer32", "ThreadingModel"), "Both");
        EXPECT_EQ(Value(kPageKey, ""), "Video Contrast Property Page");
        EXPECT_EQ(Value(kPageKey + "\\InprocServer32", ""), modulePath);
        EXPECT_EQ(Value(kPageKey + "\\InprocServer32", "ThreadingModel"), "Both");
        EXPECT_EQ(standin::RegistrySubkeys(kDecoderKey), std::vector<std::string>{"InprocServer32"});
        EXPECT_EQ(standin::RegistryValueNames(kDecoderKey + "\\InprocServer32"),
                  (std::vector<std::string>{"", "ThreadingModel"}));
    }

    static void ExpectNoClassKeys() {
        EXPECT_FALSE(standin::RegistryKeyExists(kDecoderKey));
        EXPECT_FALSE(standin::RegistryKeyExists(kPageKey));
    }

    // The decoder's mapper entry: name, merit and two audio pins.
    static void ExpectMapperEntry() {
        const auto filters = standin::MapperFilters();
        ASSERT_EQ(filters.size(), 1u);
        EXPECT_TRUE(filters[0].first == kClsidVelkorixDecoder);
        const standin::MapperFilter &filter = filters[0].second;
        EXPECT_EQ(filter.name, L"Velkorix Decoder");
        EXPECT_EQ(filter.merit, 0x006000C8u);
        ASSERT_EQ(filter.pins.size(), 2u);
        const wchar_t *names[] = {L"Input", L"Output"};
        const wchar_t *peers[] = {L"Output", L"Input"};
        for (int i = 0; i < 2; ++i) {
            const standin::MapperPin &pin = filter.pins[i];
            EXPECT_EQ(pin.name, names[i]);
            EXPECT_EQ(pin.output, i == 1);
            EXPECT_FALSE(pin.rendered);
            EXPECT_FALSE(pin.zero);
            EXPECT_FALSE(pin.many);
            EXPECT_TRUE(pin.connectsToFilter == kNullGuid);
            EXPECT_EQ(pin.connectsToPin, peers[i]);
            ASSERT_EQ(pin.types.size(), 1u);
            EXPECT_TRUE(pin.types[0].major == kMediaTypeAudio);
            EXPECT_TRUE(pin.types[0].minor == kNullGuid);
        }
    }
};

TEST_F(ModuleRegistrationTest, RegisterWritesServerKeysAndTheMapperEntry) {
    ASSERT_EQ(DllRegisterServer(), S_OK);
    ExpectClassKeys(kModulePath);
    ExpectMapperEntry();
    // The mapper was the in-process IFilterMapper2, with COM initialised around it.
    const auto creations = standin::CreationLog();
    ASSERT_EQ(creations.size(), 1u);
    EXPECT_TRUE(creations[0].clsid == kClsidFilterMapper2);
    EXPECT_TRUE(creations[0].iid == kIidFilterMapper2);
    EXPECT_EQ(creations[0].context, static_cast<DWORD>(CLSCTX_INPROC_SERVER));
    EXPECT_EQ(standin::MapperCallLog(), (std::vector<std::string>{"Unregister2", "Register2 Velkorix Decoder"}));
    EXPECT_EQ(standin::CoFreeUnusedLibrariesCalls(), 1);
}

TEST_F(ModuleRegistrationTest, RegisteringTwiceLeavesOneRegistration) {
    ASSERT_EQ(DllRegisterServer(), S_OK);
    ASSERT_EQ(DllRegisterServer(), S_OK);
    ExpectClassKeys(kModulePath);
    ExpectMapperEntry();
    EXPECT_EQ(standin::RegistrySubkeys("CLSID").size(), 2u);
}

TEST_F(ModuleRegistrationTest, UnregisterRemovesEverythingAndMayRunTwice) {
    ASSERT_EQ(DllRegisterServer(), S_OK);
    // Whatever else lives under the class key goes with it.
    HKEY extra = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, (kDecoderKey + "\\Extra\\Deeper\\Deepest").c_str(), &extra),
              ERROR_SUCCESS);
    RegCloseKey(extra);

    EXPECT_EQ(DllUnregisterServer(), S_OK);
    ExpectNoClassKeys();
    EXPECT_TRUE(standin::MapperFilters().empty());
    EXPECT_TRUE(standin::RegistryKeyExists("CLSID")) << "only the classes' own keys are removed";
    // Nothing left to remove: the mapper's "not found" counts as success.
    EXPECT_EQ(DllUnregisterServer(), S_OK);
    ExpectNoClassKeys();
}

TEST_F(ModuleRegistrationTest, UnregisterWithoutRegistrationSucceeds) {
    EXPECT_EQ(DllUnregisterServer(), S_OK);
    ExpectNoClassKeys();
    EXPECT_EQ(standin::MapperCallLog(), std::vector<std::string>{"Unregister2"});
}

TEST_F(ModuleRegistrationTest, OlderMapperIsUsedWhenTheNewOneIsMissing) {
    standin::FailMapperCreation(true, false);
    ASSERT_EQ(DllRegisterServer(), S_OK);
    ExpectClassKeys(kModulePath);
    ExpectMapperEntry();
    EXPECT_EQ(standin::MapperCallLog(),
              (std::vector<std::string>{"Unregister", "RegisterFilter Velkorix Decoder", "RegisterPin Input",
                                        "RegisterPinType Input", "RegisterPin Output", "RegisterPinType Output"}));
    const auto creations = standin::CreationLog();
    ASSERT_EQ(creations.size(), 2u);
    EXPECT_TRUE(creations[1].clsid == kClsidFilterMapper);
    EXPECT_TRUE(creations[1].iid == kIidFilterMapper);
    EXPECT_EQ(creations[1].context, static_cast<DWORD>(CLSCTX_INPROC_SERVER));

    // Registering again through it replaces the entry.
    ASSERT_EQ(DllRegisterServer(), S_OK);
    ExpectMapperEntry();

    EXPECT_EQ(DllUnregisterServer(), S_OK);
    ExpectNoClassKeys();
    EXPECT_TRUE(standin::MapperFilters().empty());
    EXPECT_EQ(DllUnregisterServer(), S_OK);
}

TEST_F(ModuleRegistrationTest, MissingMapperFailsRegistrationAndKeepsKeysOnUnregistration) {
    standin::FailMapperCreation(true, true);
    EXPECT_EQ(DllRegisterServer(), REGDB_E_CLASSNOTREG);
    ExpectClassKeys(kModulePath);  // written before the mapper step, left in place

    EXPECT_EQ(DllUnregisterServer(), REGDB_E_CLASSNOTREG);
    EXPECT_TRUE(standin::RegistryKeyExists(kDecoderKey)) << "keys stay while the mapper entry cannot be removed";
}

TEST_F(ModuleRegistrationTest, MapperFailuresAreReported) {
    standin::FailMapperCall(MapperCall::Register2, 0, kAccessDenied);
    EXPECT_EQ(DllRegisterServer(), kAccessDenied);
    ExpectClassKeys(kModulePath);
    EXPECT_TRUE(standin::MapperFilters().empty());

    // When registering, a failing removal of the old entry does not matter.
    standin::FailMapperCall(MapperCall::Unregister2, 0, E_FAIL);
    EXPECT_EQ(DllRegisterServer(), S_OK);
    ExpectMapperEntry();

    // When unregistering it is the result, and the class keys stay.
    standin::FailMapperCall(MapperCall::Unregister2, 0, E_FAIL);
    EXPECT_EQ(DllUnregisterServer(), E_FAIL);
    ExpectClassKeys(kModulePath);
    EXPECT_EQ(DllUnregisterServer(), S_OK);
    ExpectNoClassKeys();
}

TEST_F(ModuleRegistrationTest, OlderMapperStopsAtTheFirstFailingCall) {
    standin::FailMapperCreation(true, false);
    standin::FailMapperCall(MapperCall::RegisterPinType, 0, kAccessDenied);
    EXPECT_EQ(DllRegisterServer(), kAccessDenied);
    EXPECT_EQ(standin::MapperCallLog(),
              (std::vector<std::string>{"Unregister", "RegisterFilter Velkorix Decoder", "RegisterPin Input",
                                        "RegisterPinType Input"}));
}

TEST_F(ModuleRegistrationTest, RegistryFailuresStopRegistrationWithTheirCode) {
    standin::FailRegistryCall(RegistryCall::CreateKey, 0, ERROR_ACCESS_DENIED);
    EXPECT_EQ(DllRegisterServer(), kAccessDenied);
    ExpectNoClassKeys();
    EXPECT_TRUE(standin::MapperCallLog().empty()) << "the mapper step is not reached";

    // The third value written is the decoder's "ThreadingModel".
    standin::FailRegistryCall(RegistryCall::SetValue, 2, 1009);  // ERROR_BADDB
    EXPECT_EQ(DllRegisterServer(), static_cast<HRESULT>(0x800703F1u));
    EXPECT_EQ(Value(kDecoderKey + "\\InprocServer32", ""), kModulePath);
    EXPECT_EQ(Value(kDecoderKey + "\\InprocServer32", "ThreadingModel"), "<missing>");
    EXPECT_FALSE(standin::RegistryKeyExists(kPageKey));

    // A failure at the second class leaves the first one's keys in place.
    standin::Reset();
    standin::SetModuleFileName(kModulePath);
    standin::FailRegistryCall(RegistryCall::CreateKey, 2, ERROR_ACCESS_DENIED);
    EXPECT_EQ(DllRegisterServer(), kAccessDenied);
    EXPECT_EQ(Value(kDecoderKey, ""), "Velkorix Decoder");
    EXPECT_FALSE(standin::RegistryKeyExists(kPageKey));
}

TEST_F(ModuleRegistrationTest, ModulePathProblemsFailBeforeAnythingIsWritten) {
    standin::FailModuleFileName(ERROR_ACCESS_DENIED);
    EXPECT_EQ(DllRegisterServer(), kAccessDenied);
    EXPECT_EQ(DllUnregisterServer(), kAccessDenied);
    standin::FailModuleFileName(0);

    // A path the buffer cannot hold would be registered cut short.
    standin::SetModuleFileName("C:\\" + std::string(300, 'x') + "\\Velkorix.ax");
    EXPECT_EQ(DllRegisterServer(), static_cast<HRESULT>(0x8007007Au));  // ERROR_INSUFFICIENT_BUFFER
    ExpectNoClassKeys();
    EXPECT_TRUE(standin::MapperCallLog().empty());

    // The longest path that fits is registered whole.
    const std::string longest = "C:\\" + std::string(259 - 3 - 12, 'y') + "\\Velkorix.ax";
    ASSERT_EQ(longest.size(), 259u);
    standin::SetModuleFileName(longest);
    EXPECT_EQ(DllRegisterServer(), S_OK);
    ExpectClassKeys(longest);
}

TEST_F(ModuleRegistrationTest, ModulePathKeepsItsAnsiBytes) {
    // ANSI text goes to UTF-16 and back: bytes above 0x7F survive.
    const std::string path = "C:\\Programme\\Gr\xFC\xDF" "e\\Velkorix.ax";
    standin::SetModuleFileName(path);
    ASSERT_EQ(DllRegisterServer(), S_OK);
    EXPECT_EQ(Value(kDecoderKey + "\\InprocServer32", ""), path);
}

TEST_F(ModuleRegistrationTest, ComInitialisedInAnotherModeIsLeftAlone) {
    standin::SetCoInitializeResult(RPC_E_CHANGED_MODE);
    EXPECT_EQ(DllRegisterServer(), S_OK);
    ExpectMapperEntry();
    EXPECT_EQ(standin::ComInitializeDepth(), 0) << "CoUninitialize without a matching CoInitialize";
}

TEST_F(ModuleRegistrationTest, RegistryTreeDeletion) {
    EXPECT_EQ(DeleteRegistryTree(HKEY_CLASSES_ROOT, ""), E_FAIL);
    EXPECT_EQ(DeleteRegistryTree(HKEY_CLASSES_ROOT, nullptr), E_FAIL);
    EXPECT_EQ(DeleteRegistryTree(HKEY_CLASSES_ROOT, "Nowhere\\AtAll"), S_OK);

    for (const char *path : {"Tree\\A\\A1", "Tree\\A\\A2\\Deep", "Tree\\B", "Keep"}) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, path, &key), ERROR_SUCCESS);
        RegCloseKey(key);
    }
    EXPECT_EQ(DeleteRegistryTree(HKEY_CLASSES_ROOT, "Tree"), S_OK);
    EXPECT_FALSE(standin::RegistryKeyExists("Tree"));
    EXPECT_TRUE(standin::RegistryKeyExists("Keep"));

    // A key that cannot be deleted ends the walk instead of being enumerated
    // forever, and the failure is reported; its parent stays.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "Tree\\Locked\\Inner", &key), ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "Tree\\Other", &key), ERROR_SUCCESS);
    RegCloseKey(key);
    standin::ProtectRegistryKey("Tree\\Locked");
    EXPECT_EQ(DeleteRegistryTree(HKEY_CLASSES_ROOT, "Tree"), kAccessDenied);
    EXPECT_TRUE(standin::RegistryKeyExists("Tree\\Locked"));
    EXPECT_FALSE(standin::RegistryKeyExists("Tree\\Locked\\Inner"));
}

void CreateKeys(std::initializer_list<const char *> paths) {
    for (const char *path : paths) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, path, &key), ERROR_SUCCESS) << path;
        RegCloseKey(key);
    }
}

// A key that cannot be opened, for good (its security denies the caller),
// ends the walk with the refusal instead of being enumerated again and again.
// The stand-in lifts each refusal after 1000 attempts only so that a walk
// that keeps coming back to the key ends and the count below shows it.
constexpr int kRefusalsBeforeGivingWay = 1000;

TEST_F(ModuleRegistrationTest, RegistryTreeDeletionStopsAtAKeyItCannotOpen) {
    CreateKeys({"Tree\\Denied\\Inner", "Tree\\Other"});
    standin::RefuseRegistryOpen("Tree\\Denied", ERROR_ACCESS_DENIED, kRefusalsBeforeGivingWay);
    EXPECT_EQ(DeleteRegistryTree(HKEY_CLASSES_ROOT, "Tree"), kAccessDenied);
    EXPECT_EQ(standin::RegistryOpenRefusals("Tree\\Denied"), 1) << "the walk came back to the key it cannot open";
    EXPECT_TRUE(standin::RegistryKeyExists("Tree\\Denied\\Inner"));
    EXPECT_TRUE(standin::RegistryKeyExists("Tree\\Other"));

    // The key named itself: refused the same way; only "not found" is success.
    standin::RefuseRegistryOpen("Tree", ERROR_ACCESS_DENIED);
    EXPECT_EQ(DeleteRegistryTree(HKEY_CLASSES_ROOT, "Tree"), kAccessDenied);
    EXPECT_TRUE(standin::RegistryKeyExists("Tree"));
}

TEST_F(ModuleRegistrationTest, RegistryTreeDeletionStopsWhenTheSameChildComesBack) {
    // A child that enumeration lists but that opens as "not found" (as when
    // it vanishes and reappears under the walk) is skipped as deleted; when
    // it is listed again the walk stops instead of going round forever.
    CreateKeys({"Tree\\Ghost\\Inner", "Tree\\Other"});
    standin::RefuseRegistryOpen("Tree\\Ghost", ERROR_FILE_NOT_FOUND, kRefusalsBeforeGivingWay);
    EXPECT_EQ(DeleteRegistryTree(HKEY_CLASSES_ROOT, "Tree"), E_FAIL);
    EXPECT_EQ(standin::RegistryOpenRefusals("Tree\\Ghost"), 1) << "the walk went round on the same child";
    EXPECT_TRUE(standin::RegistryKeyExists("Tree\\Ghost\\Inner"));
}

TEST_F(ModuleRegistrationTest, UnregistrationFailsOnAClassKeyItCannotOpen) {
    ASSERT_EQ(DllRegisterServer(), S_OK);
    const std::string server = kDecoderKey + "\\InprocServer32";
    standin::RefuseRegistryOpen(server, ERROR_ACCESS_DENIED, kRefusalsBeforeGivingWay);
    EXPECT_EQ(DllUnregisterServer(), kAccessDenied);
    EXPECT_EQ(standin::RegistryOpenRefusals(server), 1);
    EXPECT_TRUE(standin::RegistryKeyExists(server));
    // Once the key opens again, unregistration completes.
    standin::RefuseRegistryOpen(server, ERROR_ACCESS_DENIED, 0);
    EXPECT_EQ(DllUnregisterServer(), S_OK);
    ExpectNoClassKeys();
}

}  // namespace
}  // namespace velkorix
