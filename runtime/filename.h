#pragma once

#include "runtime/export.h"

#include <QByteArray>
#include <QString>

namespace rt {

// A file name on Linux is bytes. Most are UTF-8, but archives made on other systems carry
// Latin-1 or GBK names, which Qt's own conversions turn into U+FFFD and so lose. Inside the
// program a path is a QString in which each byte that is not part of valid UTF-8 stands as a
// code point U+DC80..U+DCFF (a lone low surrogate, which decoded text never holds), so every
// name comes back to its own bytes. For UTF-8 names these are Qt's QFile::encodeName and
// QFile::decodeName.
RT_EXPORT QString decodeFileName(const QByteArray &bytes);
RT_EXPORT QByteArray encodeFileName(const QString &path);

// Whether `path` holds bytes that are not UTF-8 (such a path must not reach Qt's file classes).
RT_EXPORT bool hasForeignBytes(const QString &path);

// The path as people read it: each byte that is not UTF-8 written as \xHH.
RT_EXPORT QString displayFileName(const QString &path);

// `name` cut at its end, on a character boundary, to at most `maxBytes` bytes as a file name.
RT_EXPORT QString cutFileName(const QString &name, qsizetype maxBytes);
// The file name `name` numbered: "song.mp3" as "song (2).mp3", its stem cut so that the whole
// stays within `maxBytes` bytes (a folder's longest name).
RT_EXPORT QString numberedFileName(const QString &name, int number, qsizetype maxBytes);

// What a path names, following links (the file a link leads to is what a user means).
enum class FileKind
{
    Missing, // nothing, or a dangling link
    Folder,
    Regular,
    Special, // a pipe, a device, a socket
};
RT_EXPORT FileKind fileKind(const QString &path);

// The working folder, decoded as above.
RT_EXPORT QString currentFolder();
// `path` made absolute against `base` (the working folder when empty) and cleaned.
RT_EXPORT QString absolutePath(const QString &path, const QString &base = QString());

// A path that Qt decoded with U+FFFD for bytes it could not read (the file dialogs list
// folders that way) mapped back to the file it names: each part holding U+FFFD is replaced by
// the one entry of its folder that Qt decodes to the same text. Unchanged when the path exists
// as it stands or some part matches no entry or several.
RT_EXPORT QString recoverFileName(const QString &path);

// The user's home folder: $HOME when it names an existing folder, else the one the password
// database gives (as the XDG rules and Qt expect) if that exists; "" when neither does. A home
// folder is never made.
RT_EXPORT QString homeFolder();
// Sets $HOME to homeFolder() when it is unset, empty or names no folder, so Qt's own folders (the
// music folder, the dialogs' home) and the processes we start find it too. Call before threads.
RT_EXPORT void ensureHomeVariable();

} // namespace rt
