#pragma once

#include <QByteArray>

struct AudioTags;

// The tags of one MP3, rendered in memory: the ID3v2 tag goes in front of the frames, the
// ID3v1 tag behind them. Each is empty when it would say nothing, so an untagged input gives
// exactly the lame command's bytes.
struct Id3Tags
{
    QByteArray v2;
    QByteArray v1;
};

Id3Tags renderId3Tags(const AudioTags &tags);
