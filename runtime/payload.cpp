#include "runtime/payload.h"

#include "runtime/comerror.h"
#include "runtime/filetrust.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>

namespace rt {

QByteArray loadPayload(int id, const QString &type)
{
    QFile resource(QStringLiteral(":/payload/%1/%2").arg(type).arg(id));
    if (!resource.open(QIODevice::ReadOnly))
        throw ComError(ErrResourceNotFound,
                       QStringLiteral("Resource with identifier '%1' not found").arg(id));
    return resource.readAll();
}

int writeFileAtomically(const QString &fileName, const QByteArray &data)
{
    if (fileName.isEmpty())
        return ErrFileNotFound;
    // Another running instance may have the old library mapped: replace the file by rename,
    // never write into it. Executable for its owner alone, like the folder it is in.
    switch (writePrivateFile(fileName, data, 0700)) {
    case 0:
        return 0;
    case ENOENT:
    case ENOTDIR:
        return ErrPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return ErrPermissionDenied;
    case ENOSPC:
    case EDQUOT:
        return ErrDiskFull;
    default:
        return ErrPathFileAccess;
    }
}

} // namespace rt
