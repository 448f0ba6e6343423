#pragma once

#include "converter/batch/batchrules.h"
#include "converter/encoder/mp3enc.h"

#include <QList>
#include <QString>

// Albums held in one audio file (an image), or in several, with a cue sheet, as a user gives
// them: a .cue file (`BatchFile::sheet`, or the input itself), an audio file with a .cue file
// beside it naming it, or a FLAC file carrying its own sheet. Each becomes its tracks, in order,
// keeping the list position it came from. A sheet that was given and cannot be used refuses its
// album as a whole, before anything is encoded; a sheet that was found and cannot be used
// leaves its file whole, with a note saying why.
QList<BatchFile> ExpandAlbums(const QList<BatchFile> &files, Mp3Enc::Binding mp3);
