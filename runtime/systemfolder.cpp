#include "runtime/systemfolder.h"

#include "runtime/filename.h"
#include "runtime/filetrust.h"

#include <QDir>
#include <cerrno>

namespace rt {

namespace {

// Below the XDG data home, so a test isolates everything by setting XDG_DATA_HOME.
QString runtimeSubfolder(const QString &name, FolderProblem *problem)
{
    const QString home = dataHome();
    if (home.isEmpty()) { // no $HOME and no home in the password database
        if (problem)
            *problem = {QStringLiteral("~/.local/share"), ENOENT};
        return {};
    }
    const QString runtime = QDir(home).filePath(QStringLiteral("zanto-runtime"));
    const QString path = QDir(runtime).filePath(name);
    for (const QString &folder : {runtime, path}) {
        if (const int error = makePrivateFolder(folder)) {
            if (problem)
                *problem = {folder, error};
            return {};
        }
    }
    return QDir::cleanPath(path);
}

} // namespace

QString dataHome()
{
    const QString configured = qEnvironmentVariable("XDG_DATA_HOME");
    if (!configured.isEmpty() && QDir::isAbsolutePath(configured))
        return QDir::cleanPath(configured);
    const QString home = homeFolder();
    return home.isEmpty() ? QString() : QDir::cleanPath(home + QStringLiteral("/.local/share"));
}

QString systemFolder(FolderProblem *problem)
{
    return runtimeSubfolder(QStringLiteral("system"), problem);
}

QString registryFolder(FolderProblem *problem)
{
    return runtimeSubfolder(QStringLiteral("registry"), problem);
}

} // namespace rt
