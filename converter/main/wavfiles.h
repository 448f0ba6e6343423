#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Which files a drop or the command line adds to the list. Plain functions over the file
// system, so they are tested without a window. Paths are in the runtime's file-name form
// (rt::decodeFileName): a name that is not UTF-8 is carried through as its bytes.

// A name ending in ".wav", in any case.
bool IsWavName(const QString &path);

// What a set of names adds, and what it cannot add with the reason, in the order met.
struct FoundFiles
{
    QStringList files;
    QStringList missing;    // no such file (a dangling link too)
    QStringList notRegular; // a pipe, a device, a socket, or a link to one
    QStringList unreadable; // a folder we may not list

    bool complete() const
    {
        return missing.isEmpty() && notRegular.isEmpty() && unreadable.isEmpty();
    }
    void append(const FoundFiles &other);
};

// The .wav files in `folder` and its sub-folders, sorted by path, with whatever in the tree
// looks like one but cannot be added. Hidden entries and links to folders are not followed.
FoundFiles WavFilesUnder(const QString &folder);
// Only the files of WavFilesUnder.
QStringList WavFilesInFolder(const QString &folder);

// The local paths a drop carries, from the raw "text/uri-list" a file manager sends: its
// percent-encoded bytes decoded as they are, so names that are not UTF-8 survive.
QStringList LocalPathsFromUriList(const QByteArray &uriList);

// What a drop adds: its .wav files in the order given, each folder replaced by its .wav files;
// other names are ignored.
FoundFiles WavFilesFromPaths(const QStringList &paths);
// Whether a drag carries anything WavFilesFromPaths would look at (without scanning folders).
bool MayHoldWavFiles(const QStringList &paths);

// The program's arguments as "Open with" passes them: existing files (any name) and the .wav
// files of folders, made absolute against `workingFolder`. Names given as they were typed
// appear so in the lists of what was not added.
FoundFiles FilesFromArguments(const QStringList &arguments, const QString &workingFolder);

// The message naming what `found` could not add, one list per reason; "" when it added all.
QString NotAddedMessage(const FoundFiles &found);
