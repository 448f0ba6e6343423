#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <variant>

// An album held in one audio file (an image), or in several (sides, discs), and the cue sheet
// that cuts it into tracks. Plain functions, checked without files. Our own reading of the
// sheet's lines: libcue 2.2.1 gives the tracks after a second FILE line the wrong file, joins
// every track past the 99th, keeps what it read before an error, and prints its diagnostics
// on the process's standard error.
namespace cuesheet {

struct Track
{
    int file = 0;     // which of the sheet's files holds its INDEX 01
    qint64 start = 0; // its INDEX 01 in that file, in CD frames of 1/75 s
    qint64 first = 0; // once cut: in frames of its file
    qint64 count = 0;
    QMap<QString, QString> tags; // "title", "artist", "album", "albumartist", "track", ...
};

struct Sheet
{
    QStringList files; // as the FILE lines name them, each once, in order
    QList<Track> tracks;
    // Why it cannot be used ("" when it can); `files` then holds those read up to there.
    QString problem;
};

// The sheet's files and tracks (numbered across the whole sheet) with the tags it gives, or
// why it cannot be used: no track, a track before any FILE, a track without INDEX 01, an INDEX
// that cannot be read, a FILE no track starts in.
Sheet Parse(const QString &text);

// The tracks that `file` holds, cut from its `frames` frames at `sampleRate`: the first from
// the file's start (what lies before its INDEX 01, as a lead-in, is kept with it), each other
// from its INDEX 01, each to the next one's, so a pre-gap goes with the track before, and the
// last to the file's end. Or why they cannot be: out of order, or past the file's end.
std::variant<QList<Track>, QString> Cut(const Sheet &sheet, int file, int sampleRate,
                                        qint64 frames);

} // namespace cuesheet
