#include "runtime/payload.h"

#include "runtime/comerror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

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
    QSaveFile file(fileName);
    // Another running instance may have the old library mapped: replace the file by rename,
    // never write into it.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        return QFileInfo(fileName).dir().exists() ? ErrPermissionDenied : ErrPathNotFound;
    }
    if (file.write(data) != data.size()) {
        file.cancelWriting();
        file.commit();
        return ErrDiskFull;
    }
    if (!file.commit())
        return ErrPathFileAccess;
    // Loadable libraries want the same permissions a linker gives them.
    QFile::setPermissions(fileName, QFile::permissions(fileName) | QFileDevice::ExeOwner |
                                        QFileDevice::ReadGroup | QFileDevice::ReadOther);
    return 0;
}

} // namespace rt
