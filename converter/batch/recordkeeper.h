#pragma once

#include "converter/batch/batchfile.h"
#include "converter/batch/batchoptions.h"
#include "converter/batch/namepattern.h"
#include "converter/batch/outputrecord.h"
#include "converter/batch/prune.h"
#include "converter/batch/updaterule.h"

#include <QHash>
#include <QSet>
#include <QString>

// The engine's side of the output folder's record through one batch: opened at its start when
// there is an output folder and the batch updates or prunes it, asked what --existing update does
// with each file, told of every MP3 put in place (and every one left as it stood), and pruned at
// the end.
class RecordKeeper
{
public:
    // A new batch by `options`, whose MP3s `encoderVersion` writes.
    void begin(const BatchOptions &options, const QString &encoderVersion);
    bool isOpen() const { return m_record.isOpen(); }
    // What --existing update does with the file at `position`, decided once per batch; TimeRule
    // without a record or under another rule.
    const UpdateDecision &decision(int position, const BatchFile &file);
    // `output` was put in place from `file`, whose tags are `tags`: recorded, and after an
    // encode that gave it another name, the MP3 under the old name (as written) removed.
    void written(int position, const BatchFile &file, const QString &output,
                 const namepattern::Tags &tags);
    // Folders (absolute, no trailing '/') the batch made, to be removed once pruning empties.
    void madeFolders(const QStringList &folders);
    // `output` stands as it was, claimed by this batch: never pruned by it.
    void claimed(const QString &output);
    // Our MP3 at `output` was rewritten in place by us (its album's gain): recorded as it now
    // is, so it still counts as ours, as written.
    void rewritten(const QString &output);
    QList<PruneStep> prune();
    // Whether the cover at `path` (absolute) stands as this batch would write it from `source`
    // by `settings`: by the record, else (a cover it does not hold) by being no older than
    // `source`.
    bool coverUpToDate(const QString &path, const QString &source, const QString &settings) const;
    // The cover at `path` was put in place from `source` (a picture file, or the input whose
    // embedded picture it is) by `settings`.
    void coverWritten(const QString &path, const QString &source, const QString &settings);

private:
    RecordEntry entryFor(const BatchFile &file, const QString &relative,
                         const namepattern::Tags &tags) const;

    OutputRecord m_record;
    BatchOptions m_options;
    QString m_settings;
    QHash<int, UpdateDecision> m_decisions;
    QSet<QString> m_claimed; // below the folder
};
