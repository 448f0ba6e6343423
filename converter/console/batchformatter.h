#pragma once

#include "converter/batch/batchreport.h"

#include <QString>

// One form in which the terminal tells a batch: the engine's steps as they happen, and the
// ledger at its end. TextFormatter is the form for people (a line updated in place on a
// terminal, a line per file into a pipe, a summary); a machine-readable form is one more
// implementation. Each is made with the engine it tells of, whose files it may look up.
class BatchFormatter
{
public:
    virtual ~BatchFormatter() = default;

    // The batch's files are known (albums as their tracks).
    virtual void planned() = 0;
    virtual void fileStarted(int position) = 0;
    virtual void progress(int position, qint32 percent) = 0;
    virtual void fileEnded(int position, const FileOutcome &outcome) = 0;
    // Something for the user outside the batch's steps (there is nothing to convert).
    virtual void warn(const QString &text) = 0;
    virtual void finished(const BatchReport &report) = 0;
    // Whether everything it was to write could be written.
    virtual bool delivered() const = 0;
};
