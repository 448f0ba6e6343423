#pragma once

#include "runtime/control.h"

#include <QString>
#include <QVariantMap>
#include <utility>

namespace rt {
class ComponentHost;
}

// The binding to the encoder component "MP3ENCLib.Mp3Enc": its dispatch identifiers and typed
// late-bound calls on a hosted instance. Every call throws rt::ComError when the component
// refuses it.
namespace Mp3Enc {

inline const QString ClassName = QStringLiteral("MP3ENCLib.Mp3Enc");

// Members.
inline constexpr rt::DispId BitRate = 1;
inline constexpr rt::DispId DownMix = 7;
inline constexpr rt::DispId AllowDownSample = 8;
inline constexpr rt::DispId Encode = 9;
inline constexpr rt::DispId Stop = 10;
inline constexpr rt::DispId Open = 11;
inline constexpr rt::DispId GetFrameCount = 12;
inline constexpr rt::DispId Threads = 13;
inline constexpr rt::DispId Prefetch = 14;
inline constexpr rt::DispId LastError = 15;
inline constexpr rt::DispId LastNotice = 16;
inline constexpr rt::DispId RateMode = 17;
inline constexpr rt::DispId VbrQuality = 18;
inline constexpr rt::DispId IfExists = 19;
inline constexpr rt::DispId LastOutput = 20;

// RateMode's values: how BitRate and VbrQuality are used.
inline constexpr qint32 ConstantRate = 0; // every frame at BitRate
inline constexpr qint32 VariableRate = 1; // as large as VbrQuality needs, lame -V
inline constexpr qint32 AverageRate = 2;  // BitRate on average, lame --abr
// IfExists's values: what is done, as the MP3 is put in place, with a file under its name then.
inline constexpr qint32 ReplaceExisting = 0; // replace it (never a write-protected one)
inline constexpr qint32 KeepExisting = 1;    // leave it, and write nothing
inline constexpr qint32 RenameNew = 2;       // the next free "name (N).mp3"
inline constexpr qint32 ReplaceOlder =
    3; // replace what stood there at Open, leave one changed since
inline constexpr rt::DispId Tags = 30;
inline constexpr rt::DispId OpenPart = 31;
inline constexpr rt::DispId PrefetchPart = 32;
inline constexpr rt::DispId EmbeddedCueSheet = 33;
inline constexpr rt::DispId AudioLength = 34;
inline constexpr rt::DispId Retag = 35;
inline constexpr rt::DispId EncoderVersion = 36;
inline constexpr rt::DispId FrontCover = 37;
inline constexpr rt::DispId ReplayGain = 38;
inline constexpr rt::DispId TrackGain = 39;
inline constexpr rt::DispId TrackPeak = 40;
inline constexpr rt::DispId AddToAlbum = 41;
inline constexpr rt::DispId WriteAlbumGain = 42;
inline constexpr rt::DispId MeasureForAlbum = 43;
inline constexpr rt::DispId ForgetAlbum = 44;
inline constexpr rt::DispId FilesToCome = 45;

// ReplayGain's values: which ReplayGain 2.0 frames the MP3s get.
inline constexpr qint32 NoReplayGain = 0;
inline constexpr qint32 TrackGainOnly = 1; // each file's own gain and peak
inline constexpr qint32 AlbumGain = 2;     // and its album's, through AddToAlbum/WriteAlbumGain

// Events.
inline constexpr rt::DispId ActFrame = 1;
inline constexpr rt::DispId ThreadEnded = 2;
inline constexpr rt::DispId Failure = 3; // (ErrCode, ErrStr), then ThreadEnded
// (Album, Problem): every measureForAlbum of the album has ended; Problem names the MP3 whose
// input could not be measured and why, or is empty.
inline constexpr rt::DispId AlbumMeasured = 4;

class Binding
{
public:
    explicit Binding(rt::ComponentHost *host) : m_host(host) {}

    qint32 bitRate() const;
    void setBitRate(qint32 bitsPerSecond);
    void setDownMix(bool on);
    void setAllowDownSample(bool on);
    void setThreads(qint32 threads);
    void setRateMode(qint32 mode);
    void setVbrQuality(qint32 quality);
    void setIfExists(qint32 rule);
    void setReplayGain(qint32 tags);
    // Files the batch will open after those opened or handed over by prefetch.
    void setFilesToCome(qint32 files);

    qint16 open(const QString &inputFile, const QString &outputFile);
    qint16 encode();
    qint16 stop();
    qint32 frameCount() const;
    // A pair to be opened later, which the encoder may convert ahead of its turn.
    void prefetch(const QString &inputFile, const QString &outputFile);
    // Why the last open, encode or the encode it started failed; empty after a success.
    QString lastError() const;
    // What was left out of the file just converted (a cover too large); empty when nothing.
    QString lastNotice() const;
    // Where the file opened last was put in place: the output or the free name taken for it;
    // empty until then, and when IfExists left the file standing there.
    QString lastOutput() const;
    // An input's tags by field ("artist", "albumartist", "album", "title", "track", "disc",
    // "genre", "date"); throws when the file cannot be read.
    QVariantMap tags(const QString &inputFile) const;
    // `count` frames of the input from `first`, as a file of their own (a track of an album in
    // one file), with `tags` over the input's own.
    void openPart(const QString &inputFile, const QString &outputFile, qint64 first, qint64 count,
                  const QVariantMap &tags);
    void prefetchPart(const QString &inputFile, const QString &outputFile, qint64 first,
                      qint64 count, const QVariantMap &tags);
    // The cue sheet a FLAC file carries as text; "" when none.
    QString embeddedCueSheet(const QString &inputFile) const;
    // The input's sample rate and length in frames.
    std::pair<int, qint64> audioLength(const QString &inputFile) const;
    // The MP3 made from the input given the input's tags as they are now (`tags` over them),
    // without encoding, under `newMp3File` if that is another (free) name; "" when done, else
    // why not.
    QString retag(const QString &inputFile, const QString &mp3File, const QString &newMp3File,
                  const QVariantMap &tags) const;
    // The front cover the input carries (JPEG or PNG bytes); empty when none. Throws when the
    // file cannot be read.
    QByteArray frontCover(const QString &inputFile) const;
    // The encoder library's version, which the MP3s it writes depend on.
    QString encoderVersion() const;
    // The file just converted belongs to `album` (a key of the host's); false when it was not
    // measured (ReplayGain off, or nothing to measure).
    bool addToAlbum(const QString &album);
    // Writes the album's frames into every MP3 added to it; the MP3s that could not be
    // rewritten, with reasons, one a line ("" when all were).
    QString writeAlbumGain(const QString &album);
    // The MP3 `mp3`, kept as it is, belongs to `album`: its input (`count` frames from `first`;
    // 0 the whole file) is measured, not encoded, on the encoder's own thread; AlbumMeasured
    // follows. Throws when the input cannot be opened for it.
    void measureForAlbum(const QString &album, const QString &inputFile, const QString &mp3,
                         qint64 first, qint64 count);
    // Drops what was measured of `album`.
    void forgetAlbum(const QString &album);

private:
    rt::Control *control() const;
    rt::ComponentHost *m_host;
};

} // namespace Mp3Enc
