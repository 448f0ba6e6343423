#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <variant>

// An album held in one audio file (an image) and the cue sheet that cuts it into tracks. Parsed
// by libcue; plain functions, checked without files.
namespace cuesheet {

struct Track
{
    int number = 0;
    qint64 first = 0; // in frames of the image
    qint64 count = 0;
    QMap<QString, QString> tags; // "title", "artist", "album", "albumartist", "track", ...
};

struct Sheet
{
    QString image; // as the sheet's FILE line names it
    QList<Track> tracks;
};

// A sheet's text from its bytes: UTF-8 (with a byte order mark or without) when they are, else
// GB18030, as sheets written by Chinese rippers are.
QString Decode(const QByteArray &bytes);

// The file the sheet names ("" when it names none or several).
QString ImageOf(const QString &text);

// The tracks of an image of `frames` frames at `sampleRate` as `text` cuts it: each from its
// INDEX 01 to the next one's, so a pre-gap goes with the track before (the first track from the
// image's start), the last to the image's end; the tags the sheet gives. Or why it cannot be
// used: no track, tracks out of order or overlapping, a time past the image's end, more than
// one file.
std::variant<Sheet, QString> Read(const QString &text, int sampleRate, qint64 frames);

} // namespace cuesheet
