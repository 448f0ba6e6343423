#include "mp3enc/encode/albumgain.h"

#include "mp3enc/tags/gainframes.h"
#include "mp3enc/tags/retag.h"

void AlbumGain::setLast(const QString &path, Meter meter)
{
    std::lock_guard lock(m_mutex);
    m_lastPath = path;
    m_last = std::move(meter);
}

std::optional<GainFigures> AlbumGain::lastTrack() const
{
    std::lock_guard lock(m_mutex);
    return m_last ? trackFigures(*m_last) : std::nullopt;
}

bool AlbumGain::addLast(const QString &album)
{
    std::lock_guard lock(m_mutex);
    if (!m_last || m_lastPath.isEmpty())
        return false;
    m_albums[album].push_back({m_lastPath, m_last});
    return true;
}

void AlbumGain::add(const QString &album, const QString &path, Meter meter)
{
    m_albums[album].push_back({path, std::move(meter)});
}

QStringList AlbumGain::write(const QString &album)
{
    const std::vector<Track> tracks = m_albums.take(album);
    std::vector<const LoudnessMeter *> meters;
    for (const Track &track : tracks)
        meters.push_back(track.meter.get());
    const std::optional<GainFigures> figures = albumFigures(meters);
    QStringList failures;
    for (const Track &track : tracks) {
        QString error = QStringLiteral("无法测得专辑的响度");
        const std::optional<GainFigures> own = trackFigures(*track.meter);
        const bool written =
            figures && own &&
            retag::replaceId3v2(
                track.path,
                [&](const QByteArray &tag) -> std::optional<QByteArray> {
                    return withGainFrames(tag.isEmpty() ? emptyId3v2Tag() : tag,
                                          trackGainFrames(*own) + albumGainFrames(*figures),
                                          std::nullopt, &error);
                },
                &error);
        if (!written)
            failures.append(track.path + QStringLiteral("：") + error);
    }
    return failures;
}

void AlbumGain::forget(const QString &album)
{
    m_albums.remove(album);
}

int AlbumGain::tracks(const QString &album) const
{
    const auto found = m_albums.constFind(album);
    return found == m_albums.constEnd() ? 0 : int(found->size());
}
