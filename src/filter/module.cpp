// The decoder module: its class table and entry points.
#include "filter/module.h"

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

const ServerModuleRecord kDecoderModule = {ServerClassTable, ServerClassCount, nullptr, 0};

HINSTANCE ModuleInstance() { return moduleInstance; }
DWORD PlatformId() { return platformId; }

HRESULT ModuleRegister(BOOL doRegister) { return RegisterServer(kDecoderModule, ModuleInstance(), doRegister); }

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
    return GetServerClassObject(kDecoderModule, clsid, iid, object);
}

STDAPI DllCanUnloadNow() { return CanUnloadServer(); }

STDAPI DllRegisterServer() { return ModuleRegister(TRUE); }

STDAPI DllUnregisterServer() { return ModuleRegister(FALSE); }
