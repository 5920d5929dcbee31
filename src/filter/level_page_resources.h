// The level page's dialog template and title string for the portable
// stand-in, built from the same definitions as the module's resource script.
#pragma once

#include "platform.h"

namespace velkorix {

void RegisterLevelPageResources(HINSTANCE module);

}  // namespace velkorix
