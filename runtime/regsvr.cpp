#include "runtime/regsvr.h"

#include "runtime/component.h"
#include "runtime/filetrust.h"

#include <QFileInfo>
#include <QLibrary>

namespace rt {

bool registerLibrary(const QString &libraryFile, bool unregister, QString *error)
{
    auto fail = [error](const QString &message) {
        if (error)
            *error = message;
        return false;
    };
    if (!QFileInfo::exists(libraryFile))
        return fail(QStringLiteral("%1: file not found").arg(libraryFile));
    if (QString why; !isTrustedFile(libraryFile, &why))
        return fail(QStringLiteral("%1 is not loaded: %2").arg(libraryFile, why));
    QLibrary library(QFileInfo(libraryFile).absoluteFilePath());
    if (!library.load())
        return fail(
            QStringLiteral("%1 could not be loaded: %2").arg(libraryFile, library.errorString()));
    const char *entryPoint = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    auto fn = reinterpret_cast<DllRegisterServerFn>(library.resolve(entryPoint));
    if (!fn)
        return fail(QStringLiteral("%1 was loaded, but the entry point %2 was not found")
                        .arg(libraryFile, QString::fromLatin1(entryPoint)));
    const int result = fn();
    if (result != ResultOk)
        return fail(QStringLiteral("%1 in %2 failed with result %3")
                        .arg(QString::fromLatin1(entryPoint), libraryFile)
                        .arg(result));
    return true;
}

} // namespace rt
