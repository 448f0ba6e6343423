#include "mp3enc/input/flacblocks.h"

#include "mp3enc/input/bytereader.h"

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum BlockType
{
    StreamInfo = 0,
    VorbisComment = 4,
    CueSheet = 5,
    Picture = 6
};

// The bytes an ID3v2 tag in front of the stream takes, header and footer included.
std::int64_t id3v2Length(int fd)
{
    unsigned char h[10];
    if (!bytes::readAt(fd, 0, h, sizeof h) || std::memcmp(h, "ID3", 3) != 0)
        return 0;
    const std::int64_t size =
        std::int64_t(h[6] & 0x7F) << 21 | (h[7] & 0x7F) << 14 | (h[8] & 0x7F) << 7 | (h[9] & 0x7F);
    return 10 + size + (h[5] & 0x10 ? 10 : 0);
}

void readStreamInfo(const unsigned char *p, FlacBlocks &blocks)
{
    // 16+16 bits of block sizes, 24+24 of frame sizes, then rate (20), channels-1 (3),
    // bits-1 (5) and the sample count (36).
    blocks.sampleRate = int(bytes::bigEndian(p + 10, 3) >> 4);
    blocks.channels = int((p[12] >> 1) & 0x07) + 1;
    blocks.totalSamples = std::int64_t(p[13] & 0x0F) << 32 | bytes::bigEndian(p + 14, 4);
}

} // namespace

std::optional<FlacBlocks> readFlacBlocks(int fd)
{
    struct stat st = {};
    if (::fstat(fd, &st) != 0)
        return std::nullopt;
    const std::int64_t fileLength = st.st_size;
    std::int64_t at = id3v2Length(fd);
    FlacBlocks blocks;
    blocks.id3v2 = at > 0;
    unsigned char magic[4];
    if (!bytes::readAt(fd, at, magic, sizeof magic) || std::memcmp(magic, "fLaC", 4) != 0)
        return std::nullopt;
    at += 4;
    bool sawStreamInfo = false;
    for (bool last = false; !last;) {
        unsigned char h[4];
        if (!bytes::readAt(fd, at, h, sizeof h))
            return std::nullopt;
        last = h[0] & 0x80;
        FlacBlocks::Block block{at + 4, std::int64_t(bytes::bigEndian(h + 1, 3)), 0};
        if (block.offset + block.length > fileLength)
            return std::nullopt;
        switch (h[0] & 0x7F) {
        case StreamInfo: {
            unsigned char info[34];
            if (block.length < 34 || !bytes::readAt(fd, block.offset, info, sizeof info))
                return std::nullopt;
            readStreamInfo(info, blocks);
            sawStreamInfo = true;
            break;
        }
        case VorbisComment:
            if (!blocks.comment)
                blocks.comment = block;
            break;
        case CueSheet:
            if (!blocks.cueSheet)
                blocks.cueSheet = block;
            break;
        case Picture: {
            unsigned char type[4];
            if (block.length < 32 || !bytes::readAt(fd, block.offset, type, sizeof type))
                break; // too short to be a picture: passed over
            block.pictureType = bytes::bigEndian(type, 4);
            blocks.pictures.push_back(block);
            break;
        }
        default:
            break;
        }
        at = block.offset + block.length;
    }
    if (!sawStreamInfo)
        return std::nullopt;
    blocks.audioOffset = at;
    return blocks;
}

QByteArray readFlacBlock(int fd, const FlacBlocks::Block &block)
{
    QByteArray data(qsizetype(block.length), Qt::Uninitialized);
    if (!bytes::readAt(fd, block.offset, reinterpret_cast<unsigned char *>(data.data()),
                       std::size_t(data.size())))
        return {};
    return data;
}

std::optional<FlacPicture> parseFlacPicture(QByteArray block)
{
    const auto *p = reinterpret_cast<const unsigned char *>(block.constData());
    qsizetype at = 0;
    const auto number = [&]() -> std::optional<qsizetype> {
        if (block.size() - at < 4)
            return std::nullopt;
        at += 4;
        return qsizetype(bytes::bigEndian(p + at - 4, 4));
    };
    // A length, and the bytes it covers.
    const auto text = [&]() -> std::optional<QByteArray> {
        const auto length = number();
        if (!length || *length > block.size() - at)
            return std::nullopt;
        at += *length;
        return block.sliced(at - *length, *length);
    };
    FlacPicture picture;
    const auto type = number();
    const auto mime = text();
    const auto description = text();
    if (!type || !mime || !description)
        return std::nullopt;
    at += 16; // width, height, depth, colours
    const auto length = number();
    if (!length || *length > block.size() - at)
        return std::nullopt;
    picture.type = std::uint32_t(*type);
    picture.mimeType = *mime;
    picture.description = *description;
    // Cut down in place: the block held the only copy of the picture's bytes.
    const qsizetype begin = at;
    block.truncate(begin + *length);
    block.remove(0, begin);
    picture.data = std::move(block);
    return picture;
}
