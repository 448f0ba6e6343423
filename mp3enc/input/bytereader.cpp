#include "mp3enc/input/bytereader.h"

#include <cstring>
#include <sys/types.h>
#include <unistd.h>

namespace bytes {

bool readAt(int fd, std::int64_t position, void *buffer, std::size_t size)
{
    return ::pread(fd, buffer, size, off_t(position)) == ssize_t(size);
}

std::uint32_t bigEndian(const unsigned char *p, int count)
{
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | p[i];
    return value;
}

std::uint32_t littleEndian(const unsigned char *p, int count)
{
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value << 8 | p[i];
    return value;
}

} // namespace bytes

RiffWalk::RiffWalk(int fd, std::int64_t length, bool rf64) : m_fd(fd), m_length(length)
{
    char head[12];
    if (!bytes::readAt(fd, 0, head, sizeof head) || std::memcmp(head + 8, "WAVE", 4) != 0)
        return;
    m_bigEndian = std::memcmp(head, "RIFX", 4) == 0;
    if (m_bigEndian || std::memcmp(head, "RIFF", 4) == 0 ||
        (rf64 && std::memcmp(head, "RF64", 4) == 0))
        m_pos = 12;
}

std::optional<RiffWalk::Chunk> RiffWalk::next()
{
    unsigned char header[8];
    if (m_pos < 0 || m_pos + 8 > m_length || !bytes::readAt(m_fd, m_pos, header, sizeof header))
        return std::nullopt;
    Chunk chunk;
    std::memcpy(chunk.id, header, 4);
    chunk.size = bytes::sizeField(header + 4, m_bigEndian);
    chunk.body = m_pos + 8;
    m_pos += 8 + std::int64_t(chunk.size) + (chunk.size & 1);
    return chunk;
}
