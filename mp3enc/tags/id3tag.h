#pragma once

#include <QByteArray>
#include <QString>

struct AudioTags;

// The tags of one MP3, rendered in memory: the ID3v2 tag goes in front of the frames, the
// ID3v1 tag behind them. Each is empty when it would say nothing, so an untagged input gives
// exactly the lame command's bytes.
struct Id3Tags
{
    QByteArray v2;
    QByteArray v1;
    QString notice; // what of the input's tags was left out, in the user's words; empty: nothing
};

// ID3v2.4 gives the tag's size and each frame's in 28 bits, 7 to a byte: a tag or frame larger
// than this cannot be written (its size would wrap), and is left out.
constexpr qint64 MaxId3v2Size = (qint64(1) << 28) - 1;

Id3Tags renderId3Tags(const AudioTags &tags);
