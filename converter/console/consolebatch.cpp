#include "converter/console/consolebatch.h"

#include "converter/main/batchtext.h"
#include "converter/main/pathhelpers.h"
#include "runtime/comerror.h"
#include "runtime/filename.h"
#include "runtime/formloader.h"

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

ConsoleBatch::ConsoleBatch(rt::ComponentHost *mp3, FoundFiles found,
                           std::optional<QString> outputFolder, bool quiet, QObject *parent)
    : QObject(parent), m_mp3(mp3), m_found(std::move(found)),
      m_outputFolder(std::move(outputFolder)), m_quiet(quiet),
      m_terminal(::isatty(STDOUT_FILENO) == 1),
      m_lookAhead(
          [this](int position) -> LookAhead::Pair {
              const OutputChoice choice =
                  ChooseOutput(m_found.files[position], m_found.subfolders.value(position),
                               m_outputFolder, false, m_written);
              if (choice.path.isEmpty())
                  return std::nullopt;
              return std::pair{m_found.files[position], choice.path};
          },
          [this](const QString &input, const QString &output) { m_mp3.prefetch(input, output); })
{
    // Events come from the event loop: nothing may escape into it, and the batch goes on.
    const auto guarded = [this](auto handler) {
        return [this, handler](QVariantList &args) {
            try {
                handler(args);
            } catch (const std::exception &error) {
                handlerFailed(rt::reasonOf(error));
            }
        };
    };
    mp3->onEvent(Mp3Enc::ActFrame,
                 guarded([this](QVariantList &args) { onFrame(args.value(0).toInt()); }));
    mp3->onEvent(Mp3Enc::ThreadEnded, guarded([this](QVariantList &) { onEnded(); }));
    for (const QString &name : std::as_const(m_found.missing))
        m_notConverted.append({rt::displayFileName(name), NotFound});
    for (const QString &name : std::as_const(m_found.notRegular))
        m_notConverted.append({rt::displayFileName(name), NotRegular});
    for (const QString &name : std::as_const(m_found.unreadable))
        m_notConverted.append({rt::displayFileName(name), FolderUnreadable});
    for (const QString &name : std::as_const(m_found.tooLong))
        m_notConverted.append({rt::displayFileName(name), PathTooLong});
}

ConsoleBatch::Identity ConsoleBatch::identityOf(const QString &path)
{
    struct stat st = {};
    if (::stat(rt::encodeFileName(path).constData(), &st) != 0)
        return {};
    return {true, quint64(st.st_dev), quint64(st.st_ino)};
}

QString ConsoleBatch::shown(int position) const
{
    return rt::displayFileName(m_found.files.value(position));
}

void ConsoleBatch::start()
{
    if (m_done)
        return;
    if (m_found.files.isEmpty() && m_notConverted.isEmpty()) {
        say(stderr, QStringLiteral("batchmp3: 给出的文件夹中没有要转换的音频文件\n"));
        m_done = true;
        emit finished(1);
        return;
    }
    for (const QString &file : std::as_const(m_found.files)) {
        m_sizes.append(sizeOf(file));
        m_totalBytes += double(m_sizes.last());
    }
    m_clock.start();
    startFrom(0);
}

// As the window's file-finished handling: a file that cannot be started is passed over and the
// next one tried, until one starts or the batch is complete.
void ConsoleBatch::startFrom(int position)
{
    for (int k = position; k < m_found.files.size(); ++k) {
        m_position = k;
        const QString input = m_found.files[k];
        QString output;
        try {
            output = *BatchOutputPath(input, m_found.subfolders.value(k), m_outputFolder, true,
                                      m_written);
            m_pendingBefore = identityOf(output);
            m_mp3.open(input, output);
            m_mp3.encode();
        } catch (const std::exception &error) {
            notConverted(k, rt::reasonOf(error));
            continue;
        }
        m_pending = output;
        try {
            m_frameCount = m_mp3.frameCount();
        } catch (const std::exception &error) {
            m_frameCount = 0; // the line shows 0 % until the file ends
            warn(QStringLiteral("无法读取进度：") + rt::reasonOf(error));
        }
        showProgress(0);
        m_lookAhead.after(k, int(m_found.files.size()));
        return;
    }
    finish(m_notConverted.isEmpty() ? 0 : 1, false);
}

void ConsoleBatch::onFrame(qint32 frame)
{
    if (!m_done && !m_pending.isEmpty())
        showProgress(batchtext::FramePercent(frame, m_frameCount));
}

void ConsoleBatch::onEnded()
{
    // A stopped encoder may still report its end.
    if (m_done || m_pending.isEmpty())
        return;
    const QString output = std::exchange(m_pending, {});
    const QString failure = encoderFailure();
    if (!failure.isEmpty())
        notConverted(m_position, failure);
    else if (m_written.add(output))
        converted(m_position, output, encoderNotice());
    else
        notConverted(m_position, NotWritten);
    startFrom(m_position + 1);
}

QString ConsoleBatch::encoderNotice() const
{
    try {
        return m_mp3.lastNotice();
    } catch (const std::exception &error) {
        return QStringLiteral("无法得知有无内容没有放进MP3：") + rt::reasonOf(error);
    }
}

QString ConsoleBatch::encoderFailure() const
{
    try {
        return m_mp3.lastError();
    } catch (const std::exception &error) {
        return rt::reasonOf(error);
    }
}

// A handler threw: the file in hand is named with the reason and the batch goes on with the
// next; should that fail too, the batch ends and says so.
void ConsoleBatch::handlerFailed(const QString &reason)
{
    if (m_done)
        return;
    try {
        if (!std::exchange(m_pending, {}).isEmpty()) {
            m_mp3.stop();
            notConverted(m_position, reason);
        }
        startFrom(m_position + 1);
    } catch (const std::exception &error) {
        warn(QStringLiteral("转换无法继续：") + rt::reasonOf(error));
        finish(1, false);
    }
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

void ConsoleBatch::converted(int position, const QString &output, const QString &notice)
{
    m_doneBytes += double(m_sizes.value(position));
    if (!notice.isEmpty())
        m_notes.append({shown(position), notice});
    if (m_quiet || m_terminal)
        return;
    const int n = int(m_found.files.size());
    say(stdout, ConvertedLine(position + 1, n, shown(position), rt::displayFileName(output)) +
                    (notice.isEmpty() ? QString() : QStringLiteral("（") + notice + u'）') + u'\n');
}

void ConsoleBatch::notConverted(int position, const QString &reason)
{
    // A file that needs no more work no longer counts in the time left.
    m_totalBytes -= double(m_sizes.value(position));
    m_notConverted.append({shown(position), reason});
    if (m_quiet || m_terminal)
        return;
    const int n = int(m_found.files.size());
    say(stdout, NotConvertedLine(position + 1, n, shown(position), reason) + u'\n');
}

void ConsoleBatch::showProgress(qint32 percent)
{
    if (m_quiet || !m_terminal)
        return;
    const double current = double(m_sizes.value(m_position)) * percent / 100.0;
    const double elapsed = double(m_clock.elapsed()) / 1000.0;
    const QString left = TimeLeftText(SecondsLeft(elapsed, m_doneBytes + current, m_totalBytes));
    const QString name = rt::displayFileName(ParseFileName(m_found.files.value(m_position)));
    const QString line = ProgressLine(m_position + 1, int(m_found.files.size()), name, percent,
                                      left, terminalColumns());
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
    try {
        m_mp3.stop();
    } catch (const std::exception &error) {
        warn(QStringLiteral("未能停止编码器：") + rt::reasonOf(error));
    }
    const qsizetype n = m_found.files.size();
    int next = 0;
    if (m_position >= 0) {
        next = m_position + 1;
        // The file may have been completed, and linked into place, just before the stop.
        const QString output = std::exchange(m_pending, {});
        const Identity now = identityOf(output);
        if (!output.isEmpty() && now.exists && !(now == m_pendingBefore) &&
            encoderFailure().isEmpty() && m_written.add(output))
            converted(m_position, output);
        else if (!output.isEmpty())
            notConverted(m_position, Interrupted);
    }
    for (int k = next; k < n; ++k)
        m_notConverted.append({shown(k), NotStarted});
    finish(128 + signalNumber, true);
}

void ConsoleBatch::finish(int exitCode, bool interrupted)
{
    if (m_done)
        return;
    m_done = true;
    clearProgress();
    const int total =
        int(m_found.files.size() + m_found.missing.size() + m_found.notRegular.size() +
            m_found.unreadable.size() + m_found.tooLong.size());
    const QString summary = Summary(total, m_notConverted, interrupted, m_notes);
    if (!m_quiet)
        say(stdout, summary);
    const bool somethingWrong = !m_notConverted.isEmpty() || interrupted || !m_notes.isEmpty();
    if ((m_quiet && somethingWrong) || (!m_quiet && m_stdoutLost))
        say(stderr, summary);
    // What was to be said could not all be said: no success.
    emit finished(exitCode == 0 && (m_stdoutLost || m_stderrLost) ? 1 : exitCode);
}
