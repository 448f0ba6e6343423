#include "runtime/systemfolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace rt {

namespace {

// Below the XDG data home, so a test isolates everything by setting XDG_DATA_HOME.
QString runtimeSubfolder(const QString &name)
{
    const QString home = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (home.isEmpty())
        return {};
    const QString path = QDir(home).filePath(QStringLiteral("zanto-runtime/") + name);
    if (!QDir().mkpath(path))
        return {};
    const QFileInfo info(path);
    if (!info.isDir() || !info.isWritable())
        return {};
    return QDir::cleanPath(info.absoluteFilePath());
}

} // namespace

QString systemFolder()
{
    return runtimeSubfolder(QStringLiteral("system"));
}

QString registryFolder()
{
    return runtimeSubfolder(QStringLiteral("registry"));
}

} // namespace rt
