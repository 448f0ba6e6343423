#include "converter/files/cuetext.h"

#include <QStringDecoder>
#include <algorithm>
#include <memory>
#include <type_traits>
#include <uchardet/uchardet.h>

namespace cuesheet {

namespace {

// uchardet 0.0.7 tells no confidence. Measured on sheets of real titles: below about a dozen
// bytes outside ASCII its guess is often wrong (a four-letter Russian title read as Arabic, two
// Chinese words as Greek or Latin-1); from there on it named cp1251, KOI8-R, GB18030, Big5 and
// Shift-JIS right.
constexpr qsizetype LeastTellingBytes = 12;

QString guessed(const QByteArray &bytes)
{
    const std::unique_ptr<std::remove_pointer_t<uchardet_t>, decltype(&uchardet_delete)> detector(
        uchardet_new(), &uchardet_delete);
    if (!detector || uchardet_handle_data(detector.get(), bytes.constData(), size_t(bytes.size())))
        return {};
    uchardet_data_end(detector.get());
    return QString::fromLatin1(uchardet_get_charset(detector.get()));
}

// `bytes` read as `encoding`; false when that encoding is unknown or the bytes are not in it.
bool readAs(const QString &encoding, QByteArrayView bytes, QString *text)
{
    if (encoding.isEmpty())
        return false;
    QStringDecoder decoder(encoding.toLatin1().constData(), QStringDecoder::Flag::Stateless);
    if (!decoder.isValid())
        return false;
    *text = decoder.decode(bytes);
    return !decoder.hasError();
}

} // namespace

Text Decode(const QByteArray &bytes)
{
    const std::pair<QByteArray, const char *> marks[] = {
        {QByteArray("\xEF\xBB\xBF"), "UTF-8"},
        {QByteArray("\xFF\xFE"), "UTF-16LE"},
        {QByteArray("\xFE\xFF"), "UTF-16BE"},
    };
    Text read;
    for (const auto &[mark, encoding] : marks) {
        if (bytes.startsWith(mark)) {
            read.encoding = QLatin1String(encoding);
            read.doubtful =
                !readAs(read.encoding, QByteArrayView(bytes).sliced(mark.size()), &read.text);
            return read;
        }
    }
    if (readAs(QStringLiteral("UTF-8"), bytes, &read.text)) {
        read.encoding = QStringLiteral("UTF-8");
        return read;
    }
    const QString guess = guessed(bytes);
    const qsizetype telling =
        std::count_if(bytes.cbegin(), bytes.cend(), [](char c) { return uchar(c) >= 0x80; });
    if (telling >= LeastTellingBytes && guess != QLatin1String("UTF-8") &&
        readAs(guess, bytes, &read.text)) {
        read.encoding = guess;
        return read;
    }
    read.doubtful = true;
    read.encoding = QStringLiteral("GB18030");
    if (QString other; !readAs(read.encoding, bytes, &read.text) && readAs(guess, bytes, &other)) {
        read.text = other;
        read.encoding = guess;
    }
    return read;
}

} // namespace cuesheet
