#pragma once

#include "converter/files/audiofiles.h"

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

// What became of one file.
struct FileOutcome
{
    enum Kind
    {
        Converted,    // `output` written; `reason` says what was left out of it, if anything
        Skipped,      // left by the existing-file rule; `reason` says why
        NotConverted, // `reason` says why
        Interrupted,  // cut off by a stop
        NotStarted,   // after the one cut off
    };
    Kind kind = Converted;
    QString output;
    QString reason;
    bool refusedAtStart = false; // never opened: the file was refused before it was encoded
};

// A file named with a reason, as a batch's report lists it: not converted and why, converted
// with something left out and what, or passed over by the existing-file rule and why.
struct NotConverted
{
    QString file; // as shown: the path, bytes that are not UTF-8 as \xHH
    QString reason;
};

// Said, by every face, of files converted with something left out of them.
inline const QString NotesHeading = QStringLiteral("以下文件已转换，但有内容没有放进MP3：");

// The ledger of one batch, kept by the engine: what was left out before it began, each file's
// outcome as it was judged, the faults of the batch itself, how it ended. The window's
// completion message and the terminal's summary render it; neither keeps one of its own.
class BatchReport
{
public:
    // A new batch: `leftOut` named before its files, `problems` already known.
    void begin(const QList<LeftOut> &leftOut, const QStringList &problems = {});
    // `file` as a user reads it.
    void record(const QString &file, const FileOutcome &outcome);
    // A fault of the batch itself, told once however often it happens.
    void addProblem(const QString &problem);
    // Ended; after signal `signalNumber` when interrupted.
    void end(bool interrupted, int signalNumber = 0);

    // The files judged and those left out.
    int total() const { return int(m_outcomes.size() + m_leftOut.size()); }
    // What was left out, then each file not converted (also cut off, or never started), with
    // the reason.
    QList<NotConverted> notConverted() const;
    // Converted, with what was left out of each.
    QList<NotConverted> notes() const;
    // Passed over by the existing-file rule, and why.
    QList<NotConverted> skipped() const;
    const QStringList &problems() const { return m_problems; }
    // Converted by --existing update's record, with what was done and why.
    const QList<NotConverted> &updated() const { return m_updated; }
    void addUpdated(const QString &file, const QString &what) { m_updated.append({file, what}); }
    // A file --prune deleted (or, dry, would delete) or kept, with why.
    void addPruned(const QString &file, const QString &what) { m_pruned.append({file, what}); }
    const QList<NotConverted> &pruned() const { return m_pruned; }
    // The reason the report gives with an outcome (a cut-off file's, too).
    static QString reasonOf(const FileOutcome &outcome);
    bool interrupted() const { return m_interrupted; }
    // 128 + the signal after one; 1 when a file was not converted, the batch had a fault, or
    // the report itself could not all be delivered; 0 otherwise.
    int exitStatus(bool delivered = true) const;

private:
    QList<LeftOut> m_leftOut;
    QList<std::pair<QString, FileOutcome>> m_outcomes;
    QStringList m_problems;
    QList<NotConverted> m_pruned;
    QList<NotConverted> m_updated;
    bool m_interrupted = false;
    int m_signalNumber = 0;
};

Q_DECLARE_METATYPE(FileOutcome)
