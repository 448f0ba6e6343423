#pragma once

#include <QByteArray>
#include <QString>
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
