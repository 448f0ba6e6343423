#include "mp3enc/tags/audiotags.h"

#include "mp3enc/input/flacblocks.h"
#include "mp3enc/input/oggpacket.h"
#include "mp3enc/input/sndfilereader.h"
#include "mp3enc/tags/riffinfo.h"
#include "mp3enc/tags/vorbiscomment.h"

#include <QStringDecoder>
#include <QStringList>
#include <QtEndian>
#include <optional>
#include <sndfile.h>
#include <taglib/aifffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tfilestream.h>
#include <taglib/wavfile.h>

namespace {

using Field = QString AudioTags::*;

QString text(const TagLib::String &s)
{
    return QString::fromStdString(s.to8Bit(true)).trimmed();
}

QString joined(const TagLib::StringList &values)
{
    QStringList texts;
    for (const TagLib::String &value : values) {
        if (const QString t = text(value); !t.isEmpty())
            texts << t;
    }
    return texts.join(QStringLiteral("; "));
}

void fill(AudioTags &tags, Field field, const QString &value)
{
    if ((tags.*field).isEmpty())
        tags.*field = value;
}

// "7" and a total of "12" make "7/12", as ID3's TRCK and TPOS write it.
QString numberOf(const QString &number, const QString &total)
{
    if (number.isEmpty() || total.isEmpty() || number.contains(u'/'))
        return number;
    return number + u'/' + total;
}

QByteArray bytes(const TagLib::ByteVector &v)
{
    return QByteArray(v.data(), qsizetype(v.size()));
}

// What the bytes are, for a picture whose writer named no type.
QByteArray sniffedMimeType(const QByteArray &data)
{
    if (data.startsWith("\xFF\xD8\xFF"))
        return "image/jpeg";
    if (data.startsWith("\x89PNG"))
        return "image/png";
    if (data.startsWith("GIF8"))
        return "image/gif";
    return {};
}

// A picture the file holds, `size` bytes, which `load` reads (an AudioTags::Picture, or nothing
// when it turns out damaged). The front cover wins, otherwise the first picture the file holds;
// one too large to carry is not read, and counts as chosen, so a lesser one does not replace it.
template <typename Load> void takePicture(AudioTags &tags, bool front, qint64 size, Load load)
{
    if (tags.cover.chosen() && (tags.cover.front || !front))
        return;
    if (size > MaxCoverBytes) {
        tags.cover = {};
        tags.cover.front = front;
        tags.cover.leftOutBytes = size;
        return;
    }
    std::optional<AudioTags::Picture> picture = load();
    if (!picture || picture->data.isEmpty())
        return;
    picture->mimeType = picture->mimeType.trimmed().toLower();
    if (!picture->mimeType.contains('/'))
        picture->mimeType = sniffedMimeType(picture->data);
    picture->description = picture->description.trimmed();
    picture->front = front;
    tags.cover = std::move(*picture);
}

std::optional<AudioTags::Picture> fromFlac(std::optional<FlacPicture> flac)
{
    if (!flac)
        return std::nullopt;
    return AudioTags::Picture{flac->mimeType, std::move(flac->data),
                              decodeCommentText(flac->description)};
}

// ---- Vorbis comments (FLAC, Ogg Vorbis, Ogg Opus), read by us

QString joined(const QList<QByteArrayView> &values)
{
    QStringList texts;
    for (const QByteArrayView value : values) {
        if (const QString t = decodeCommentText(value).trimmed(); !t.isEmpty())
            texts << t;
    }
    return texts.join(QStringLiteral("; "));
}

// A METADATA_BLOCK_PICTURE field: a FLAC picture block in base64.
void takeCommentPicture(AudioTags &tags, QByteArrayView base64)
{
    // The picture's type is its first four bytes, the first eight characters of the base64.
    const QByteArray head =
        QByteArray::fromBase64(base64.first(std::min<qsizetype>(8, base64.size())).toByteArray());
    const bool front = head.size() >= 4 && qFromBigEndian<quint32>(head.constData()) == 3;
    takePicture(tags, front, base64.size() / 4 * 3, [base64] {
        return fromFlac(parseFlacPicture(QByteArray::fromBase64(base64.toByteArray())));
    });
}

void readComment(AudioTags &tags, QByteArrayView data)
{
    const std::optional<VorbisComment> comment = parseVorbisComment(data);
    if (!comment)
        return;
    const auto value = [&comment](const char *key) { return joined(comment->values(key)); };
    const auto firstOf = [&value](std::initializer_list<const char *> keys) {
        for (const char *key : keys) {
            if (QString v = value(key); !v.isEmpty())
                return v;
        }
        return QString();
    };
    fill(tags, &AudioTags::title, value("TITLE"));
    fill(tags, &AudioTags::artist, value("ARTIST"));
    fill(tags, &AudioTags::album, value("ALBUM"));
    fill(tags, &AudioTags::albumArtist, firstOf({"ALBUMARTIST", "ALBUM ARTIST"}));
    fill(tags, &AudioTags::date, firstOf({"DATE", "YEAR"}));
    fill(tags, &AudioTags::track,
         numberOf(value("TRACKNUMBER"), firstOf({"TRACKTOTAL", "TOTALTRACKS"})));
    fill(tags, &AudioTags::disc,
         numberOf(value("DISCNUMBER"), firstOf({"DISCTOTAL", "TOTALDISCS"})));
    fill(tags, &AudioTags::genre, value("GENRE"));
    fill(tags, &AudioTags::comment, firstOf({"COMMENT", "DESCRIPTION"}));
    fill(tags, &AudioTags::composer, value("COMPOSER"));
    for (const QByteArrayView picture : comment->values("METADATA_BLOCK_PICTURE"))
        takeCommentPicture(tags, picture);
}

// An Ogg stream's comment packet, after its codec's prefix.
void readOggComment(AudioTags &tags, int fd, const QByteArray &prefix)
{
    const QByteArray packet = readOggPacket(fd, 1);
    if (packet.startsWith(prefix))
        readComment(tags, QByteArrayView(packet).sliced(prefix.size()));
}

// ---- ID3v2 (an AIFF's, a WAV's "id3 " chunk, rarely a FLAC's)

void readId3v2(AudioTags &tags, TagLib::ID3v2::Tag *tag)
{
    if (!tag || tag->isEmpty())
        return;
    const TagLib::ID3v2::FrameListMap &frames = tag->frameListMap();
    const auto value = [&frames](const char *id) {
        const auto it = frames.find(id);
        if (it == frames.end() || it->second.isEmpty())
            return QString();
        const auto *frame =
            dynamic_cast<const TagLib::ID3v2::TextIdentificationFrame *>(it->second.front());
        return frame ? joined(frame->fieldList()) : text(it->second.front()->toString());
    };
    fill(tags, &AudioTags::title, value("TIT2"));
    fill(tags, &AudioTags::artist, value("TPE1"));
    fill(tags, &AudioTags::album, value("TALB"));
    fill(tags, &AudioTags::albumArtist, value("TPE2"));
    fill(tags, &AudioTags::date, value("TDRC")); // TagLib reads ID3v2.3's TYER as TDRC
    fill(tags, &AudioTags::track, value("TRCK"));
    fill(tags, &AudioTags::disc, value("TPOS"));
    fill(tags, &AudioTags::genre, text(tag->genre()));
    fill(tags, &AudioTags::comment, text(tag->comment()));
    fill(tags, &AudioTags::composer, value("TCOM"));
    const auto pictures = frames.find("APIC");
    if (pictures == frames.end())
        return;
    for (const TagLib::ID3v2::Frame *frame : pictures->second) {
        const auto *picture = dynamic_cast<const TagLib::ID3v2::AttachedPictureFrame *>(frame);
        if (!picture)
            continue;
        takePicture(tags, picture->type() == TagLib::ID3v2::AttachedPictureFrame::FrontCover,
                    qint64(picture->picture().size()), [picture] {
                        return std::optional(AudioTags::Picture{
                            QByteArray::fromStdString(picture->mimeType().to8Bit(true)),
                            bytes(picture->picture()), text(picture->description())});
                    });
    }
}

// ---- FLAC: its blocks read by us, a picture only when it is the one taken

// TagLib reads an ID3v2 tag from any of its files; this one is only the tag's stream.
class TagStream final : public TagLib::File
{
public:
    explicit TagStream(TagLib::IOStream *stream) : TagLib::File(stream) {}
    TagLib::Tag *tag() const override { return nullptr; }
    TagLib::AudioProperties *audioProperties() const override { return nullptr; }
    bool save() override { return false; }
};

void readFlac(AudioTags &tags, int fd, TagLib::IOStream &stream)
{
    const std::optional<FlacBlocks> blocks = readFlacBlocks(fd);
    if (!blocks)
        return;
    if (blocks->comment)
        readComment(tags, readFlacBlock(fd, *blocks->comment));
    for (const FlacBlocks::Block &block : blocks->pictures)
        takePicture(tags, block.pictureType == 3, block.length,
                    [fd, &block] { return fromFlac(parseFlacPicture(readFlacBlock(fd, block))); });
    if (blocks->id3v2) {
        TagStream file(&stream);
        TagLib::ID3v2::Tag tag(&file, 0);
        readId3v2(tags, &tag);
    }
}

// ---- LIST/INFO (WAV, RF64)

void readInfo(AudioTags &tags, int fd)
{
    const QHash<QByteArray, QByteArray> fields = readRiffInfo(fd);
    const auto value = [&fields](const char *id) {
        return decodeInfoText(fields.value(QByteArray(id))).trimmed();
    };
    fill(tags, &AudioTags::title, value("INAM"));
    fill(tags, &AudioTags::artist, value("IART"));
    fill(tags, &AudioTags::album, value("IPRD"));
    fill(tags, &AudioTags::date, value("ICRD"));
    fill(tags, &AudioTags::track, value("ITRK").isEmpty() ? value("IPRT") : value("ITRK"));
    fill(tags, &AudioTags::genre, value("IGNR"));
    fill(tags, &AudioTags::comment, value("ICMT"));
}

// What libsndfile read from containers TagLib does not know (AIFF's NAME and AUTH, CAF's info).
void readSndfileStrings(AudioTags &tags, const SndFileReader &reader)
{
    const auto value = [&reader](int type) {
        return decodeInfoText(reader.infoString(type)).trimmed();
    };
    fill(tags, &AudioTags::title, value(SF_STR_TITLE));
    fill(tags, &AudioTags::artist, value(SF_STR_ARTIST));
    fill(tags, &AudioTags::album, value(SF_STR_ALBUM));
    fill(tags, &AudioTags::date, value(SF_STR_DATE));
    fill(tags, &AudioTags::track, value(SF_STR_TRACKNUMBER));
    fill(tags, &AudioTags::genre, value(SF_STR_GENRE));
    fill(tags, &AudioTags::comment, value(SF_STR_COMMENT));
}

} // namespace

bool AudioTags::isEmpty() const
{
    return title.isEmpty() && artist.isEmpty() && album.isEmpty() && albumArtist.isEmpty() &&
           date.isEmpty() && track.isEmpty() && disc.isEmpty() && genre.isEmpty() &&
           comment.isEmpty() && composer.isEmpty() && cover.data.isEmpty();
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

AudioTags readAudioTags(const SndFileReader &reader)
{
    AudioTags tags;
    // The file the reader has open, whatever its name now leads to.
    const QByteArray opened = "/proc/self/fd/" + QByteArray::number(reader.descriptor());
    TagLib::FileStream stream(opened.constData(), true);
    const int container = reader.format() & SF_FORMAT_TYPEMASK;
    const int codec = reader.format() & SF_FORMAT_SUBMASK;
    if (stream.isOpen()) {
        switch (container) {
        case SF_FORMAT_FLAC:
            readFlac(tags, reader.descriptor(), stream);
            break;
        case SF_FORMAT_OGG:
            readOggComment(tags, reader.descriptor(),
                           codec == SF_FORMAT_OPUS ? "OpusTags" : "\x03vorbis");
            break;
        case SF_FORMAT_AIFF: {
            TagLib::RIFF::AIFF::File file(&stream, false);
            if (file.isValid() && file.hasID3v2Tag())
                readId3v2(tags, file.tag());
            break;
        }
        case SF_FORMAT_WAV:
        case SF_FORMAT_WAVEX: {
            TagLib::RIFF::WAV::File file(&stream, false);
            if (file.isValid() && file.hasID3v2Tag())
                readId3v2(tags, file.ID3v2Tag());
            break;
        }
        default:
            break;
        }
    }
    switch (container) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
    case SF_FORMAT_RF64:
        // Read by us: libsndfile loses fields past its limits and mangles unpadded ones.
        readInfo(tags, reader.descriptor());
        break;
    default:
        readSndfileStrings(tags, reader);
        break;
    }
    return tags;
}
