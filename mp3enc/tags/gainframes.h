#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

struct GainFigures;

// ReplayGain 2.0's TXXX frames in an ID3v2 tag.
struct GainFrame
{
    QString name; // "REPLAYGAIN_TRACK_GAIN", ...
    QString value;
    bool operator==(const GainFrame &) const = default;
};

QList<GainFrame> trackGainFrames(const GainFigures &track);
QList<GainFrame> albumGainFrames(const GainFigures &album);

// An ID3v2.4 tag with nothing in it but room, to go in front of an MP3 whose input had no tags,
// so the frames measured while encoding can be written into it afterwards.
QByteArray emptyId3v2Tag();

// `tag` (an ID3v2.3 or 2.4 block, as it stands at the head of an MP3) with every ReplayGain
// frame in it (TXXX "REPLAYGAIN_*" or "replaygain_*", any case) replaced by `frames`, the other
// frames byte for byte as they were. With `size` set the result is exactly that long (the rest
// padding), or empty when the frames do not fit; otherwise it keeps the room it had. Empty,
// with `*error` saying why, for a tag this cannot read (unsynchronised, an extended header).
std::optional<QByteArray> withGainFrames(const QByteArray &tag, const QList<GainFrame> &frames,
                                         std::optional<qint64> size = std::nullopt,
                                         QString *error = nullptr);
// The ReplayGain frames a tag holds, in order.
QList<GainFrame> gainFramesOf(const QByteArray &tag);
