#include "mp3enc/infotag.h"

#include "mp3enc/mp3frame.h"

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

std::array<unsigned char, 100> constantRateToc(std::int64_t frames, int kbps)
{
    // The encoder samples the running byte sum into 400 slots, halving them whenever full, and
    // reads the table from those slots in single precision; the same steps give the same bytes.
    constexpr int Slots = 400;
    std::array<std::int64_t, Slots> bag{};
    std::int64_t want = 1, seen = 0, sum = 0;
    int pos = 0;
    for (std::int64_t f = 0; f < frames; ++f) {
        sum += kbps;
        if (++seen < want)
            continue;
        if (pos < Slots) {
            bag[std::size_t(pos++)] = sum;
            seen = 0;
        }
        if (pos == Slots) {
            for (int i = 1; i < Slots; i += 2)
                bag[std::size_t(i / 2)] = bag[std::size_t(i)];
            want *= 2;
            pos /= 2;
        }
    }
    std::array<unsigned char, 100> toc{};
    if (pos <= 0)
        return toc;
    for (int i = 1; i < 100; ++i) {
        const float j = float(i) / 100.0f;
        int index = int(std::floor(j * float(pos)));
        if (index > pos - 1)
            index = pos - 1;
        const int point = int(256.0 * double(float(bag[std::size_t(index)])) / double(float(sum)));
        toc[std::size_t(i)] = static_cast<unsigned char>(point > 255 ? 255 : point);
    }
    return toc;
}

bool rebuild(std::vector<unsigned char> &frame, const Stream &s)
{
    mp3frame::Header h;
    if (frame.size() < 4 || !mp3frame::parseHeader(frame.data(), &h))
        return false;
    const std::size_t info = std::size_t(h.mainDataOffset());
    if (frame.size() < info + Size)
        return false;
    unsigned char *t = frame.data() + info;
    const bool infoWord = std::memcmp(t, "Info", 4) == 0 || std::memcmp(t, "Xing", 4) == 0;
    const unsigned flags = (unsigned(t[FlagsAt + 2]) << 8) | t[FlagsAt + 3];
    if (!infoWord || flags != AllFields || std::memcmp(t + EncoderAt, "LAME", 4) != 0 ||
        s.delay < 0 || s.delay > 0xFFF || s.padding < 0 || s.padding > 0xFFF ||
        s.totalBytes > 0xFFFFFFFFLL)
        return false;

    frame[3] = static_cast<unsigned char>((frame[3] & 0xCF) | ((s.modeExtension & 3) << 4));
    putBigEndian(t + FramesAt, std::uint64_t(s.audioFrames), 4);
    putBigEndian(t + BytesAt, std::uint64_t(s.totalBytes), 4);
    const auto toc = constantRateToc(s.audioFrames, s.kbps);
    std::memcpy(t + TocAt, toc.data(), toc.size());
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
