#include "mp3enc/tags/riffinfo.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// More than any tag needs; a larger LIST chunk is not read into memory.
constexpr std::int64_t MaxListBytes = 16 << 20;

bool readAt(int fd, std::int64_t position, char *buffer, std::size_t size)
{
    return ::pread(fd, buffer, size, off_t(position)) == ssize_t(size);
}

std::uint32_t sizeField(const char *p, bool bigEndian)
{
    const auto *u = reinterpret_cast<const unsigned char *>(p);
    return bigEndian ? std::uint32_t(u[0]) << 24 | std::uint32_t(u[1]) << 16 |
                           std::uint32_t(u[2]) << 8 | u[3]
                     : std::uint32_t(u[3]) << 24 | std::uint32_t(u[2]) << 16 |
                           std::uint32_t(u[1]) << 8 | u[0];
}

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
        const std::uint32_t size = sizeField(data.constData() + p + 4, bigEndian);
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
    char head[12];
    if (::fstat(fd, &st) != 0 || !readAt(fd, 0, head, sizeof head) ||
        std::memcmp(head + 8, "WAVE", 4) != 0)
        return fields;
    const bool bigEndian = std::memcmp(head, "RIFX", 4) == 0;
    if (!bigEndian && std::memcmp(head, "RIFF", 4) != 0 && std::memcmp(head, "RF64", 4) != 0)
        return fields;
    const std::int64_t length = st.st_size;
    // Chunks up to the end of the file: the data chunk's size may be wrong past 4 GiB, so a LIST
    // behind it is looked for only where the chunk sizes lead.
    for (std::int64_t pos = 12; pos + 8 <= length;) {
        char chunk[12];
        if (!readAt(fd, pos, chunk, 8))
            break;
        const std::uint32_t size = sizeField(chunk + 4, bigEndian);
        const std::int64_t body = std::min<std::int64_t>(size, length - pos - 8);
        if (std::memcmp(chunk, "LIST", 4) == 0 && body >= 4 && body <= MaxListBytes) {
            QByteArray data(qsizetype(body), Qt::Uninitialized);
            if (readAt(fd, pos + 8, data.data(), std::size_t(body)) && data.startsWith("INFO"))
                parseInfo(data, bigEndian, fields);
        }
        pos += 8 + std::int64_t(size) + (size & 1);
    }
    return fields;
}
