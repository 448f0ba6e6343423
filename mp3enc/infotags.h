#pragma once

#include <QByteArray>
#include <QString>

class SndFileReader;

// The text tags a WAV file carries in its LIST/INFO chunk, as far as they go into an MP3.
struct InfoTags
{
    QString title;   // INAM
    QString artist;  // IART
    QString album;   // IPRD
    QString date;    // ICRD
    QString track;   // ITRK
    QString genre;   // IGNR
    QString comment; // ICMT

    bool isEmpty() const;
};

// INFO text has no declared encoding: valid UTF-8 is taken as UTF-8, anything else as
// GB18030, which is what Chinese Windows tools write.
QString decodeInfoText(const QByteArray &bytes);

InfoTags readInfoTags(const SndFileReader &reader);
