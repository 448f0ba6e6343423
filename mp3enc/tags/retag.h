#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

// Rewriting an MP3's tags without encoding it again: the frames stay byte for byte, only the
// ID3v2 tag in front of them (and the ID3v1 tag behind them) changes. The new file is written
// beside the old one and put in its place only when complete, so a failure leaves the MP3 as it
// was; a write-protected MP3, a link or anything but a plain file is not touched.

// The MP3 at `mp3Path` with `newTag` (a whole ID3v2 tag, or empty for none) in place of the
// ID3v2 tag it begins with (if any). 0, or the errno of the step that failed.
int ReplaceId3v2(const QString &mp3Path, const QByteArray &newTag);

// As ReplaceId3v2, also putting `v1` (128 bytes, or empty for none) in place of the ID3v1 tag it
// ends with, when given; the result goes under `newPath` ("" for the same name), which must be
// free, and the old name is removed once it stands there.
int ReplaceId3Tags(const QString &mp3Path, const QByteArray &v2, std::optional<QByteArray> v1,
                   const QString &newPath = {});

// The length of the ID3v2 tag (header, frames, padding and footer) `head` begins with; 0 when it
// begins with none.
qint64 Id3v2Length(const QByteArray &head);

// The ID3v2 tag the MP3 at `mp3Path` begins with ("" when none); nothing, with `*error` saying
// why, when it cannot be read.
std::optional<QByteArray> HeadId3v2(const QString &mp3Path, QString *error);

// Why a rewrite that returned `error` (not 0) left the MP3 as it was, in the encoder's words.
QString RetagFailure(int error);

namespace retag {

// Puts a new ID3v2 tag at the head of the MP3 at `path`: `make` is given the tag that stands
// there ("" when none) and returns the one to stand instead, or nothing to leave the file as it
// is (`*error` then holds what `make` put there). Written as ReplaceId3v2 writes it. False with
// `*error` in the encoder's words when the file was left as it was.
bool replaceId3v2(const QString &path,
                  const std::function<std::optional<QByteArray>(const QByteArray &tag)> &make,
                  QString *error);

} // namespace retag
