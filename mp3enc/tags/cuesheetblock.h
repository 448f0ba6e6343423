#pragma once

#include <QByteArray>
#include <QString>

// A FLAC file's own cue sheet, for an album held in one file: its CUESHEET comment as it is,
// else its cue sheet block written out as text (a FILE line, then TRACK and INDEX lines with
// times in CD frames of 1/75 s); "" when the file has neither, or is no native FLAC.
QString embeddedCueSheet(int fd);

// The cue sheet block's data as text, for a stream of `sampleRate`; "" when it is not laid out
// as one.
QString cueSheetBlockText(const QByteArray &block, int sampleRate);
