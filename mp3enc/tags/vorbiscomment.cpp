#include "mp3enc/tags/vorbiscomment.h"

#include <QtEndian>

namespace {

// The length of the well-formed UTF-8 character at `p`, or 0: an overlong form, a surrogate, a
// code point past U+10FFFF, a cut sequence and a stray continuation byte are none.
int characterLength(const unsigned char *p, qsizetype available)
{
    const unsigned char lead = p[0];
    if (lead < 0x80)
        return 1;
    int length = 0;
    unsigned char low = 0x80, high = 0xBF; // where the second byte may lie
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : low;
        high = lead == 0xED ? 0x9F : high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high;
    } else {
        return 0;
    }
    if (available < length || p[1] < low || p[1] > high)
        return 0;
    for (int i = 2; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

bool isAsciiLetter(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Every byte past ASCII a Latin-1 letter (not × or ÷) beside an ASCII letter: "caf\xe9",
// "M\xfcller". Random bytes and damaged UTF-8 hardly ever look like that.
bool isPlainlyLatin1(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (p[i] < 0x80)
            continue;
        if (p[i] < 0xC0 || p[i] == 0xD7 || p[i] == 0xF7)
            return false;
        if (!(i > 0 && isAsciiLetter(p[i - 1])) && !(i + 1 < n && isAsciiLetter(p[i + 1])))
            return false;
    }
    return true;
}

} // namespace

QList<QByteArrayView> VorbisComment::values(const char *name) const
{
    QList<QByteArrayView> found;
    for (const Field &field : fields) {
        if (field.name == name)
            found << field.value;
    }
    return found;
}

std::optional<VorbisComment> parseVorbisComment(QByteArrayView data)
{
    qsizetype at = 0;
    // Lengths are 32-bit little-endian; each must fit in what is left.
    const auto length = [&data, &at]() -> std::optional<qsizetype> {
        if (data.size() - at < 4)
            return std::nullopt;
        const auto n = qsizetype(qFromLittleEndian<quint32>(data.constData() + at));
        at += 4;
        if (n > data.size() - at)
            return std::nullopt;
        return n;
    };
    const auto vendor = length();
    if (!vendor)
        return std::nullopt;
    at += *vendor;
    const auto count =
        data.size() - at >= 4
            ? std::optional<quint32>(qFromLittleEndian<quint32>(data.constData() + at))
            : std::nullopt;
    if (!count)
        return std::nullopt;
    at += 4;
    VorbisComment comment;
    for (quint32 i = 0; i < *count; ++i) {
        const auto size = length();
        if (!size)
            return std::nullopt;
        const QByteArrayView entry = data.sliced(at, *size);
        at += *size;
        const qsizetype equals = entry.indexOf('=');
        if (equals <= 0)
            continue; // a field without a name says nothing
        comment.fields.append(
            {entry.first(equals).toByteArray().toUpper(), entry.sliced(equals + 1)});
    }
    return comment;
}

QString decodeCommentText(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype n = bytes.size();
    bool wellFormed = true;
    for (qsizetype i = 0; i < n && wellFormed;) {
        const int length = characterLength(p + i, n - i);
        wellFormed = length > 0;
        i += length;
    }
    if (wellFormed)
        return QString::fromUtf8(bytes);
    if (isPlainlyLatin1(bytes))
        return QString::fromLatin1(bytes);
    QString text;
    text.reserve(n);
    for (qsizetype i = 0; i < n;) {
        const int length = characterLength(p + i, n - i);
        if (length == 0) {
            text += QChar::ReplacementCharacter;
            ++i;
            continue;
        }
        text += QString::fromUtf8(bytes.sliced(i, length));
        i += length;
    }
    return text;
}
