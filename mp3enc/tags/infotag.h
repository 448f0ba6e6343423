#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// The encoder's info-tag frame (the "Info" header and its extension) rewritten for a stream
// joined from several encoders. Pure functions over bytes.
namespace infotag {

// Bytes from the "Info" word to the end of the tag's own checksum.
inline constexpr int Size = 156;

struct Stream
{
    std::int64_t audioFrames = 0;
    std::int64_t totalBytes = 0;                // the tag frame and the audio frames
    std::uint16_t musicCrc = 0;                 // over the audio frames
    std::array<unsigned char, 100> seekTable{}; // SeekTable::bytes() of the audio frames
    int delay = 0;                              // samples before the input's first
    int padding = 0;                            // samples after its last
    // The tag frame's header carries the last audio frame's mode extension.
    int modeExtension = 0;
    std::uint16_t radioGain = 0; // the ReplayGain field, 0 for "not set"
};

// The checksum the tag uses for the music and for itself (CRC-16, polynomial 0x8005 reflected).
std::uint16_t crc16(const unsigned char *bytes, std::size_t size, std::uint16_t crc = 0);

// The tag's seek table: for each percent of the playing time, how far into the stream (in 256ths)
// that point lies. The encoder reckons it from the running total of the frames' bit rates, which
// it samples into a fixed number of marks at an interval that doubles whenever they run out;
// the table reads the marks in single precision. The same steps give the same bytes.
class SeekTable
{
public:
    void addFrame(int kbps);
    std::array<unsigned char, 100> bytes() const;

private:
    void thinOut();

    static constexpr int Marks = 400;
    std::array<std::int64_t, Marks> m_marks{}; // running totals, oldest first
    int m_held = 0;
    std::int64_t m_interval = 1; // frames between two marks
    std::int64_t m_sinceMark = 0;
    std::int64_t m_total = 0;
};

// Rewrites the header's mode extension, frame count, byte count, seek table, delay and padding,
// radio gain, music length and checksum (the peak and audiophile gain stay "not set", as the
// encoder leaves them) and recomputes the tag's own checksum. False when the frame is not laid out
// as expected; it is then unchanged.
bool rebuild(std::vector<unsigned char> &frame, const Stream &stream);

// Rewrites the radio gain field alone, and the tag's own checksum. False when the frame is not
// laid out as expected; it is then unchanged.
bool setRadioGain(std::vector<unsigned char> &frame, std::uint16_t radioGain);

} // namespace infotag
