#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Which files a drop, a folder or the command line adds to the list. Plain functions over the file
// system, so they are tested without a window. Paths are in the runtime's file-name form
// (rt::decodeFileName): a name that is not UTF-8 is carried through as its bytes.

// Why a name given or met was not added.
enum class LeftOutReason
{
    Missing,    // no such file (a dangling link too)
    NotRegular, // a pipe, a device, a socket, or a link to one
    Unreadable, // a folder we may not list
    TooLong,    // a path longer than the system takes (PATH_MAX), file or folder
};
struct LeftOut
{
    QString name; // as given or met
    LeftOutReason reason;
};
// What is said of one name left out ("文件不存在").
QString LeftOutText(LeftOutReason reason);

// What a set of names adds, and what it cannot add with the reason, in the order met.
struct FoundFiles
{
    QStringList files;
    // For each file, the folder it was found in below a folder that was given ("CD1" for
    // Music/CD1/01.flac when Music was dropped); "" for a file given itself.
    QStringList subfolders;
    // For each file, the cue sheet given for it: a .cue file stands for the album file it names
    // ("" for a file given itself).
    QStringList sheets;
    QStringList missing;    // no such file (a dangling link too)
    QStringList notRegular; // a pipe, a device, a socket, or a link to one
    QStringList unreadable; // a folder we may not list
    QStringList tooLong;    // a path longer than the system takes (PATH_MAX), file or folder

    bool complete() const
    {
        return missing.isEmpty() && notRegular.isEmpty() && unreadable.isEmpty() &&
               tooLong.isEmpty();
    }
    void append(const FoundFiles &other);
    // What was not added, reason by reason in the order above, each in the order met.
    QList<LeftOut> leftOut() const;
};

// The audio files in `folder` and its sub-folders, sorted by path, with whatever in the tree
// looks like one but cannot be added. Hidden entries and links to folders are not followed.
FoundFiles AudioFilesUnder(const QString &folder);
// Only the files of AudioFilesUnder.
QStringList AudioFilesInFolder(const QString &folder);

// The local paths a drop carries, from the raw "text/uri-list" a file manager sends: its
// percent-encoded bytes decoded as they are, so names that are not UTF-8 survive.
QStringList LocalPathsFromUriList(const QByteArray &uriList);

// What a drop adds: its audio files in the order given, each folder replaced by its audio
// files; other names are ignored.
FoundFiles AudioFilesFromPaths(const QStringList &paths);
// Whether a drag carries anything AudioFilesFromPaths would look at (without scanning folders).
bool MayHoldAudioFiles(const QStringList &paths);

// The program's arguments as "Open with" passes them: existing files (any name) and the audio
// files of folders, made absolute against `workingFolder`. Names given as they were typed
// appear so in the lists of what was not added.
FoundFiles FilesFromArguments(const QStringList &arguments, const QString &workingFolder);

// Whether the system takes `path` at all: shorter than PATH_MAX in its bytes.
bool PathFits(const QString &path);

// The message naming what `found` could not add, one list per reason; "" when it added all.
QString NotAddedMessage(const FoundFiles &found);
