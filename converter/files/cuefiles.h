#pragma once

#include "converter/files/cuetext.h"

#include <QString>
#include <variant>

// Cue sheet files as they lie in the file system: their names, their text, and the audio files
// their FILE lines mean.

bool IsCueName(const QString &path);

// A sheet file's text, or why it cannot be read (no permission, larger than a sheet can be).
std::variant<cuesheet::Text, QString> ReadCueFile(const QString &path);

// Where a sheet's FILE line points, or why it points nowhere.
struct CueImage
{
    QString path;
    QString problem;
};

// The file a FILE line `named` means, relative to the sheet's folder: that name; else, as
// sheets made on Windows spell it, the one file of that name in another letter case; else an
// audio file of its stem (rippers leave a sheet naming the WAV they made the FLAC from).
CueImage FindCueImage(const QString &sheetFolder, const QString &named);

// The image a .cue file names first, wherever it is (also in another letter case, or under
// another audio ending); "" when there is none.
QString ImageOfCueFile(const QString &cuePath);
