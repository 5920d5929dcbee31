// Registration of a module with a file type (what the stream source module
// registers) on the portable stand-in: the extension's "Source Filter" value
// beside the class keys and the mapper entry, and unregistration that removes
// exactly what registration added.
#include <gtest/gtest.h>

#include <string>

#include "filter/guids.h"
#include "filter/server.h"
#include "stand_in_control.h"

namespace velkorix {
namespace {

// {F91D2C2B-03D9-405E-BF62-616108B800A0}
constexpr CLSID kSourceClass = {0xF91D2C2B, 0x03D9, 0x405E, {0xBF, 0x62, 0x61, 0x61, 0x08, 0xB8, 0x00, 0xA0}};
const std::string kClassText = "{F91D2C2B-03D9-405E-BF62-616108B800A0}";
const std::string kClassKey = "CLSID\\" + kClassText;
const std::string kExtensionKey = "Media Type\\Extensions\\.vks";
const std::string kModulePath = "C:\\Program Files\\Velkorix\\VelkorixSource.ax";

UnknownBase *CreateNothing(IUnknown *, HRESULT *result) {
    if (result) *result = E_NOTIMPL;
    return nullptr;
}

const PinTypeRecord kOutputTypes[] = {{&kMediaTypeAudio, &kSubtypeWave}};
const PinSetupRecord kPins[] = {
    {const_cast<LPWSTR>(L"Output"), FALSE, TRUE, FALSE, FALSE, &kNullGuid, nullptr, 1, kOutputTypes},
};
const FilterSetupRecord kSetup = {kSourceClass, L"Velkorix Stream Source", 0x00400000, 1, kPins};
const ServerClassEntry kClasses[] = {{L"Velkorix Stream Source", kSourceClass, &CreateNothing, nullptr, &kSetup}};
const FileTypeRecord kTypes[] = {{".vks", kSourceClass}};
const ServerModuleRecord kModule = {kClasses, 1, kTypes, 1};

std::string Value(const std::string &path, const std::string &name) {
    std::string value;
    DWORD type = 0;
    if (!standin::RegistryString(path, name, &value, &type)) return "<missing>";
    return type == REG_SZ ? value : "<not REG_SZ>";
}

void SetString(const std::string &path, const std::string &name, const std::string &value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, path.c_str(), &key), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                             static_cast<DWORD>(value.size() + 1)),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

class FileTypeRegistrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        standin::Reset();
        standin::SetModuleFileName(kModulePath);
        // The platform has this key before any program registers a type.
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "Media Type\\Extensions", &key), ERROR_SUCCESS);
        RegCloseKey(key);
    }
    void TearDown() override {
        EXPECT_EQ(standin::OpenRegistryHandles(), 0) << "a registry key was left open";
        EXPECT_EQ(standin::ComInitializeDepth(), 0);
        EXPECT_EQ(standin::LiveMapperObjects(), 0);
    }
};

TEST_F(FileTypeRegistrationTest, RegistrationWritesTheClassTheFileTypeAndTheMapperEntry) {
    ASSERT_EQ(RegisterServer(kModule, nullptr, TRUE), S_OK);
    EXPECT_EQ(Value(kClassKey, ""), "Velkorix Stream Source");
    EXPECT_EQ(Value(kClassKey + "\\InprocServer32", ""), kModulePath);
    EXPECT_EQ(Value(kClassKey + "\\InprocServer32", "ThreadingModel"), "Both");
    EXPECT_EQ(Value(kExtensionKey, "Source Filter"), kClassText);
    EXPECT_EQ(standin::RegistryValueNames(kExtensionKey), std::vector<std::string>{"Source Filter"});
    const auto filters = standin::MapperFilters();
    ASSERT_EQ(filters.size(), 1u);
    EXPECT_EQ(filters[0].second.merit, 0x00400000u);
    ASSERT_EQ(filters[0].second.pins.size(), 1u);
    EXPECT_TRUE(filters[0].second.pins[0].output);
    ASSERT_EQ(filters[0].second.pins[0].types.size(), 1u);
    EXPECT_TRUE(filters[0].second.pins[0].types[0].minor == kSubtypeWave);

    // Twice: one registration.
    ASSERT_EQ(RegisterServer(kModule, nullptr, TRUE), S_OK);
    EXPECT_EQ(standin::RegistryValueNames(kExtensionKey), std::vector<std::string>{"Source Filter"});
    EXPECT_EQ(standin::MapperFilters().size(), 1u);
}

TEST_F(FileTypeRegistrationTest, UnregistrationRemovesExactlyWhatRegistrationAdded) {
    ASSERT_EQ(RegisterServer(kModule, nullptr, TRUE), S_OK);
    ASSERT_EQ(RegisterServer(kModule, nullptr, FALSE), S_OK);
    EXPECT_FALSE(standin::RegistryKeyExists(kExtensionKey));
    EXPECT_FALSE(standin::RegistryKeyExists(kClassKey));
    EXPECT_TRUE(standin::MapperFilters().empty());
    EXPECT_TRUE(standin::RegistryKeyExists("Media Type\\Extensions")) << "the platform's own key stays";
    // Again, with nothing left: success.
    EXPECT_EQ(RegisterServer(kModule, nullptr, FALSE), S_OK);
}

TEST_F(FileTypeRegistrationTest, WhatOthersPutThereStays) {
    ASSERT_EQ(RegisterServer(kModule, nullptr, TRUE), S_OK);
    // Another program adds a value of its own to the extension's key.
    SetString(kExtensionKey, "Media Type", "{73647561-0000-0010-8000-00AA00389B71}");
    ASSERT_EQ(RegisterServer(kModule, nullptr, FALSE), S_OK);
    EXPECT_TRUE(standin::RegistryKeyExists(kExtensionKey));
    EXPECT_EQ(standin::RegistryValueNames(kExtensionKey), std::vector<std::string>{"Media Type"});

    // Another program took the extension over: its value is not ours to remove.
    standin::Reset();
    standin::SetModuleFileName(kModulePath);
    ASSERT_EQ(RegisterServer(kModule, nullptr, TRUE), S_OK);
    SetString(kExtensionKey, "Source Filter", "{E436EBB5-524F-11CE-9F53-0020AF0BA770}");
    ASSERT_EQ(RegisterServer(kModule, nullptr, FALSE), S_OK);
    EXPECT_EQ(Value(kExtensionKey, "Source Filter"), "{E436EBB5-524F-11CE-9F53-0020AF0BA770}");

    // A subkey keeps the key too; our value goes, whatever the letter case.
    standin::Reset();
    standin::SetModuleFileName(kModulePath);
    SetString(kExtensionKey + "\\Other", "", "x");
    SetString(kExtensionKey, "Source Filter", "{f91d2c2b-03d9-405e-bf62-616108b800a0}");
    ASSERT_EQ(UnregisterFileType(kTypes[0]), S_OK);
    EXPECT_TRUE(standin::RegistryValueNames(kExtensionKey).empty());
    EXPECT_EQ(standin::RegistrySubkeys(kExtensionKey), std::vector<std::string>{"Other"});
}

TEST_F(FileTypeRegistrationTest, FailuresAreReported) {
    standin::FailRegistryCall(standin::RegistryCall::SetValue, 3, ERROR_ACCESS_DENIED);  // the fourth: "Source Filter"
    EXPECT_EQ(RegisterServer(kModule, nullptr, TRUE), static_cast<HRESULT>(0x80070005u));
    EXPECT_TRUE(standin::MapperCallLog().empty()) << "the mapper step is not reached";

    ASSERT_EQ(RegisterServer(kModule, nullptr, TRUE), S_OK);
    standin::FailRegistryCall(standin::RegistryCall::DeleteValue, 0, ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegisterServer(kModule, nullptr, FALSE), static_cast<HRESULT>(0x80070005u));
    EXPECT_TRUE(standin::RegistryKeyExists(kClassKey)) << "the class stays while its file type does";
    EXPECT_EQ(RegisterServer(kModule, nullptr, FALSE), S_OK);
    EXPECT_FALSE(standin::RegistryKeyExists(kExtensionKey));

    const FileTypeRecord bad[] = {{"vks", kSourceClass}, {".", kSourceClass}, {".a\\b", kSourceClass}};
    for (const FileTypeRecord &type : bad) {
        EXPECT_EQ(RegisterFileType(type), E_INVALIDARG) << type.extension;
        EXPECT_EQ(UnregisterFileType(type), E_INVALIDARG) << type.extension;
    }
}

}  // namespace
}  // namespace velkorix
