// What the module knows about itself: its instance handle, through which its
// resources are found and its windows created, and the platform identifier
// recorded at load (2 selects the wide-character resource loader).
#pragma once

#include "platform.h"

namespace velkorix {

HINSTANCE ModuleInstance();
DWORD ModulePlatformId();
void SetModulePlatformId(DWORD id);

}  // namespace velkorix
