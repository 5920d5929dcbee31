// The level page's dialog template and title string. On Windows the resource
// compiler links them into the module (level_page.rc); without the platform
// they are registered with the stand-in for the module's instance, built from
// the same definitions.
#pragma once

#include "platform.h"

namespace velkorix {

// Makes sure the module's instance has the page's resources; a no-op where
// the platform's loader provides them.
void EnsureLevelPageResources();

}  // namespace velkorix
