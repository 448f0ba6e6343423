#include "converter/files/audionames.h"

#include <QStringList>
#include <algorithm>
#include <iterator>

namespace {

// The kinds the encoder reads besides WAV, by the endings their files carry.
constexpr const char *OtherAudioEndings[] = {"flac", "aif", "aiff", "aifc", "ogg", "oga",
                                             "opus", "w64", "rf64", "caf",  "au",  "snd"};

} // namespace

bool IsWavName(const QString &path)
{
    return path.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive);
}

bool IsOtherAudioName(const QString &path)
{
    const qsizetype dot = path.lastIndexOf(u'.');
    if (dot < 0 || path.indexOf(u'/', dot) >= 0)
        return false;
    const QStringView ending = QStringView(path).sliced(dot + 1);
    return std::any_of(std::begin(OtherAudioEndings), std::end(OtherAudioEndings),
                       [ending](const char *known) {
                           return ending.compare(QLatin1String(known), Qt::CaseInsensitive) == 0;
                       });
}

bool IsAudioName(const QString &path)
{
    return IsWavName(path) || IsOtherAudioName(path);
}

QString AudioNamePatterns()
{
    QStringList patterns{QStringLiteral("*.wav")};
    for (const char *ending : OtherAudioEndings)
        patterns << QStringLiteral("*.") + QLatin1String(ending);
    return patterns.join(u' ');
}
