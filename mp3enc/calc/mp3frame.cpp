#include "mp3enc/calc/mp3frame.h"

#include <algorithm>
#include <numeric>

namespace mp3frame {

namespace {

class BitReader
{
public:
    explicit BitReader(const unsigned char *bytes) : m_bytes(bytes) {}
    int read(int bits)
    {
        int value = 0;
        for (int i = 0; i < bits; ++i, ++m_pos)
            value = (value << 1) | ((m_bytes[m_pos >> 3] >> (7 - (m_pos & 7))) & 1);
        return value;
    }
    void skip(int bits) { m_pos += bits; }

private:
    const unsigned char *m_bytes;
    int m_pos = 0;
};

constexpr int Mpeg1Kbps[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
constexpr int Mpeg2Kbps[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
constexpr int Mpeg1Rates[3] = {44100, 48000, 32000};

std::int64_t bytesPerSecondTimes1000(bool mpeg1, int kbps)
{
    return std::int64_t(mpeg1 ? 144000 : 72000) * kbps;
}

const int *kbpsTable(bool mpeg1)
{
    return mpeg1 ? Mpeg1Kbps : Mpeg2Kbps;
}

} // namespace

int Header::reservoirLimit() const
{
    const int buffer = mpeg1 ? 1920 : 960;
    return std::clamp(buffer - frameBytes, 0, maxBackBytes());
}

Header Header::withRate(int newKbps) const
{
    Header h = *this;
    h.kbps = newKbps;
    h.padded = false;
    h.frameBytes = mp3frame::frameBytes(newKbps, sampleRate);
    return h;
}

void setRate(const Header &h, unsigned char *b)
{
    const int *table = kbpsTable(h.mpeg1);
    const auto index = int(std::find(table + 1, table + 15, h.kbps) - table);
    b[2] = static_cast<unsigned char>((b[2] & 0x0D) | (index << 4) | (h.padded ? 2 : 0));
}

std::vector<int> bitRates(int sampleRate, int lowKbps, int highKbps)
{
    std::vector<int> rates;
    const int *table = kbpsTable(sampleRate >= 32000);
    for (int i = 1; i < 15; ++i) {
        if (table[i] >= lowKbps && table[i] <= highKbps)
            rates.push_back(table[i]);
    }
    return rates;
}

bool parseHeader(const unsigned char *b, Header *h)
{
    if (b[0] != 0xFF || (b[1] & 0xE0) != 0xE0)
        return false;
    const int version = (b[1] >> 3) & 3; // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    const int layer = (b[1] >> 1) & 3;   // 1: Layer III
    const int rateIndex = b[2] >> 4;
    const int freqIndex = (b[2] >> 2) & 3;
    if (version == 1 || layer != 1 || freqIndex == 3)
        return false;
    h->mpeg1 = version == 3;
    h->crc = (b[1] & 1) == 0;
    h->kbps = kbpsTable(h->mpeg1)[rateIndex];
    if (h->kbps == 0)
        return false;
    h->sampleRate = Mpeg1Rates[freqIndex] / (h->mpeg1 ? 1 : version == 2 ? 2 : 4);
    h->padded = (b[2] >> 1) & 1;
    h->channels = (b[3] >> 6) == 3 ? 1 : 2;
    h->granules = h->mpeg1 ? 2 : 1;
    h->samplesPerFrame = 576 * h->granules;
    h->sideInfoBytes = h->mpeg1 ? (h->channels == 1 ? 17 : 32) : (h->channels == 1 ? 9 : 17);
    h->frameBytes = frameBytes(h->kbps, h->sampleRate) + (h->padded ? 1 : 0);
    return h->frameBytes >= h->mainDataOffset();
}

SideInfo parseSideInfo(const Header &h, const unsigned char *side)
{
    SideInfo info;
    BitReader bits(side);
    info.mainDataBegin = bits.read(h.mpeg1 ? 9 : 8);
    bits.skip(h.mpeg1 ? (h.channels == 1 ? 5 : 3) : (h.channels == 1 ? 1 : 2)); // private bits
    if (h.mpeg1)
        bits.skip(4 * h.channels); // scfsi
    for (int gr = 0; gr < h.granules; ++gr) {
        for (int ch = 0; ch < h.channels; ++ch) {
            info.mainDataBits += bits.read(12);   // part2_3_length
            bits.skip(9 + 8 + (h.mpeg1 ? 4 : 9)); // big_values, global_gain, scalefac_compress
            if (bits.read(1)) {                   // window switching
                info.blockType[gr][ch] = bits.read(2);
                info.mixedBlock[gr][ch] = bits.read(1) != 0;
                bits.skip(2 * 5 + 3 * 3); // table_select, subblock_gain
            } else {
                bits.skip(3 * 5 + 4 + 3); // table_select, region0/1_count
            }
            bits.skip(h.mpeg1 ? 3 : 2); // (preflag,) scalefac_scale, count1table_select
        }
    }
    return info;
}

void setMainDataBegin(const Header &h, unsigned char *side, int value)
{
    if (h.mpeg1) {
        side[0] = static_cast<unsigned char>(value >> 1);
        side[1] = static_cast<unsigned char>((side[1] & 0x7F) | ((value & 1) << 7));
    } else {
        side[0] = static_cast<unsigned char>(value);
    }
}

int samplesPerFrame(int sampleRate)
{
    return sampleRate >= 32000 ? 1152 : 576;
}

int frameBytes(int kbps, int sampleRate)
{
    return int(bytesPerSecondTimes1000(sampleRate >= 32000, kbps) / sampleRate);
}

bool lamePadded(std::int64_t index, bool mpeg1, int kbps, int sampleRate)
{
    // The encoder subtracts the fraction from a lag that starts at one fraction and pads each
    // time it goes negative: frame k is padded when ceil(k * f / rate) steps up.
    const std::int64_t fraction = bytesPerSecondTimes1000(mpeg1, kbps) % sampleRate;
    if (fraction == 0 || index <= 0)
        return false;
    const auto paddedBefore = [&](std::int64_t k) {
        return (k * fraction + sampleRate - 1) / sampleRate;
    };
    return paddedBefore(index) > paddedBefore(index - 1);
}

int paddingPeriod(bool mpeg1, int kbps, int sampleRate)
{
    const auto fraction = int(bytesPerSecondTimes1000(mpeg1, kbps) % sampleRate);
    return sampleRate / std::gcd(fraction, sampleRate); // gcd(0, r) = r: every frame alike
}

} // namespace mp3frame
