#pragma once

#include "converter/batch/batchfile.h"
#include "converter/batch/outputrecord.h"

#include <QString>

// What --existing update does with one file, by the record of its output folder: the record
// says from what, and how, the MP3 was made, so a change of settings is seen as well as a
// change of the input, and a change of only the tags costs no encode.
struct UpdateDecision
{
    enum Kind
    {
        TimeRule, // not in the record, or the MP3 not as written: by file times, as without one
        Encode,   // the sound or the settings changed
        Retag,    // only the tags (or the name they give) changed
        UpToDate, // nothing changed
    };
    Kind kind = TimeRule;
    QString why;       // in the words a user reads
    RecordEntry entry; // what the record says was made from the file, but for TimeRule
};

// `settings` and `pattern` are the batch's (RecordSettings, the name pattern).
UpdateDecision DecideUpdate(const OutputRecord &record, const BatchFile &file,
                            const QString &settings, const QString &pattern);

// Whether the file the record names at `entry.path` is still as it was written: a plain file of
// the size and time it had. `byBytes` also compares its bytes' hash (before deleting it).
bool StillAsWritten(const OutputRecord &record, const RecordEntry &entry, bool byBytes);
// The input's state, following a link to it.
FileState InputState(const QString &path);
