#include "converter/startup/installpaths.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

const QString Tool = QStringLiteral("regsvr32");
const QString InstalledTool = QStringLiteral("../libexec/batchmp3/regsvr32");

} // namespace

QString RegistrationTool(const QString &programFolder)
{
    const QDir folder(programFolder);
    for (const QString &candidate : {Tool, InstalledTool}) {
        const QFileInfo tool(folder.filePath(candidate));
        if (tool.isFile() && tool.isExecutable())
            return QDir::cleanPath(tool.absoluteFilePath());
    }
    return {};
}

bool RunsFromInstallPrefix(const QString &programFolder)
{
    const QString tool = RegistrationTool(programFolder);
    return !tool.isEmpty() &&
           tool == QDir::cleanPath(QDir(programFolder).absoluteFilePath(InstalledTool));
}

QString DefaultOutputFolder(const QString &programFolder)
{
    const QFileInfo program(programFolder);
    if (!RunsFromInstallPrefix(programFolder) && program.isDir() && program.isWritable())
        return programFolder;
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (!music.isEmpty() && QFileInfo(music).isDir())
        return music;
    return QDir::homePath();
}
