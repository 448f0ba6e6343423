#include "mp3enc/tags/riffinfo.h"

#include "mp3enc/input/bytereader.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <sys/stat.h>

namespace {

// More than any tag needs; a larger LIST chunk is not read into memory.
constexpr std::int64_t MaxListBytes = 16 << 20;

// A field identifier: four printable characters, the first a letter ("INAM", "ICMT").
bool isFieldId(const QByteArray &data, qsizetype at)
{
    if (at + 4 > data.size() || !std::isalpha(static_cast<unsigned char>(data[at])))
        return false;
    for (qsizetype i = at; i < at + 4; ++i) {
        if (data[i] < 0x20 || data[i] > 0x7E)
            return false;
    }
    return true;
}

void parseInfo(const QByteArray &data, bool bigEndian, QHash<QByteArray, QByteArray> &fields)
{
    for (qsizetype p = 4; p + 8 <= data.size();) { // after "INFO"
        if (!isFieldId(data, p))
            return;
        const std::uint32_t size = bytes::sizeField(data.constData() + p + 4, bigEndian);
        if (size > std::uint64_t(data.size() - p - 8))
            return;
        QByteArray text = data.mid(p + 8, qsizetype(size));
        while (text.endsWith('\0'))
            text.chop(1);
        const QByteArray id = data.mid(p, 4);
        if (!fields.contains(id))
            fields.insert(id, text);
        const qsizetype next = p + 8 + qsizetype(size);
        // The pad byte after an odd length, unless the writer left it out.
        p = (size & 1) && !isFieldId(data, next + 1) && isFieldId(data, next)
                ? next
                : next + qsizetype(size & 1);
    }
}

} // namespace

QHash<QByteArray, QByteArray> readRiffInfo(int fd)
{
    QHash<QByteArray, QByteArray> fields;
    struct stat st = {};
    if (::fstat(fd, &st) != 0)
        return fields;
    const std::int64_t length = st.st_size;
    RiffWalk walk(fd, length, true);
    while (const auto chunk = walk.next()) {
        const std::int64_t body = std::min<std::int64_t>(chunk->size, length - chunk->body);
        if (std::memcmp(chunk->id, "LIST", 4) == 0 && body >= 4 && body <= MaxListBytes) {
            QByteArray data(qsizetype(body), Qt::Uninitialized);
            if (bytes::readAt(fd, chunk->body, data.data(), std::size_t(body)) &&
                data.startsWith("INFO"))
                parseInfo(data, walk.bigEndian(), fields);
        }
    }
    return fields;
}
