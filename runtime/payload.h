#pragma once

#include "runtime/export.h"

#include <QByteArray>
#include <QString>

namespace rt {

// Embedded payloads, addressed by number and type name; the program embeds them as Qt resources
// at ":/payload/<type>/<number>". Throws ComError(ErrResourceNotFound) when absent.
RT_EXPORT QByteArray loadPayload(int id, const QString &type);

// Writes `data` to `fileName` through a temporary in the same folder renamed over the target,
// so a file another process has mapped is replaced, never overwritten in place.
// Returns 0 or the error number.
RT_EXPORT int writeFileAtomically(const QString &fileName, const QByteArray &data);

} // namespace rt
