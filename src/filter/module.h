// The decoder module as an in-process COM server: its table of creatable
// classes, its entry points, and its self-registration (COM server keys and
// the filter mapper) through the server machinery of server.h.
#pragma once

#include "filter/server.h"
#include "platform/com_base.h"
#include "platform.h"

namespace velkorix {

inline constexpr int ServerClassCount = 2;
extern const ServerClassEntry ServerClassTable[ServerClassCount];
// The table as the server machinery takes it: the two classes, no file types.
extern const ServerModuleRecord kDecoderModule;

// The decoding filter's registration record: merit normal + 200, two pins.
inline constexpr DWORD kDecoderMerit = 0x006000C8;
extern const FilterSetupRecord kDecoderSetup;

// Recorded by DllMain at process attach.
HINSTANCE ModuleInstance();
DWORD PlatformId();

// Registration (TRUE) or unregistration (FALSE) of every class in the table:
// COM server keys and the filter mapper.
HRESULT ModuleRegister(BOOL doRegister);

}  // namespace velkorix

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID *object);
STDAPI DllCanUnloadNow();
STDAPI DllRegisterServer();
STDAPI DllUnregisterServer();
