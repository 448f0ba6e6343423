#include "converter/batch/batchfigures.h"

#include "converter/files/audionames.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace batchfigures {

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

bool IsControlCharacter(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
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

} // namespace batchfigures
