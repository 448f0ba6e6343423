#pragma once

#include "runtime/export.h"

#include <QByteArray>
#include <QString>

namespace rt {

// Whether `path` and the folder holding it belong to this user (or to root) and no one else
// can change them, as ssh checks its files: a library or registry entry that others could
// replace must not be loaded or believed. `why` gets a sentence naming the fault otherwise.
RT_EXPORT bool isTrustedFile(const QString &path, QString *why = nullptr);

// Creates `path` and any missing parents as 0700 folders whatever the umask, and makes the
// last one private to this user if it was not. On failure returns the system error number
// (EACCES, ENOTDIR, EPERM for a folder another user owns, …) and 0 on success.
RT_EXPORT int makePrivateFolder(const QString &path);

// Writes `data` to `fileName` through a temporary in the same folder created with `mode`
// (whatever the umask) and renamed over the target, so a reader sees the old file or the new
// one, never a torn one, and a file another process has mapped is replaced, not overwritten.
// Returns 0 or the system error number.
RT_EXPORT int writePrivateFile(const QString &fileName, const QByteArray &data, unsigned mode);

} // namespace rt
