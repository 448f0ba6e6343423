#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

// Which files a drop or the command line adds to the list. Plain functions over the file
// system, so they are tested without a window.

// A name ending in ".wav", in any case.
bool IsWavName(const QString &path);

// The .wav files in `folder` and its sub-folders, sorted by path. Hidden entries and links to
// folders are not followed.
QStringList WavFilesInFolder(const QString &folder);

// What a drop from a file manager adds: its local .wav files in the order given, each folder
// replaced by its .wav files; anything else is ignored.
QStringList WavFilesFromUrls(const QList<QUrl> &urls);
// Whether a drag carries anything WavFilesFromUrls would look at (without scanning folders).
bool MayHoldWavFiles(const QList<QUrl> &urls);

// The program's arguments as "Open with" passes them: existing files (any name) and the .wav
// files of folders, made absolute against `workingFolder`; names that are neither go to `missing`.
struct ArgumentFiles
{
    QStringList files;
    QStringList missing;
};
ArgumentFiles FilesFromArguments(const QStringList &arguments, const QString &workingFolder);
