// Shared between the stand-in's service units: resetting each part.
#pragma once

namespace velkorix::standin {

void ResetRegistry();
void ResetComRuntime();

}  // namespace velkorix::standin
