#pragma once

#include "runtime/export.h"

class QWidget;

namespace rt {

// Asks the window manager for a sizing border and nothing else: no title bar and no caption text.
// Qt's window flags cannot say this (a window with a border gets its title bar back), so the hints
// go straight onto the native window; call it once the window exists and before it is mapped. Does
// nothing on platforms other than X11.
RT_EXPORT void applySizingBorderOnly(QWidget *window);

} // namespace rt
