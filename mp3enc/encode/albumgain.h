#pragma once

#include "mp3enc/encode/loudnessmeter.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <memory>
#include <mutex>
#include <vector>

// The ReplayGain meters of the files an encoder converted, kept until their album is complete:
// the last file's, set on the worker thread as it is put in place, and each album's, built by
// the host naming the album each file belongs to.
class AlbumGain
{
public:
    using Meter = std::shared_ptr<const LoudnessMeter>;

    // The file just put in place at `path`, and its meter (none: not measured).
    void setLast(const QString &path, Meter meter);
    // The last file's own gain and peak; empty when it was not measured.
    std::optional<GainFigures> lastTrack() const;
    // The last file converted belongs to `album`; false when it was not measured.
    bool addLast(const QString &album);
    // An MP3 of `album` that was not converted again, with the meter of its input.
    void add(const QString &album, const QString &path, Meter meter);
    // Writes the album's gain and peak, with each track's own, into every MP3 of it, and
    // forgets the album. Returns the MP3s that could not be rewritten, each with the reason
    // ("path：reason"); empty when all were.
    QStringList write(const QString &album);
    void forget(const QString &album);
    int tracks(const QString &album) const;

private:
    struct Track
    {
        QString path;
        Meter meter;
    };
    mutable std::mutex m_mutex; // m_lastPath and m_last: the worker sets them
    QString m_lastPath;
    Meter m_last;
    QHash<QString, std::vector<Track>> m_albums;
};
