#include "converter/console/textformatter.h"

#include "converter/batch/batchengine.h"
#include "converter/console/consoletext.h"
#include "converter/files/pathhelpers.h"
#include "runtime/filename.h"

#include <sys/ioctl.h>
#include <unistd.h>

using namespace consoletext;

namespace {

constexpr int DefaultColumns = 80;

int terminalColumns()
{
    winsize size = {};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return DefaultColumns;
}

} // namespace

TextFormatter::TextFormatter(const BatchEngine &engine, ConsoleOutput &output, bool quiet)
    : m_engine(engine), m_output(output), m_quiet(quiet), m_terminal(::isatty(STDOUT_FILENO) == 1)
{}

QString TextFormatter::shown(int position) const
{
    return m_engine.file(position).label();
}

void TextFormatter::fileEnded(int position, const FileOutcome &outcome)
{
    const int n = m_engine.count();
    const bool lines = !m_quiet && !m_terminal;
    switch (outcome.kind) {
    case FileOutcome::Converted:
        m_timeLeft.converted(position);
        if (lines)
            m_output.say(ConsoleOutput::Out,
                         ConvertedLine(position + 1, n, shown(position),
                                       rt::displayFileName(outcome.output)) +
                             (outcome.reason.isEmpty()
                                  ? QString()
                                  : QStringLiteral("（") + outcome.reason + QStringLiteral("）")) +
                             u'\n');
        return;
    case FileOutcome::NotStarted:
        return;
    case FileOutcome::Skipped: // counted, not listed: a run over a converted library skips all
        m_timeLeft.dropped(position);
        return;
    case FileOutcome::Interrupted:
    case FileOutcome::NotConverted:
        break;
    }
    // A file that needs no more work no longer counts in the time left.
    m_timeLeft.dropped(position);
    if (lines)
        m_output.say(ConsoleOutput::Out, NotConvertedLine(position + 1, n, shown(position),
                                                          BatchReport::reasonOf(outcome)) +
                                             u'\n');
}

void TextFormatter::warn(const QString &text)
{
    clearProgress();
    m_output.say(ConsoleOutput::Error, QStringLiteral("batchmp3: ") + text + u'\n');
}

void TextFormatter::showProgress(int position, qint32 percent)
{
    if (m_quiet || !m_terminal)
        return;
    const QString left = TimeLeftText(m_timeLeft.seconds(position, percent));
    const BatchFile &file = m_engine.file(position);
    const QString name = file.isTrack() ? ParseFileName(file.label())
                                        : rt::displayFileName(ParseFileName(file.input));
    const QString line =
        ProgressLine(position + 1, m_engine.count(), name, percent, left, terminalColumns());
    if (line == m_shownLine)
        return;
    m_shownLine = line;
    m_output.say(ConsoleOutput::Out, QStringLiteral("\r") + line + QStringLiteral("\x1b[K"));
}

void TextFormatter::clearProgress()
{
    if (!m_shownLine.isEmpty())
        m_output.say(ConsoleOutput::Out, QStringLiteral("\r\x1b[K"));
    m_shownLine.clear();
}

void TextFormatter::finished(const BatchReport &report)
{
    clearProgress();
    for (const QString &problem : report.problems())
        warn(problem);
    const QList<NotConverted> notConverted = report.notConverted();
    const QString summary = Summary(report.total(), notConverted, report.interrupted(),
                                    report.notes(), report.skipped()) +
                            RecordLines(report.updated(), report.pruned());
    if (!m_quiet)
        m_output.say(ConsoleOutput::Out, summary);
    const bool somethingWrong =
        !notConverted.isEmpty() || report.interrupted() || !report.notes().isEmpty();
    // A summary that could not reach standard output goes to standard error.
    if ((m_quiet && somethingWrong) || (!m_quiet && m_output.lost(ConsoleOutput::Out)))
        m_output.say(ConsoleOutput::Error, summary);
}

bool TextFormatter::delivered() const
{
    return !m_output.lost(ConsoleOutput::Out) && !m_output.lost(ConsoleOutput::Error);
}
