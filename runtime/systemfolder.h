#pragma once

#include "runtime/export.h"

#include <QString>

namespace rt {

// The per-user stand-in for the system folder, below the XDG data home. Created on demand;
// "" when no writable folder can be had (never falls back to somewhere else).
RT_EXPORT QString systemFolder();
// Where the component registry keeps its entries, beside the system folder.
RT_EXPORT QString registryFolder();

} // namespace rt
