#pragma once

#include "runtime/export.h"

namespace rt {

// What screen readers are shown of windows and frames (their controls, less those that only
// decorate), and check boxes and option buttons whose actions raise Click. Installed once per
// process; further calls do nothing.
RT_EXPORT void installAccessibleControls();

} // namespace rt
