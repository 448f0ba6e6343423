#pragma once

#include <QtCore/qglobal.h>

#if defined(RUNTIME_LIBRARY)
#define RT_EXPORT Q_DECL_EXPORT
#else
#define RT_EXPORT Q_DECL_IMPORT
#endif
