#pragma once

#include <QByteArray>
#include <QString>

// The front cover an album's MP3s get beside them: found, named by its real type and put in
// place as every output is.

// The picture beside the input in `folder` (absolute, no trailing '/') that players take for
// the front cover: cover, folder or front, .jpg, .jpeg or .png, in any letter case, in that
// order of preference; "" when none is there.
QString CoverBeside(const QString &folder);

// "jpg" or "png" by the bytes' own signature; "" for anything else.
QString PictureType(const QByteArray &data);

// `name` with its ending fitted to `type` ("folder.jpg" with a PNG gives "folder.png").
QString CoverName(const QString &name, const QString &type);

// `data` put at `path` through a temporary beside it, then renamed over it; never over a
// write-protected file, a link or anything that is not a plain file. "" when done, else why not.
QString WriteCover(const QString &path, const QByteArray &data);

// A file's bytes, up to `limit`; empty with `why` set when it cannot be read or is larger.
QByteArray ReadPicture(const QString &path, qint64 limit, QString *why);
