#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

namespace retag {

// Puts a new ID3v2 tag at the head of the MP3 at `path` (the runtime's file-name form): `make`
// is given the tag that stands there ("" when none) and returns the one to stand instead, or
// empty to leave the file as it is (`*error` then holds what `make` put there). The audio after
// the tag is copied byte for byte into a temporary beside the file, which takes the file's mode
// and then its name, so a reader sees the old file or the new one, never a mixture. Never over a
// write-protected file, nor over one changed while it was copied. False with `*error` in the
// encoder's words when the file was left as it was.
bool replaceId3v2(const QString &path,
                  const std::function<std::optional<QByteArray>(const QByteArray &tag)> &make,
                  QString *error);

} // namespace retag
