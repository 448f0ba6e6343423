#include "converter/startup/components.h"

#include "converter/startup/installpaths.h"
#include "converter/startup/modres.h"
#include "runtime/process.h"
#include "runtime/systemfolder.h"

#include <QCoreApplication>

namespace {

rt::HiddenProcess *startRegistration(const QString &libraryFile, QObject *parent)
{
    const QString tool = RegistrationTool(QCoreApplication::applicationDirPath());
    if (tool.isEmpty())
        return nullptr;
    auto *process = new rt::HiddenProcess(parent);
    if (process->start(tool, {QStringLiteral("/s"), libraryFile}))
        return process;
    delete process;
    return nullptr;
}

} // namespace

QString ComponentFolder(rt::FolderProblem *problem)
{
    QString folder = rt::systemFolder(problem);
    if (folder.isEmpty() || rt::registryFolder(problem).isEmpty())
        return {};
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

QList<rt::HiddenProcess *> InstallComponents(const QString &folder, QObject *parent)
{
    const QString button = folder + QStringLiteral("ZTbutton.ocx");
    const QString encoder = folder + QStringLiteral("Mp3Enc.ocx");
    WriteResToFile(102, QStringLiteral("CUSTOM"), button);
    WriteResToFile(103, QStringLiteral("CUSTOM"), encoder);
    QList<rt::HiddenProcess *> started;
    for (const QString &library : {button, encoder}) {
        if (rt::HiddenProcess *process = startRegistration(library, parent))
            started.append(process);
    }
    return started;
}
