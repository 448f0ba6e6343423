#include "mp3enc/input/oggpacket.h"

#include "mp3enc/input/bytereader.h"

#include <QtEndian>
#include <cstdint>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace {

constexpr int PageHeaderBytes = 27;

struct Piece
{
    std::int64_t offset;
    std::int64_t length;
};

// Where the packet's bytes lie in the file: a packet is cut into segments of 255 bytes, the
// last one shorter, and may run on over any number of pages.
std::vector<Piece> packetPieces(int fd, int index)
{
    std::vector<Piece> pieces;
    std::uint32_t serial = 0;
    int packet = 0;
    for (std::int64_t at = 0;;) {
        unsigned char header[PageHeaderBytes];
        unsigned char lacing[255];
        if (!bytes::readAt(fd, at, header, sizeof header) || std::memcmp(header, "OggS", 4) != 0)
            return {};
        const auto page = qFromLittleEndian<quint32>(header + 14);
        const int segments = header[26];
        if (!bytes::readAt(fd, at + PageHeaderBytes, lacing, std::size_t(segments)))
            return {};
        if (at == 0)
            serial = page;
        std::int64_t data = at + PageHeaderBytes + segments;
        for (int i = 0; i < segments; ++i) {
            if (page == serial && packet == index && lacing[i] > 0) {
                if (!pieces.empty() && pieces.back().offset + pieces.back().length == data)
                    pieces.back().length += lacing[i];
                else
                    pieces.push_back({data, lacing[i]});
            }
            if (page == serial && lacing[i] < 255 && ++packet > index)
                return pieces;
            data += lacing[i];
        }
        at = data;
    }
}

} // namespace

QByteArray readOggPacket(int fd, int index)
{
    const std::vector<Piece> pieces = packetPieces(fd, index);
    std::int64_t size = 0;
    for (const Piece &piece : pieces)
        size += piece.length;
    QByteArray packet(qsizetype(size), Qt::Uninitialized);
    auto *out = reinterpret_cast<unsigned char *>(packet.data());
    for (const Piece &piece : pieces) {
        if (!bytes::readAt(fd, piece.offset, out, std::size_t(piece.length)))
            return {};
        out += piece.length;
    }
    return packet;
}
