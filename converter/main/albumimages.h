#pragma once

#include "converter/encoder/mp3enc.h"
#include "converter/main/batchrules.h"

#include <QList>
#include <QString>

// Albums held in one audio file (an image) with a cue sheet, as a user gives them: a .cue file
// (which stands for its image), an audio file with a .cue file beside it naming it, or a FLAC file
// carrying its own sheet. Each becomes its tracks, in order, keeping the list position it came
// from; a sheet that cannot be used refuses its album as a whole, before anything is encoded.
QList<BatchFile> ExpandAlbums(const QList<BatchFile> &files, Mp3Enc::Binding mp3);

// The image a .cue file names, found beside it (also under another audio ending, as rippers
// leave a sheet naming the WAV they made the FLAC from); "" when there is none.
QString ImageOfCueFile(const QString &cuePath);

bool IsCueName(const QString &path);
