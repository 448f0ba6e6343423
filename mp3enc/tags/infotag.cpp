#include "mp3enc/tags/infotag.h"

#include "mp3enc/calc/mp3frame.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace infotag {

namespace {

// Offsets from the "Info" word.
constexpr int FlagsAt = 4;
constexpr int FramesAt = 8;
constexpr int BytesAt = 12;
constexpr int TocAt = 16;
constexpr int EncoderAt = 120;
constexpr int PeakAt = 131;
constexpr int RadioGainAt = 135;
constexpr int AudiophileGainAt = 137;
constexpr int DelayPaddingAt = 141;
constexpr int MusicLengthAt = 148;
constexpr int MusicCrcAt = 152;
constexpr int TagCrcAt = 154;
constexpr unsigned AllFields = 0x0F; // frames, bytes, seek table, quality

void putBigEndian(unsigned char *at, std::uint64_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i, value >>= 8)
        at[i] = static_cast<unsigned char>(value & 0xFF);
}

} // namespace

std::uint16_t crc16(const unsigned char *bytes, std::size_t size, std::uint16_t crc)
{
    // A byte at a time: the music checksum runs over every byte of the file.
    static const auto table = [] {
        std::array<std::uint16_t, 256> t{};
        for (unsigned n = 0; n < 256; ++n) {
            auto c = std::uint16_t(n);
            for (int bit = 0; bit < 8; ++bit)
                c = (c & 1) ? std::uint16_t((c >> 1) ^ 0xA001) : std::uint16_t(c >> 1);
            t[n] = c;
        }
        return t;
    }();
    for (std::size_t i = 0; i < size; ++i)
        crc = std::uint16_t((crc >> 8) ^ table[(crc ^ bytes[i]) & 0xFF]);
    return crc;
}

void SeekTable::addFrame(int kbps)
{
    m_total += kbps;
    if (++m_sinceMark < m_interval)
        return;
    m_sinceMark = 0;
    m_marks[std::size_t(m_held++)] = m_total;
    if (m_held == Marks)
        thinOut();
}

void SeekTable::thinOut()
{
    // Every second mark stays (the later of each pair), so the marks span twice the frames.
    for (int k = 0; k < Marks / 2; ++k)
        m_marks[std::size_t(k)] = m_marks[std::size_t(2 * k + 1)];
    m_held = Marks / 2;
    m_interval *= 2;
}

std::array<unsigned char, 100> SeekTable::bytes() const
{
    std::array<unsigned char, 100> table{};
    if (m_held == 0)
        return table;
    const auto whole = double(float(m_total));
    for (int percent = 1; percent < 100; ++percent) {
        const auto mark =
            std::min(int(std::floor(float(percent) / 100.0f * float(m_held))), m_held - 1);
        const auto at = int(256.0 * double(float(m_marks[std::size_t(mark)])) / whole);
        table[std::size_t(percent)] = static_cast<unsigned char>(std::min(at, 255));
    }
    return table;
}

namespace {

// Where the "Info" word lies in `frame`; 0 when the frame is not the encoder's tag as expected.
std::size_t tagIn(const std::vector<unsigned char> &frame)
{
    mp3frame::Header h;
    if (frame.size() < 4 || !mp3frame::parseHeader(frame.data(), &h))
        return 0;
    const std::size_t info = std::size_t(h.mainDataOffset());
    if (info == 0 || frame.size() < info + Size)
        return 0;
    const unsigned char *t = frame.data() + info;
    const bool infoWord = std::memcmp(t, "Info", 4) == 0 || std::memcmp(t, "Xing", 4) == 0;
    const unsigned flags = (unsigned(t[FlagsAt + 2]) << 8) | t[FlagsAt + 3];
    return infoWord && flags == AllFields && std::memcmp(t + EncoderAt, "LAME", 4) == 0 ? info : 0;
}

} // namespace

bool setRadioGain(std::vector<unsigned char> &frame, std::uint16_t radioGain)
{
    const std::size_t info = tagIn(frame);
    if (info == 0)
        return false;
    putBigEndian(frame.data() + info + RadioGainAt, radioGain, 2);
    putBigEndian(frame.data() + info + TagCrcAt, crc16(frame.data(), info + TagCrcAt), 2);
    return true;
}

bool rebuild(std::vector<unsigned char> &frame, const Stream &s)
{
    const std::size_t info = tagIn(frame);
    if (info == 0 || s.delay < 0 || s.delay > 0xFFF || s.padding < 0 || s.padding > 0xFFF ||
        s.totalBytes > 0xFFFFFFFFLL)
        return false;
    unsigned char *t = frame.data() + info;

    frame[3] = static_cast<unsigned char>((frame[3] & 0xCF) | ((s.modeExtension & 3) << 4));
    putBigEndian(t + FramesAt, std::uint64_t(s.audioFrames), 4);
    putBigEndian(t + BytesAt, std::uint64_t(s.totalBytes), 4);
    std::memcpy(t + TocAt, s.seekTable.data(), s.seekTable.size());
    std::memset(t + PeakAt, 0, 4);
    putBigEndian(t + RadioGainAt, s.radioGain, 2);
    std::memset(t + AudiophileGainAt, 0, 2);
    putBigEndian(t + DelayPaddingAt, (std::uint64_t(s.delay) << 12) | std::uint64_t(s.padding), 3);
    putBigEndian(t + MusicLengthAt, std::uint64_t(s.totalBytes), 4);
    putBigEndian(t + MusicCrcAt, s.musicCrc, 2);
    putBigEndian(t + TagCrcAt, crc16(frame.data(), info + TagCrcAt), 2);
    return true;
}

} // namespace infotag
