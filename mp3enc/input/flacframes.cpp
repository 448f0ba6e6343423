#include "mp3enc/input/flacframes.h"

#include "mp3enc/input/bytereader.h"

#include <QByteArray>
#include <algorithm>
#include <array>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace {

// A frame header with every optional field is 16 bytes.
constexpr std::size_t MaxHeaderBytes = 16;
// The largest frame there can be: the largest block of eight 32-bit channels stored verbatim.
// A frame is looked for no further than this from where it should end.
constexpr std::size_t MaxFrameBytes = 65536 * 8 * 4 + 64;
// The tail searched for the last whole frame grows up to this.
constexpr std::int64_t MaxTailBytes = 4 * MaxFrameBytes;
constexpr std::int64_t FirstTailBytes = 64 << 10;
// A frame cut short is tried as the end of the one before it, and a few sync patterns that turn
// up inside audio data besides.
constexpr std::size_t MaxLaterHeaders = 4;

// FLAC's CRCs: not reflected, starting at zero; CRC-8 with polynomial 0x07 over a header,
// CRC-16 with 0x8005 over a whole frame.
template <typename T, unsigned Polynomial> constexpr std::array<T, 256> crcTable()
{
    std::array<T, 256> table{};
    constexpr int Top = int(sizeof(T)) * 8 - 1;
    for (unsigned byte = 0; byte < 256; ++byte) {
        auto crc = T(byte << (Top - 7));
        for (int bit = 0; bit < 8; ++bit)
            crc = T(crc >> Top ? (crc << 1) ^ Polynomial : crc << 1);
        table[byte] = crc;
    }
    return table;
}

constexpr auto Crc8Table = crcTable<std::uint8_t, 0x07>();
constexpr auto Crc16Table = crcTable<std::uint16_t, 0x8005>();

std::uint8_t crc8(const unsigned char *p, std::size_t size)
{
    std::uint8_t crc = 0;
    for (std::size_t i = 0; i < size; ++i)
        crc = Crc8Table[crc ^ p[i]];
    return crc;
}

std::uint16_t crc16(const unsigned char *p, std::size_t size)
{
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < size; ++i)
        crc = std::uint16_t(crc << 8) ^ Crc16Table[(crc >> 8) ^ p[i]];
    return crc;
}

// The frame or sample number, coded as UTF-8 codes a character (up to 7 bytes, 36 bits).
std::optional<std::int64_t> codedNumber(const unsigned char *p, std::size_t available,
                                        std::size_t *used)
{
    if (available == 0)
        return std::nullopt;
    const unsigned char lead = p[0];
    if (lead < 0x80) {
        *used = 1;
        return lead;
    }
    int more = 0;
    while (more < 7 && (lead << more) & 0x80)
        ++more;
    if (more < 2 || more > 7) // a continuation byte, or 0xFF
        return std::nullopt;
    const std::size_t length = std::size_t(more);
    if (available < length)
        return std::nullopt;
    std::int64_t value = more == 7 ? 0 : lead & (0x7F >> more);
    for (std::size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return std::nullopt;
        value = value << 6 | (p[i] & 0x3F);
    }
    *used = length;
    return value;
}

// Whether the frame from `begin` ends where `end` begins: its CRC-16 stands in the two bytes
// before `end` and covers everything from `begin`.
bool frameEndsAt(const std::vector<unsigned char> &tail, std::size_t begin, std::size_t end)
{
    if (end < begin + MaxHeaderBytes / 2 + 2 || end - begin > MaxFrameBytes)
        return false;
    const std::uint16_t stored = std::uint16_t(tail[end - 2] << 8 | tail[end - 1]);
    return crc16(tail.data() + begin, end - begin - 2) == stored;
}

// The last whole frame in `tail`, whose audio ends at one of `ends`.
std::optional<FlacFrameHeader> lastWholeFrame(const std::vector<unsigned char> &tail,
                                              const std::vector<std::size_t> &ends, bool variable)
{
    std::vector<std::size_t> later; // headers found behind the one looked at, nearest last
    for (std::size_t at = tail.size() - 1; at-- > 0;) {
        if (tail[at] != 0xFF || (tail[at + 1] & 0xFE) != 0xF8)
            continue;
        const auto header = parseFlacFrameHeader(tail.data() + at, tail.size() - at);
        if (!header || header->variable != variable)
            continue;
        for (const std::size_t end : ends) {
            if (end > at && frameEndsAt(tail, at, end))
                return header;
        }
        // A frame cut short, or a sync pattern inside the audio data: the frame before it
        // may end where it begins.
        for (auto it = later.rbegin(); it != later.rend(); ++it) {
            if (frameEndsAt(tail, at, *it))
                return header;
        }
        if (later.size() == MaxLaterHeaders)
            later.erase(later.begin());
        later.push_back(at);
    }
    return std::nullopt;
}

} // namespace

std::optional<FlacFrameHeader> parseFlacFrameHeader(const unsigned char *p, std::size_t available)
{
    if (available < 6 || p[0] != 0xFF || (p[1] & 0xFE) != 0xF8)
        return std::nullopt;
    const int blockCode = p[2] >> 4;
    const int rateCode = p[2] & 0x0F;
    const int channelCode = p[3] >> 4;
    const int sizeCode = (p[3] >> 1) & 0x07;
    if (blockCode == 0 || rateCode == 15 || channelCode > 10 || sizeCode == 3 || (p[3] & 1))
        return std::nullopt;
    FlacFrameHeader header;
    header.variable = p[1] & 1;
    std::size_t used = 0;
    const auto number = codedNumber(p + 4, available - 4, &used);
    if (!number || (!header.variable && used > 6))
        return std::nullopt;
    header.number = *number;
    std::size_t at = 4 + used;
    const std::size_t blockBytes = blockCode == 6 ? 1 : blockCode == 7 ? 2 : 0;
    const std::size_t rateBytes = rateCode == 12 ? 1 : rateCode == 13 || rateCode == 14 ? 2 : 0;
    if (available < at + blockBytes + rateBytes + 1)
        return std::nullopt;
    if (blockCode == 1)
        header.blockSize = 192;
    else if (blockCode <= 5)
        header.blockSize = 576 << (blockCode - 2);
    else if (blockCode <= 7)
        header.blockSize = int(blockBytes == 1 ? p[at] : p[at] << 8 | p[at + 1]) + 1;
    else
        header.blockSize = 256 << (blockCode - 8);
    at += blockBytes + rateBytes;
    if (crc8(p, at) != p[at])
        return std::nullopt;
    return header;
}

std::optional<std::int64_t> countFlacSamples(int fd, std::int64_t audioOffset,
                                             std::int64_t fileLength)
{
    unsigned char head[MaxHeaderBytes];
    const std::int64_t audioBytes = fileLength - audioOffset;
    if (audioBytes < std::int64_t(sizeof head) ||
        !bytes::readAt(fd, audioOffset, head, sizeof head))
        return std::nullopt;
    const auto first = parseFlacFrameHeader(head, sizeof head);
    if (!first)
        return std::nullopt;
    for (std::int64_t want = FirstTailBytes;; want *= 4) {
        const std::int64_t size = std::min({want, MaxTailBytes, audioBytes});
        std::vector<unsigned char> tail(std::size_t(size), 0);
        if (!bytes::readAt(fd, fileLength - size, tail.data(), tail.size()))
            return std::nullopt;
        // The audio ends at the end of the file, or before an ID3v1 tag some taggers append.
        std::vector<std::size_t> ends{tail.size()};
        if (tail.size() > 128 && std::memcmp(tail.data() + tail.size() - 128, "TAG", 3) == 0)
            ends.push_back(tail.size() - 128);
        if (const auto last = lastWholeFrame(tail, ends, first->variable)) {
            if (last->number < first->number)
                return std::nullopt;
            const std::int64_t before = last->number - first->number;
            return (first->variable ? before : before * first->blockSize) + last->blockSize;
        }
        if (size == audioBytes || size >= MaxTailBytes)
            return std::nullopt;
    }
}
