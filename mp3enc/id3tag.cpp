#include "mp3enc/id3tag.h"

#include "mp3enc/audiotags.h"

#include <QRegularExpression>
#include <taglib/attachedpictureframe.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v1genres.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/textidentificationframe.h>

namespace {

// ID3v1 fields are fixed-width Latin-1; the comment shares its room with the track byte.
constexpr int V1TextWidth = 30;
constexpr int V1CommentWidth = 28;

bool isLatin1(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() > 0xFF)
            return false;
    }
    return true;
}

TagLib::String toTagLib(const QString &text)
{
    return TagLib::String(text.toStdString(), TagLib::String::UTF8);
}

// Latin-1 where it suffices (read by every player), UTF-8 otherwise (ID3v2.4).
TagLib::String::Type encodingFor(const QString &text)
{
    return isLatin1(text) ? TagLib::String::Latin1 : TagLib::String::UTF8;
}

void addText(TagLib::ID3v2::Tag &tag, const char *id, const QString &text)
{
    if (text.isEmpty())
        return;
    auto *frame = new TagLib::ID3v2::TextIdentificationFrame(id, encodingFor(text));
    frame->setText(toTagLib(text));
    tag.addFrame(frame);
}

void addComment(TagLib::ID3v2::Tag &tag, const QString &text)
{
    if (text.isEmpty())
        return;
    auto *frame = new TagLib::ID3v2::CommentsFrame(encodingFor(text));
    frame->setLanguage("eng");
    frame->setText(toTagLib(text));
    tag.addFrame(frame);
}

void addPicture(TagLib::ID3v2::Tag &tag, const AudioTags::Picture &picture)
{
    if (picture.data.isEmpty())
        return;
    auto *frame = new TagLib::ID3v2::AttachedPictureFrame;
    frame->setTextEncoding(encodingFor(picture.description));
    frame->setMimeType(TagLib::String(picture.mimeType.toStdString(), TagLib::String::Latin1));
    frame->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
    frame->setDescription(toTagLib(picture.description));
    frame->setPicture(TagLib::ByteVector(picture.data.constData(), uint(picture.data.size())));
    tag.addFrame(frame);
}

QByteArray toBytes(const TagLib::ByteVector &data)
{
    return QByteArray(data.data(), int(data.size()));
}

QByteArray renderV2(const AudioTags &tags)
{
    TagLib::ID3v2::Tag tag;
    addText(tag, "TIT2", tags.title);
    addText(tag, "TPE1", tags.artist);
    addText(tag, "TALB", tags.album);
    addText(tag, "TPE2", tags.albumArtist);
    addText(tag, "TDRC", tags.date);
    addText(tag, "TRCK", tags.track);
    addText(tag, "TPOS", tags.disc);
    addText(tag, "TCON", tags.genre);
    addText(tag, "TCOM", tags.composer);
    addComment(tag, tags.comment);
    addPicture(tag, tags.cover);
    return tag.isEmpty() ? QByteArray() : toBytes(tag.render());
}

// A text that fits its ID3v1 field unchanged, or nothing: a truncated or mangled copy there
// would contradict the ID3v2 tag.
TagLib::String fitting(const QString &text, int width)
{
    if (text.isEmpty() || text.size() > width || !isLatin1(text))
        return {};
    return TagLib::String(text.toLatin1().toStdString(), TagLib::String::Latin1);
}

// The leading number of "7" or "7/12", when ID3v1's byte holds it.
unsigned int leadingNumber(const QString &text, unsigned int max)
{
    static const QRegularExpression number(QStringLiteral("^\\s*(\\d{1,4})"));
    const QRegularExpressionMatch match = number.match(text);
    const unsigned int value = match.hasMatch() ? match.captured(1).toUInt() : 0;
    return value <= max ? value : 0;
}

QByteArray renderV1(const AudioTags &tags)
{
    TagLib::ID3v1::Tag tag;
    tag.setTitle(fitting(tags.title, V1TextWidth));
    tag.setArtist(fitting(tags.artist, V1TextWidth));
    tag.setAlbum(fitting(tags.album, V1TextWidth));
    tag.setComment(fitting(tags.comment, V1CommentWidth));
    static const QRegularExpression year(QStringLiteral("^(\\d{4})(\\D|$)"));
    const QRegularExpressionMatch y = year.match(tags.date);
    if (y.hasMatch())
        tag.setYear(y.captured(1).toUInt());
    tag.setTrack(leadingNumber(tags.track, 255));
    if (TagLib::ID3v1::genreIndex(toTagLib(tags.genre)) != 255)
        tag.setGenre(toTagLib(tags.genre));
    return tag.isEmpty() ? QByteArray() : toBytes(tag.render());
}

} // namespace

Id3Tags renderId3Tags(const AudioTags &tags)
{
    if (tags.isEmpty())
        return {};
    return {renderV2(tags), renderV1(tags)};
}
