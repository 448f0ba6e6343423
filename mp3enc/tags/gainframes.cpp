#include "mp3enc/tags/gainframes.h"

#include "mp3enc/encode/loudnessmeter.h"

namespace {

constexpr int HeaderBytes = 10;
constexpr qint64 Room = 1024; // as our other tags: a tagger can add to it in place
constexpr unsigned char Unsynchronised = 0x80;
constexpr unsigned char ExtendedHeader = 0x40;
constexpr unsigned char Footer = 0x10;
const QByteArray Prefix = QByteArrayLiteral("replaygain_");

qint64 syncsafeAt(const QByteArray &bytes, qsizetype at)
{
    qint64 value = 0;
    for (qsizetype i = 0; i < 4; ++i)
        value = (value << 7) | (quint8(bytes[at + i]) & 0x7F);
    return value;
}

qint64 plainAt(const QByteArray &bytes, qsizetype at)
{
    qint64 value = 0;
    for (qsizetype i = 0; i < 4; ++i)
        value = (value << 8) | quint8(bytes[at + i]);
    return value;
}

QByteArray syncsafe(qint64 size)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char((size >> (7 * (3 - i))) & 0x7F);
    return bytes;
}

struct RawFrame
{
    QByteArray id;
    QByteArray whole; // header and body, as found
    QByteArray body;
};

struct ParsedTag
{
    int version = 4;
    QList<RawFrame> frames;
    qint64 size = 0; // of the whole tag, header included
};

std::optional<ParsedTag> parse(const QByteArray &tag, QString *error)
{
    const auto fail = [error](const QString &why) -> std::optional<ParsedTag> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (tag.size() < HeaderBytes || !tag.startsWith("ID3"))
        return fail(QStringLiteral("没有ID3v2标签"));
    ParsedTag parsed;
    parsed.version = quint8(tag[3]);
    const auto flags = quint8(tag[5]);
    if (parsed.version < 3 || parsed.version > 4)
        return fail(QStringLiteral("ID3v2.%1标签不能改写").arg(parsed.version));
    if (flags & (Unsynchronised | ExtendedHeader | Footer))
        return fail(QStringLiteral("ID3v2标签的格式不能改写"));
    parsed.size = HeaderBytes + syncsafeAt(tag, 6);
    if (parsed.size > tag.size())
        return fail(QStringLiteral("ID3v2标签不完整"));
    for (qsizetype at = HeaderBytes; at + HeaderBytes <= parsed.size;) {
        if (tag[at] == '\0')
            break; // the padding
        const qint64 body = parsed.version == 4 ? syncsafeAt(tag, at + 4) : plainAt(tag, at + 4);
        if (at + HeaderBytes + body > parsed.size)
            return fail(QStringLiteral("ID3v2标签中的帧超出了标签"));
        parsed.frames.append({tag.mid(at, 4), tag.mid(at, HeaderBytes + qsizetype(body)),
                              tag.mid(at + HeaderBytes, qsizetype(body))});
        at += HeaderBytes + qsizetype(body);
    }
    return parsed;
}

// A TXXX frame's description and value, in the encodings ID3v2 has.
std::optional<GainFrame> userText(const RawFrame &frame)
{
    if (frame.id != "TXXX" || frame.body.isEmpty())
        return std::nullopt;
    const char encoding = frame.body[0];
    const QByteArray text = frame.body.mid(1);
    if (encoding == '\0' || encoding == '\3') {
        const qsizetype end = text.indexOf('\0');
        const QByteArray name = end < 0 ? text : text.left(end);
        const QByteArray value = end < 0 ? QByteArray() : text.mid(end + 1);
        const auto decode = [encoding](const QByteArray &bytes) {
            return encoding == '\0' ? QString::fromLatin1(bytes) : QString::fromUtf8(bytes);
        };
        return GainFrame{decode(name), decode(value)};
    }
    // UTF-16: the description ends at the first aligned pair of zero bytes.
    qsizetype end = 0;
    while (end + 1 < text.size() && (text[end] != '\0' || text[end + 1] != '\0'))
        end += 2;
    const bool bigEndian = encoding == '\2';
    const auto decode = [bigEndian](QByteArray bytes) {
        if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF"))
            return QString::fromUtf16(reinterpret_cast<const char16_t *>(bytes.constData() + 2),
                                      (bytes.size() - 2) / 2);
        if (bigEndian) {
            for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
                std::swap(bytes[i], bytes[i + 1]);
        }
        return QString::fromUtf16(reinterpret_cast<const char16_t *>(bytes.constData()),
                                  bytes.size() / 2);
    };
    return GainFrame{decode(text.left(end)), decode(text.mid(end + 2))};
}

bool isGainFrame(const RawFrame &frame)
{
    const std::optional<GainFrame> text = userText(frame);
    return text && text->name.startsWith(QLatin1String(Prefix), Qt::CaseInsensitive);
}

QByteArray render(int version, const GainFrame &frame)
{
    // Latin-1: the names and figures are plain ASCII, read by every player.
    const QByteArray body = '\0' + frame.name.toLatin1() + '\0' + frame.value.toLatin1();
    const QByteArray size = version == 4
                                ? syncsafe(body.size())
                                : QByteArray(1, char(body.size() >> 24)) + char(body.size() >> 16) +
                                      char(body.size() >> 8) + char(body.size());
    return "TXXX" + size + QByteArray(2, '\0') + body;
}

} // namespace

QList<GainFrame> trackGainFrames(const GainFigures &track)
{
    return {{QStringLiteral("REPLAYGAIN_TRACK_GAIN"), gainText(track.gain)},
            {QStringLiteral("REPLAYGAIN_TRACK_PEAK"), peakText(track.peak)}};
}

QList<GainFrame> albumGainFrames(const GainFigures &album)
{
    return {{QStringLiteral("REPLAYGAIN_ALBUM_GAIN"), gainText(album.gain)},
            {QStringLiteral("REPLAYGAIN_ALBUM_PEAK"), peakText(album.peak)}};
}

QByteArray emptyId3v2Tag()
{
    return QByteArray("ID3\4\0\0", 6) + syncsafe(Room) + QByteArray(Room, '\0');
}

std::optional<QByteArray> withGainFrames(const QByteArray &tag, const QList<GainFrame> &frames,
                                         std::optional<qint64> size, QString *error)
{
    const std::optional<ParsedTag> parsed = parse(tag, error);
    if (!parsed)
        return std::nullopt;
    QByteArray body;
    for (const RawFrame &frame : parsed->frames) {
        if (!isGainFrame(frame))
            body += frame.whole;
    }
    for (const GainFrame &frame : frames)
        body += render(parsed->version, frame);
    const qint64 total = size.value_or(std::max<qint64>(parsed->size, HeaderBytes + body.size()));
    if (HeaderBytes + body.size() > total) {
        if (error)
            *error = QStringLiteral("ID3v2标签中没有放ReplayGain帧的空间");
        return std::nullopt;
    }
    return tag.left(6) + syncsafe(total - HeaderBytes) + body +
           QByteArray(qsizetype(total - HeaderBytes - body.size()), '\0');
}

QList<GainFrame> gainFramesOf(const QByteArray &tag)
{
    QList<GainFrame> found;
    const std::optional<ParsedTag> parsed = parse(tag, nullptr);
    if (!parsed)
        return found;
    for (const RawFrame &frame : parsed->frames) {
        if (isGainFrame(frame))
            found.append(*userText(frame));
    }
    return found;
}
