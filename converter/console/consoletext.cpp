#include "converter/console/consoletext.h"

#include "converter/batch/batchfigures.h"
#include "runtime/comerror.h"
#include "runtime/filename.h"

#include <QMap>
#include <cmath>
#include <sys/stat.h>
#include <unistd.h>

namespace consoletext {

namespace {

const QString Ellipsis = QStringLiteral("…");

bool isWide(char32_t c)
{
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1FAFF) ||
           (c >= 0x20000 && c <= 0x3FFFD);
}

QString counter(int k, int n)
{
    return QStringLiteral("[%1/%2]").arg(k).arg(n);
}

} // namespace

std::optional<qint64> SecondsLeft(double elapsedSeconds, double done, double total)
{
    // Less than a second or a percent in, the rate says little.
    if (elapsedSeconds < 1.0 || done <= 0.0 || total <= 0.0 || done < total / 100.0)
        return std::nullopt;
    const double left = elapsedSeconds * std::max(total - done, 0.0) / done;
    return qint64(std::llround(left));
}

QString TimeLeftText(std::optional<qint64> seconds)
{
    if (!seconds)
        return QStringLiteral("剩余时间估算中");
    const qint64 s = *seconds;
    if (s < 60)
        return QStringLiteral("剩余约 %1秒").arg(s);
    if (s < 3600)
        return QStringLiteral("剩余约 %1分%2秒").arg(s / 60).arg(s % 60, 2, 10, QChar(u'0'));
    return QStringLiteral("剩余约 %1小时%2分").arg(s / 3600).arg(s / 60 % 60, 2, 10, QChar(u'0'));
}

int DisplayWidth(const QString &text)
{
    int width = 0;
    for (const char32_t c : text.toUcs4())
        width += isWide(c) ? 2 : 1;
    return width;
}

QString ElideMiddle(const QString &name, int columns)
{
    if (DisplayWidth(name) <= columns)
        return name;
    if (columns <= 1)
        return columns == 1 ? Ellipsis : QString();
    const QList<uint> chars = name.toUcs4();
    // Keep as much of the head and the tail (where the ending is) as fits.
    QString head, tail;
    int room = columns - 1;
    qsizetype front = 0, back = chars.size() - 1;
    bool fromFront = true;
    while (front <= back) {
        const char32_t c = fromFront ? chars[front] : chars[back];
        const int w = isWide(c) ? 2 : 1;
        if (w > room)
            break;
        room -= w;
        if (fromFront) {
            head += QString::fromUcs4(&c, 1);
            ++front;
        } else {
            tail.prepend(QString::fromUcs4(&c, 1));
            --back;
        }
        fromFront = !fromFront;
    }
    return head + Ellipsis + tail;
}

QString TerminalText(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (!batchfigures::IsControlCharacter(u))
            shown += c;
        else if (u <= 0xFF)
            shown +=
                QStringLiteral("\\x") + QString::number(u, 16).toUpper().rightJustified(2, u'0');
        else // a mark that would turn or break the line: U+202E as \u202E
            shown += QStringLiteral("\\u") + QString::number(u, 16).toUpper();
    }
    return shown;
}

QString FitToColumns(const QString &text, int columns)
{
    QString fitted;
    int width = 0;
    for (const char32_t c : text.toUcs4()) {
        width += isWide(c) ? 2 : 1;
        if (width > columns)
            break;
        fitted += QString::fromUcs4(&c, 1);
    }
    return fitted;
}

QString ProgressLine(int k, int n, const QString &name, qint32 percent, const QString &timeLeft,
                     int columns)
{
    // One column stays free: a line that fills the last column wraps on some terminals, and a
    // wrapped line cannot be redrawn in place. The name gives way first, then the time left.
    const int usable = columns - 1;
    const QString head = counter(k, n) + u' ';
    const QString percentText = QStringLiteral("  ") + batchfigures::PercentText(percent);
    QString left = QStringLiteral("  ") + timeLeft;
    constexpr int NameAtLeast = 8;
    int room = usable - DisplayWidth(head) - DisplayWidth(percentText) - DisplayWidth(left);
    if (room < NameAtLeast) {
        left.clear();
        room = usable - DisplayWidth(head) - DisplayWidth(percentText);
    }
    const QString line =
        head + ElideMiddle(TerminalText(name), std::max(room, 1)) + percentText + left;
    return FitToColumns(line, usable);
}

QString ConvertedLine(int k, int n, const QString &input, const QString &output)
{
    return counter(k, n) + QStringLiteral(" 已转换：") + TerminalText(input) +
           QStringLiteral(" → ") + TerminalText(output);
}

QString NotConvertedLine(int k, int n, const QString &input, const QString &reason)
{
    return counter(k, n) + QStringLiteral(" 未转换：") + TerminalText(input) +
           QStringLiteral("（") + TerminalText(reason) + QStringLiteral("）");
}

// How many of `total` were converted, each that was not with why, and how many were skipped.
static QString SummaryOfFiles(int total, const QList<NotConverted> &notConverted, bool interrupted,
                              const QList<NotConverted> &skipped)
{
    QString text;
    if (interrupted)
        text += QStringLiteral("转换已中断。\n");
    const qsizetype failed = notConverted.size();
    const qsizetype converted = total - failed - skipped.size();
    if (failed == 0 && skipped.isEmpty())
        return text + QStringLiteral("全部 %1 个文件已转换为MP3。\n").arg(total);
    if (failed == 0)
        text += QStringLiteral("%1 个文件中 %2 个已转换。\n").arg(total).arg(converted);
    else
        text += QStringLiteral("%1 个文件中 %2 个已转换，%3 个未转换：\n")
                    .arg(total)
                    .arg(converted)
                    .arg(failed);
    for (const NotConverted &file : notConverted)
        text += QStringLiteral("  ") + TerminalText(file.file) + QStringLiteral("：") +
                TerminalText(file.reason) + u'\n';
    QMap<QString, int> byReason;
    for (const NotConverted &file : skipped)
        ++byReason[file.reason];
    for (auto it = byReason.cbegin(); it != byReason.cend(); ++it)
        text += QStringLiteral("%1，跳过 %2 个文件。\n").arg(it.key()).arg(it.value());
    return text;
}

QString Summary(int total, const QList<NotConverted> &notConverted, bool interrupted,
                const QList<NotConverted> &notes, const QList<NotConverted> &skipped)
{
    QString text = SummaryOfFiles(total, notConverted, interrupted, skipped);
    if (!notes.isEmpty())
        text += NotesHeading + u'\n';
    for (const NotConverted &file : notes)
        text += QStringLiteral("  ") + TerminalText(file.file) + QStringLiteral("：") +
                TerminalText(file.reason) + u'\n';
    return text;
}

QString RecordLines(const QList<NotConverted> &updated, const QList<NotConverted> &pruned)
{
    QString text;
    const auto section = [&text](const QString &heading, const QList<NotConverted> &files) {
        if (files.isEmpty())
            return;
        text += heading + u'\n';
        for (const NotConverted &file : files)
            text += QStringLiteral("  ") + TerminalText(file.file) + QStringLiteral("：") +
                    TerminalText(file.reason) + u'\n';
    };
    section(QStringLiteral("按输出目录的记录更新了以下文件："), updated);
    section(QStringLiteral("清理输出目录（--prune）："), pruned);
    return text;
}

} // namespace consoletext
