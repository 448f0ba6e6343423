#include "converter/batch/batchreport.h"

#include "runtime/filename.h"

namespace {

const QString InterruptedReason = QStringLiteral("转换被中断");
const QString NotStartedReason = QStringLiteral("转换被中断，尚未开始");

} // namespace

void BatchReport::begin(const QList<LeftOut> &leftOut, const QStringList &problems)
{
    *this = BatchReport();
    m_leftOut = leftOut;
    for (const QString &problem : problems)
        addProblem(problem);
}

void BatchReport::record(const QString &file, const FileOutcome &outcome)
{
    m_outcomes.append({file, outcome});
}

void BatchReport::addProblem(const QString &problem)
{
    if (!m_problems.contains(problem))
        m_problems.append(problem);
}

void BatchReport::end(bool interrupted, int signalNumber)
{
    m_interrupted = interrupted;
    m_signalNumber = signalNumber;
}

QList<NotConverted> BatchReport::notConverted() const
{
    QList<NotConverted> named;
    for (const LeftOut &left : m_leftOut)
        named.append({rt::displayFileName(left.name), LeftOutText(left.reason)});
    for (const auto &[file, outcome] : m_outcomes) {
        if (outcome.kind == FileOutcome::NotConverted || outcome.kind == FileOutcome::Interrupted ||
            outcome.kind == FileOutcome::NotStarted)
            named.append({file, reasonOf(outcome)});
    }
    return named;
}

QString BatchReport::reasonOf(const FileOutcome &outcome)
{
    switch (outcome.kind) {
    case FileOutcome::Interrupted:
        return InterruptedReason;
    case FileOutcome::NotStarted:
        return NotStartedReason;
    default:
        return outcome.reason;
    }
}

QList<NotConverted> BatchReport::notes() const
{
    QList<NotConverted> named;
    for (const auto &[file, outcome] : m_outcomes) {
        if (outcome.kind == FileOutcome::Converted && !outcome.reason.isEmpty())
            named.append({file, outcome.reason});
    }
    return named;
}

QList<NotConverted> BatchReport::skipped() const
{
    QList<NotConverted> named;
    for (const auto &[file, outcome] : m_outcomes) {
        if (outcome.kind == FileOutcome::Skipped)
            named.append({file, outcome.reason});
    }
    return named;
}

int BatchReport::exitStatus(bool delivered) const
{
    if (m_interrupted)
        return 128 + m_signalNumber;
    return notConverted().isEmpty() && m_problems.isEmpty() && delivered ? 0 : 1;
}
