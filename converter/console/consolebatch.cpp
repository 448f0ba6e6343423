#include "converter/console/consolebatch.h"

#include "converter/batch/batchfigures.h"
#include "converter/files/pathhelpers.h"
#include "runtime/comerror.h"
#include "runtime/componenthost.h"
#include "runtime/filename.h"

#include <QHash>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <sys/ioctl.h>
#include <sys/stat.h>
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

qint64 sizeOf(const QString &path)
{
    struct stat st = {};
    return ::stat(rt::encodeFileName(path).constData(), &st) == 0 ? qint64(st.st_size) : 0;
}

} // namespace

ConsoleBatch::ConsoleBatch(BatchEngine &engine, FoundFiles found, bool quiet, QObject *parent)
    : QObject(parent), m_engine(engine), m_found(std::move(found)), m_quiet(quiet),
      m_terminal(::isatty(STDOUT_FILENO) == 1)
{
    connect(&m_engine, &BatchEngine::planned, this, &ConsoleBatch::onPlanned);
    connect(&m_engine, &BatchEngine::fileStarted, this,
            [this](int position, const QString &) { onStarted(position); });
    connect(&m_engine, &BatchEngine::progress, this, &ConsoleBatch::onProgress);
    connect(&m_engine, &BatchEngine::fileEnded, this, &ConsoleBatch::onEnded);
    connect(&m_engine, &BatchEngine::finished, this, &ConsoleBatch::onFinished);
}

QString ConsoleBatch::shown(int position) const
{
    return m_engine.file(position).label();
}

// The time left is reckoned in bytes of input; a track takes its share of its album's file.
void ConsoleBatch::onPlanned(int count)
{
    QHash<QString, qint64> albumFrames;
    for (int k = 0; k < count; ++k) {
        const BatchFile &file = m_engine.file(k);
        if (file.isTrack())
            albumFrames[file.input] = std::max(albumFrames[file.input], file.first + file.count);
    }
    for (int k = 0; k < count; ++k) {
        const BatchFile &file = m_engine.file(k);
        const qint64 bytes = sizeOf(file.input);
        m_sizes.append(file.isTrack() ? qint64(double(bytes) * double(file.count) /
                                               double(albumFrames.value(file.input, 1)))
                                      : bytes);
        m_totalBytes += double(m_sizes.last());
    }
}

void ConsoleBatch::start()
{
    if (m_done)
        return;
    if (m_found.files.isEmpty() && m_found.complete()) {
        say(stderr, QStringLiteral("batchmp3: 给出的文件夹中没有要转换的音频文件\n"));
        m_done = true;
        emit finished(1);
        return;
    }
    m_clock.start();
    m_engine.start(m_found);
}

void ConsoleBatch::onStarted(int position)
{
    showProgress(position, 0);
}

void ConsoleBatch::onProgress(int position, qint32 frame, qint32 frameCount)
{
    showProgress(position, batchfigures::FramePercent(frame, frameCount));
}

void ConsoleBatch::onEnded(int position, const FileOutcome &outcome)
{
    const int n = m_engine.count();
    switch (outcome.kind) {
    case FileOutcome::Converted:
        m_doneBytes += double(m_sizes.value(position));
        if (!m_quiet && !m_terminal)
            say(stdout, ConvertedLine(position + 1, n, shown(position),
                                      rt::displayFileName(outcome.output)) +
                            (outcome.reason.isEmpty()
                                 ? QString()
                                 : QStringLiteral("（") + outcome.reason + QStringLiteral("）")) +
                            u'\n');
        return;
    case FileOutcome::NotStarted:
        return;
    case FileOutcome::Skipped: // counted, not listed: a run over a converted library skips all
        m_totalBytes -= double(m_sizes.value(position));
        return;
    case FileOutcome::Interrupted:
    case FileOutcome::NotConverted:
        break;
    }
    // A file that needs no more work no longer counts in the time left.
    m_totalBytes -= double(m_sizes.value(position));
    if (!m_quiet && !m_terminal)
        say(stdout,
            NotConvertedLine(position + 1, n, shown(position), BatchReport::reasonOf(outcome)) +
                u'\n');
}

// Flushed at once: the terminal's line, and a pipe's reader, see each step as it happens. An
// output that takes nothing more (a reader gone, a full disk) is given up: the files are still
// converted, the summary goes to standard error, and the exit status tells of it.
void ConsoleBatch::say(std::FILE *stream, const QString &text)
{
    bool &lost = stream == stdout ? m_stdoutLost : m_stderrLost;
    if (lost)
        return;
    errno = 0;
    if (std::fputs(text.toUtf8().constData(), stream) >= 0 && std::fflush(stream) == 0)
        return;
    const int error = errno ? errno : EIO;
    std::clearerr(stream);
    lost = true;
    if (stream == stdout)
        say(stderr, QStringLiteral("batchmp3: 无法写入标准输出（%1），转换继续\n")
                        .arg(QString::fromLocal8Bit(std::strerror(error))));
}

void ConsoleBatch::warn(const QString &text)
{
    clearProgress();
    say(stderr, QStringLiteral("batchmp3: ") + text + u'\n');
}

void ConsoleBatch::showProgress(int position, qint32 percent)
{
    if (m_quiet || !m_terminal)
        return;
    const double current = double(m_sizes.value(position)) * percent / 100.0;
    const double elapsed = double(m_clock.elapsed()) / 1000.0;
    const QString left = TimeLeftText(SecondsLeft(elapsed, m_doneBytes + current, m_totalBytes));
    const BatchFile &file = m_engine.file(position);
    const QString name = file.isTrack() ? ParseFileName(file.label())
                                        : rt::displayFileName(ParseFileName(file.input));
    const QString line =
        ProgressLine(position + 1, m_engine.count(), name, percent, left, terminalColumns());
    if (line == m_shownLine)
        return;
    m_shownLine = line;
    say(stdout, QStringLiteral("\r") + line + QStringLiteral("\x1b[K"));
}

void ConsoleBatch::clearProgress()
{
    if (!m_shownLine.isEmpty())
        say(stdout, QStringLiteral("\r\x1b[K"));
    m_shownLine.clear();
}

void ConsoleBatch::interrupt(int signalNumber)
{
    if (m_done)
        return;
    if (m_engine.running())
        m_engine.interrupt(signalNumber);
    else // before the first file
        m_engine.cancel(m_found, signalNumber);
}

void ConsoleBatch::onFinished()
{
    if (m_done)
        return;
    m_done = true;
    clearProgress();
    const BatchReport &report = m_engine.report();
    for (const QString &problem : report.problems())
        warn(problem);
    const QList<NotConverted> notConverted = report.notConverted();
    const QString summary = Summary(report.total(), notConverted, report.interrupted(),
                                    report.notes(), report.skipped());
    if (!m_quiet)
        say(stdout, summary);
    const bool somethingWrong =
        !notConverted.isEmpty() || report.interrupted() || !report.notes().isEmpty();
    if ((m_quiet && somethingWrong) || (!m_quiet && m_stdoutLost))
        say(stderr, summary);
    // What was to be said could not all be said: no success.
    emit finished(report.exitStatus(!m_stdoutLost && !m_stderrLost));
}
