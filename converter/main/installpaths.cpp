#include "converter/main/installpaths.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

const QString Tool = QStringLiteral("regsvr32");
const QString InstalledTool = QStringLiteral("../libexec/batchmp3/regsvr32");

} // namespace

bool RunsFromInstallPrefix(const QString &programFolder)
{
    const QDir folder(programFolder);
    return !QFileInfo(folder.filePath(Tool)).isExecutable() &&
           QFileInfo(folder.filePath(InstalledTool)).isExecutable();
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
