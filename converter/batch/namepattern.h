#pragma once

#include <QMap>
#include <QString>
#include <optional>

// Names from tags: a pattern such as "{albumartist}/{album}/{track:02} {title}" gives the path of
// an MP3 below the output folder. Plain functions, checked without files.
namespace namepattern {

// The input's tags by field: "artist", "albumartist", "album", "title", "track", "disc",
// "genre", "date" (a track or disc may read "7/12").
using Tags = QMap<QString, QString>;

// What is wrong with `pattern` (an unknown field, a width on a field that takes none, an
// unclosed brace, nothing at all), or nothing.
std::optional<QString> Problem(const QString &pattern);

// The path `pattern` gives for a file named `fileName` (its own name, for {filename} and a
// missing title), without the ".mp3" ending: folders separated by '/', none of them "", "." or
// "..". A value that is "." or ".." counts as missing. Inside a value '/' and control characters
// become '_'; each part is cut to `maxBytes` bytes on a character boundary (the last one leaves
// room for the ending). `fileName` is in the runtime's file-name form: its bytes carry over.
QString Expand(const QString &pattern, const Tags &tags, const QString &fileName,
               int maxBytes = 255);

} // namespace namepattern
