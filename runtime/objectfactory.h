#pragma once

#include "runtime/control.h"
#include "runtime/export.h"

#include <memory>

namespace rt {

class Registry;

// Creates an instance of a registered component by class name (ProgID) or class identifier:
// registry, then the library file, then its class object through DllGetClassObject, then the
// instance. Throws ComError(ErrCannotCreateObject) naming the step and what is missing.
RT_EXPORT std::unique_ptr<Control> createObject(const QString &classNameOrClsid, ControlSite *site,
                                                const Registry *registry = nullptr);

} // namespace rt
