#include "mp3enc/audiotags.h"

#include "mp3enc/riffinfo.h"
#include "mp3enc/sndfilereader.h"

#include <QStringDecoder>
#include <QStringList>
#include <sndfile.h>
#include <taglib/aifffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2tag.h>
#include <taglib/opusfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tfilestream.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/xiphcomment.h>

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

void takePicture(AudioTags &tags, bool front, const TagLib::String &mime,
                 const TagLib::ByteVector &data, const TagLib::String &description)
{
    // The front cover wins; otherwise the first picture the file holds.
    if (data.isEmpty() || (!tags.cover.data.isEmpty() && !front))
        return;
    if (!tags.cover.data.isEmpty() && tags.cover.front)
        return;
    tags.cover.data = bytes(data);
    tags.cover.mimeType = QByteArray::fromStdString(mime.to8Bit(true)).trimmed().toLower();
    if (tags.cover.mimeType.isEmpty() || !tags.cover.mimeType.contains('/'))
        tags.cover.mimeType = sniffedMimeType(tags.cover.data);
    tags.cover.description = text(description);
    tags.cover.front = front;
}

// ---- Vorbis comments (FLAC, Ogg Vorbis, Ogg Opus)

void readXiph(AudioTags &tags, TagLib::Ogg::XiphComment *comment)
{
    if (!comment)
        return;
    const TagLib::Ogg::FieldListMap fields = comment->fieldListMap();
    const auto value = [&fields](const char *key) {
        const auto it = fields.find(key);
        return it == fields.end() ? QString() : joined(it->second);
    };
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
    for (const TagLib::FLAC::Picture *picture : comment->pictureList())
        takePicture(tags, picture->type() == TagLib::FLAC::Picture::FrontCover, picture->mimeType(),
                    picture->data(), picture->description());
}

void readFlacPictures(AudioTags &tags, TagLib::FLAC::File &file)
{
    for (const TagLib::FLAC::Picture *picture : file.pictureList())
        takePicture(tags, picture->type() == TagLib::FLAC::Picture::FrontCover, picture->mimeType(),
                    picture->data(), picture->description());
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
        if (picture)
            takePicture(tags, picture->type() == TagLib::ID3v2::AttachedPictureFrame::FrontCover,
                        picture->mimeType(), picture->picture(), picture->description());
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
        case SF_FORMAT_FLAC: {
            TagLib::FLAC::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
            if (file.isValid()) {
                readXiph(tags, file.xiphComment());
                readFlacPictures(tags, file);
                readId3v2(tags, file.hasID3v2Tag() ? file.ID3v2Tag() : nullptr);
            }
            break;
        }
        case SF_FORMAT_OGG:
            if (codec == SF_FORMAT_OPUS) {
                TagLib::Ogg::Opus::File file(&stream, false);
                if (file.isValid())
                    readXiph(tags, file.tag());
            } else {
                TagLib::Ogg::Vorbis::File file(&stream, false);
                if (file.isValid())
                    readXiph(tags, file.tag());
            }
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
