#include "mp3enc/tags/id3tag.h"

#include "mp3enc/calc/reasons.h"
#include "mp3enc/tags/audiotags.h"

#include <QList>
#include <QRegularExpression>
#include <optional>
#include <taglib/id3v1genres.h>
#include <taglib/id3v1tag.h>

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

QByteArray toBytes(const TagLib::ByteVector &data)
{
    return QByteArray(data.data(), int(data.size()));
}

// ---- ID3v2.4, written by us so that no size can wrap

// Room for a tagger to change the tag later without rewriting the whole MP3.
constexpr qint64 Padding = 1024;
constexpr qint64 HeaderBytes = 10;

// A frame's body: `head` and then `data`, which is the picture's bytes and so not copied here.
struct Frame
{
    const char *id;
    QByteArray head;
    QByteArray data;
    qint64 size() const { return head.size() + data.size(); }
};

// Latin-1 where it suffices (read by every player), UTF-8 otherwise.
QByteArray encoded(const QString &text)
{
    return isLatin1(text) ? '\0' + text.toLatin1() : '\3' + text.toUtf8();
}

void addText(QList<Frame> &frames, const char *id, const QString &text)
{
    if (!text.isEmpty())
        frames.append({id, encoded(text), {}});
}

void addComment(QList<Frame> &frames, const QString &text)
{
    if (text.isEmpty())
        return;
    const QByteArray body = encoded(text);
    // The encoding, the language, an empty description and its terminator, the text.
    frames.append({"COMM", body.left(1) + "eng" + '\0' + body.mid(1), {}});
}

void addPicture(QList<Frame> &frames, const AudioTags::Picture &picture)
{
    if (picture.data.isEmpty())
        return;
    const QByteArray description = encoded(picture.description);
    frames.append({"APIC",
                   description.left(1) + picture.mimeType + '\0' + '\3' + description.mid(1) + '\0',
                   picture.data});
}

// `size` as ID3v2.4 writes sizes, or nothing when it does not fit in 28 bits.
std::optional<QByteArray> syncsafe(qint64 size)
{
    if (size < 0 || size > MaxId3v2Size)
        return std::nullopt;
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char((size >> (7 * (3 - i))) & 0x7F);
    return bytes;
}

qint64 tagSize(const QList<Frame> &frames)
{
    qint64 size = Padding;
    for (const Frame &frame : frames)
        size += HeaderBytes + frame.size();
    return size;
}

// The tag, or nothing when a size in it would not fit its field.
std::optional<QByteArray> renderFrames(const QList<Frame> &frames)
{
    const std::optional<QByteArray> size = syncsafe(tagSize(frames));
    if (!size)
        return std::nullopt;
    QByteArray tag;
    tag.reserve(qsizetype(HeaderBytes + tagSize(frames)));
    tag += QByteArray("ID3\4\0\0", 6) + *size;
    for (const Frame &frame : frames) {
        const std::optional<QByteArray> frameSize = syncsafe(frame.size());
        if (!frameSize)
            return std::nullopt;
        tag += QByteArray(frame.id) + *frameSize + QByteArray(2, '\0') + frame.head;
        tag += frame.data;
    }
    tag += QByteArray(Padding, '\0');
    return tag;
}

QByteArray renderV2(const AudioTags &tags, QString *notice)
{
    QList<Frame> frames;
    addText(frames, "TIT2", tags.title);
    addText(frames, "TPE1", tags.artist);
    addText(frames, "TALB", tags.album);
    addText(frames, "TPE2", tags.albumArtist);
    addText(frames, "TDRC", tags.date);
    addText(frames, "TRCK", tags.track);
    addText(frames, "TPOS", tags.disc);
    addText(frames, "TCON", tags.genre);
    addText(frames, "TCOM", tags.composer);
    addComment(frames, tags.comment);
    if (tags.cover.leftOutBytes > 0)
        *notice = reasons::coverTooLarge(tags.cover.leftOutBytes, MaxCoverBytes);
    addPicture(frames, tags.cover);
    if (frames.isEmpty())
        return {};
    if (std::optional<QByteArray> tag = renderFrames(frames))
        return *tag;
    if (!tags.cover.data.isEmpty()) {
        frames.removeLast();
        *notice = reasons::coverOutgrowsTag(tags.cover.data.size());
        if (std::optional<QByteArray> tag = renderFrames(frames))
            return *tag;
    }
    *notice = reasons::tagsOutgrowTag(tagSize(frames));
    return {};
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
    Id3Tags rendered;
    rendered.v2 = renderV2(tags, &rendered.notice);
    rendered.v1 = renderV1(tags);
    return rendered;
}
