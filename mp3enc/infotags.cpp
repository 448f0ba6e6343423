#include "mp3enc/infotags.h"

#include "mp3enc/sndfilereader.h"

#include <QStringDecoder>
#include <sndfile.h>

bool InfoTags::isEmpty() const
{
    return title.isEmpty() && artist.isEmpty() && album.isEmpty() && date.isEmpty() &&
           track.isEmpty() && genre.isEmpty() && comment.isEmpty();
}

QString decodeInfoText(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    QStringDecoder gb18030("GB18030");
    if (gb18030.isValid())
        return gb18030.decode(bytes);
    return text; // no GB18030 converter: keep what UTF-8 made of it rather than nothing
}

InfoTags readInfoTags(const SndFileReader &reader)
{
    const auto field = [&reader](int type) { return decodeInfoText(reader.infoString(type)); };
    InfoTags tags;
    tags.title = field(SF_STR_TITLE);
    tags.artist = field(SF_STR_ARTIST);
    tags.album = field(SF_STR_ALBUM);
    tags.date = field(SF_STR_DATE);
    tags.track = field(SF_STR_TRACKNUMBER);
    tags.genre = field(SF_STR_GENRE);
    tags.comment = field(SF_STR_COMMENT);
    return tags;
}
