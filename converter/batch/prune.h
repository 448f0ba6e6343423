#pragma once

#include "converter/batch/outputrecord.h"

#include <QList>
#include <QSet>
#include <QString>

// --prune: the MP3s the record says this program wrote into the output folder whose input is
// gone or now gives another name, deleted (or, with --dry-run, only named). Never a file the
// record does not hold, one changed since it was written (named and kept), one the batch just
// wrote or kept, nor anything reached through a link or outside the folder. Folders the program
// made that are left empty go too, and a cover whose album has no MP3 left.
struct PruneStep
{
    enum Kind
    {
        Deleted, // or, dry, would be
        Kept,    // changed since written
        Failed,  // could not be deleted
    };
    Kind kind;
    QString path; // absolute
    QString why;
};

// `claimed`: paths below the folder the batch wrote or left as they were.
QList<PruneStep> Prune(OutputRecord &record, const QSet<QString> &claimed, bool dryRun);
