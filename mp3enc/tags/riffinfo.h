#pragma once

#include <QByteArray>
#include <QHash>

// The texts of a RIFF (or RIFX, RF64) file's LIST/INFO chunks by their four-letter identifier,
// as the file stores them, read with pread from `fd`. A field already seen keeps its first text.
// A writer that left out the pad byte after an odd-length text is followed where the next field
// starts; a field that would run past its chunk ends the chunk.
QHash<QByteArray, QByteArray> readRiffInfo(int fd);
