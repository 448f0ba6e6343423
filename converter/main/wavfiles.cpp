#include "converter/main/wavfiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <algorithm>

bool IsWavName(const QString &path)
{
    return path.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive);
}

QStringList WavFilesInFolder(const QString &folder)
{
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (IsWavName(path))
            found.append(QDir::cleanPath(path));
    }
    std::sort(found.begin(), found.end());
    return found;
}

QStringList WavFilesFromUrls(const QList<QUrl> &urls)
{
    QStringList files;
    for (const QUrl &url : urls) {
        if (!url.isLocalFile())
            continue;
        const QFileInfo info(url.toLocalFile());
        if (info.isDir())
            files += WavFilesInFolder(info.absoluteFilePath());
        else if (info.isFile() && IsWavName(info.fileName()))
            files.append(QDir::cleanPath(info.absoluteFilePath()));
    }
    return files;
}

bool MayHoldWavFiles(const QList<QUrl> &urls)
{
    return std::any_of(urls.begin(), urls.end(), [](const QUrl &url) {
        if (!url.isLocalFile())
            return false;
        const QFileInfo info(url.toLocalFile());
        return info.isDir() || (info.isFile() && IsWavName(info.fileName()));
    });
}

ArgumentFiles FilesFromArguments(const QStringList &arguments, const QString &workingFolder)
{
    ArgumentFiles result;
    const QDir base(workingFolder);
    for (const QString &argument : arguments) {
        const QFileInfo info(base.absoluteFilePath(argument));
        if (argument.isEmpty())
            result.missing.append(argument);
        else if (info.isDir())
            result.files += WavFilesInFolder(info.absoluteFilePath());
        else if (info.isFile())
            result.files.append(QDir::cleanPath(info.absoluteFilePath()));
        else
            result.missing.append(argument);
    }
    return result;
}
