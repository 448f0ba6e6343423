#pragma once

#include "runtime/export.h"

#include <QString>

namespace rt {

// What the regsvr32 tool does: load a component library file and call its DllRegisterServer
// (or DllUnregisterServer). Returns true on success; otherwise `error` says which step failed.
RT_EXPORT bool registerLibrary(const QString &libraryFile, bool unregister, QString *error);

} // namespace rt
