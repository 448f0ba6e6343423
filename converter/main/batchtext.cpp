#include "converter/main/batchtext.h"

#include "converter/main/audiofiles.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace batchtext {

QString TrimBlanks(const QString &s)
{
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && s.at(begin) == u' ')
        ++begin;
    while (end > begin && s.at(end - 1) == u' ')
        --end;
    return s.mid(begin, end - begin);
}

std::optional<QString> OutputFileName(const QString &inputFileName)
{
    const QString name = TrimBlanks(inputFileName);
    if (IsOtherAudioName(name))
        return name.left(name.lastIndexOf(u'.') + 1) + Mp3Ending;
    if (name.size() < 3)
        return std::nullopt;
    return name.left(name.size() - 3) + Mp3Ending;
}

qint32 FramePercent(qint32 frame, qint32 frameCount)
{
    if (frameCount <= 0)
        return 0;
    const double percent = double(qint64(frame) * 100) / double(frameCount);
    // The default rounding mode rounds halves to even.
    const double rounded = std::nearbyint(percent);
    constexpr double lowest = std::numeric_limits<qint32>::min();
    constexpr double highest = std::numeric_limits<qint32>::max();
    return qint32(std::clamp(rounded, lowest, highest));
}

QString PercentText(qint32 percent)
{
    return QString::number(percent) + PercentSuffix;
}

double Round2(double value)
{
    const double rounded = std::nearbyint(value * 100.0) / 100.0;
    return rounded == 0.0 ? 0.0 : rounded; // never "-0"
}

double TimeFigure(double elapsedSeconds, qint32 frame)
{
    if (frame <= 0)
        return 0.0;
    return Round2(elapsedSeconds / (double(frame) * FrameSeconds));
}

QString NumberText(double value)
{
    return QString::number(value, 'g', 15);
}

QString ProgressLine(const QString &percentText, double timeFigure)
{
    return DonePrefix + percentText + TimeSeparator + NumberText(timeFigure);
}

QString TotalCaption(const QString &fileName, qint32 bitRate)
{
    return TotalPrefix + fileName + CrLf + TotalSecondLine + QString::number(bitRate) + TotalSuffix;
}

QString CompletionMessage(bool userFolder, const QString &folder,
                          const QList<NotConverted> &notConverted, const QStringList &problems,
                          const QList<NotConverted> &notes)
{
    QString message = Congratulations + CrLf;
    message += userFolder ? UserFolderLine + folder : DefaultFolderLine;
    if (!notConverted.isEmpty())
        message += CrLf + QStringLiteral("其中%1个文件未能转换：").arg(notConverted.size());
    for (qsizetype i = 0; i < notConverted.size() && i < MaxNamedSkips; ++i)
        message += CrLf + notConverted[i].file + QStringLiteral("：") + notConverted[i].reason;
    if (notConverted.size() > MaxNamedSkips)
        message += CrLf + QStringLiteral("……等%1个").arg(notConverted.size());
    if (!notes.isEmpty())
        message += CrLf + NotesHeading;
    for (qsizetype i = 0; i < notes.size() && i < MaxNamedSkips; ++i)
        message += CrLf + notes[i].file + QStringLiteral("：") + notes[i].reason;
    if (notes.size() > MaxNamedSkips)
        message += CrLf + QStringLiteral("……等%1个").arg(notes.size());
    for (const QString &problem : problems)
        message += CrLf + QStringLiteral("出错：") + problem;
    return message;
}

bool IsControlCharacter(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

} // namespace batchtext
