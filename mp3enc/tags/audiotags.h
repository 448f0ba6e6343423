#pragma once

#include <QByteArray>
#include <QString>

class SndFileReader;

// A cover larger than this is left out of the MP3 (and not read): players show covers of a few
// hundred KB, and each file's picture is held in memory while it converts.
constexpr qint64 MaxCoverBytes = 16 << 20;

// The tags of an input as far as they go into an MP3.
struct AudioTags
{
    QString title;
    QString artist;
    QString album;
    QString albumArtist;
    QString date;
    QString track; // "7" or "7/12"
    QString disc;  // "1" or "1/2"
    QString genre;
    QString comment;
    QString composer;

    struct Picture
    {
        QByteArray mimeType; // "image/jpeg", "image/png"
        QByteArray data;     // empty: no picture
        QString description;
        bool front = false; // the file calls it the front cover
        // The size of the picture chosen, when it was too large to read (data stays empty).
        qint64 leftOutBytes = 0;
        bool chosen() const { return !data.isEmpty() || leftOutBytes > 0; }
    };
    Picture cover; // the front cover, else the first picture the file holds

    bool isEmpty() const;
};

// INFO text has no declared encoding: valid UTF-8 is taken as UTF-8, anything else as
// GB18030, which is what Chinese Windows tools write.
QString decodeInfoText(const QByteArray &bytes);

// The tags of the file `reader` has open (not whatever its name leads to now): FLAC and Ogg
// Vorbis/Opus comments and pictures (read by us: their bytes are decoded by decodeCommentText),
// the ID3v2 tag of an AIFF, a WAV or a FLAC (read with TagLib), a WAV's LIST/INFO. For other
// containers, and fields none of these has, the text libsndfile read.
AudioTags readAudioTags(const SndFileReader &reader);
