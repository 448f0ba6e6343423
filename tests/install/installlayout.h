#pragma once

#include <QString>
#include <QStringList>

// The files an install lays out below its prefix (a package below /usr), sorted.
inline QStringList installLayout(const QString &appId, const QString &privateLibDir)
{
    QStringList files = {
        QStringLiteral("bin/batchmp3"),
        QStringLiteral("libexec/batchmp3/regsvr32"),
        privateLibDir + QStringLiteral("/libruntime.so"),
        QStringLiteral("share/applications/%1.desktop").arg(appId),
        QStringLiteral("share/metainfo/%1.metainfo.xml").arg(appId),
        QStringLiteral("share/icons/hicolor/scalable/apps/%1.svg").arg(appId),
        QStringLiteral("share/doc/batchmp3/LICENSE"),
        QStringLiteral("share/doc/batchmp3/README.md"),
        QStringLiteral("share/doc/batchmp3/changelog.gz"),
        QStringLiteral("share/doc/batchmp3/copyright"),
        QStringLiteral("share/man/man1/batchmp3.1.gz"),
    };
    for (int size : {16, 32, 48, 256})
        files << QStringLiteral("share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(appId);
    files.sort();
    return files;
}
