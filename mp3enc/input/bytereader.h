#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

// Bytes of a file read where they stand, without moving the file's offset (the audio library
// reads the same descriptor), and the integers file headers hold.
namespace bytes {

// Exactly `size` bytes from `position`; false for an error or a file that ends first.
bool readAt(int fd, std::int64_t position, void *buffer, std::size_t size);

// An unsigned integer of `count` bytes (at most 4), most significant first or last.
std::uint32_t bigEndian(const unsigned char *p, int count);
std::uint32_t littleEndian(const unsigned char *p, int count);
// A RIFF size field: little-endian, or big-endian in a RIFX file.
inline std::uint32_t sizeField(const void *p, bool bigEndianFile)
{
    const auto *u = static_cast<const unsigned char *>(p);
    return bigEndianFile ? bigEndian(u, 4) : littleEndian(u, 4);
}

} // namespace bytes

// The chunks of a RIFF (RIFX, RF64) WAVE file in order, from the first after the header to the
// end of the file. A chunk's size is followed only where it leads: a data chunk's may be wrong
// past 4 GiB.
class RiffWalk
{
public:
    struct Chunk
    {
        char id[4];
        std::uint32_t size;
        std::int64_t body; // where its bytes start
    };

    // `rf64`: whether an RF64 file is walked too (its sizes stand in a chunk of their own).
    RiffWalk(int fd, std::int64_t length, bool rf64);
    // Whether the file is a WAVE file of one of the forms asked for.
    bool isWave() const { return m_pos >= 0; }
    bool bigEndian() const { return m_bigEndian; }
    // The next chunk's header; none at the end or where a header cannot be read.
    std::optional<Chunk> next();

private:
    int m_fd;
    std::int64_t m_length;
    std::int64_t m_pos = -1;
    bool m_bigEndian = false;
};
