#include "filter/module_state.h"

#include <mutex>

#include "filter/level_page_resources.h"

namespace velkorix {
namespace {

DWORD platformId = 2;

}  // namespace

HINSTANCE ModuleInstance() {
    // Without the platform there is no loader: the module is a fixed handle
    // whose resources are registered with the stand-in on first use.
    static char anchor;
    static std::once_flag registered;
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(&anchor);
    std::call_once(registered, [instance] { RegisterLevelPageResources(instance); });
    return instance;
}

DWORD ModulePlatformId() { return platformId; }
void SetModulePlatformId(DWORD id) { platformId = id; }

}  // namespace velkorix
