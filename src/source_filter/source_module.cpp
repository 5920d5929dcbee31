// VelkorixSource.ax: the stream source filter's module. One class, "Velkorix
// Stream Source"; registration writes its COM server keys, the .vks file type
// (so that RenderFile on a .vks file creates the source), and its entry in
// the filter mapper (merit "unlikely": a source is opened by file type or by
// name, never picked to connect another filter's pin).
#include "filter/guids.h"
#include "filter/server.h"
#include "source_guids.h"
#include "stream_source_filter.h"

namespace velkorix {
namespace {

// The framed stream: audio, WAVE subtype.
const PinTypeRecord kOutputTypes[] = {{&kMediaTypeAudio, &kSubtypeWave}};

const PinSetupRecord kSourcePins[] = {
    {const_cast<LPWSTR>(L"Output"), FALSE, TRUE, FALSE, FALSE, &kNullGuid, nullptr, 1, kOutputTypes},
};

constexpr DWORD kMeritUnlikely = 0x00400000;

const FilterSetupRecord kSourceSetup = {kClsidVelkorixSource, L"Velkorix Stream Source", kMeritUnlikely, 1,
                                        kSourcePins};

const ServerClassEntry kSourceClasses[] = {
    {L"Velkorix Stream Source", kClsidVelkorixSource, &StreamSourceFilter::Create, nullptr, &kSourceSetup},
};

const FileTypeRecord kSourceFileTypes[] = {{kStreamFileExtension, kClsidVelkorixSource}};

const ServerModuleRecord kSourceModule = {kSourceClasses, 1, kSourceFileTypes, 1};

HINSTANCE moduleInstance = nullptr;

}  // namespace
}  // namespace velkorix

using namespace velkorix;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        moduleInstance = instance;
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID *object) {
    return GetServerClassObject(kSourceModule, clsid, iid, object);
}

STDAPI DllCanUnloadNow() { return CanUnloadServer(); }

STDAPI DllRegisterServer() { return RegisterServer(kSourceModule, moduleInstance, TRUE); }

STDAPI DllUnregisterServer() { return RegisterServer(kSourceModule, moduleInstance, FALSE); }
