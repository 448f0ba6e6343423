#pragma once

#include <cstdint>
#include <vector>

// Reading and patching MPEG-1/2/2.5 Layer III frames: pure functions over bytes.
namespace mp3frame {

struct Header
{
    bool mpeg1 = true;
    bool crc = false; // protected by a checksum after the header
    int kbps = 0;
    int sampleRate = 0;
    bool padded = false;
    int channels = 2;
    int frameBytes = 0;    // header to header
    int sideInfoBytes = 0; // after the header (and checksum)
    int granules = 2;
    int samplesPerFrame = 1152;
    // How far back main_data_begin can reach (bits of the field).
    int maxBackBytes() const { return mpeg1 ? 511 : 255; }
    int mainDataOffset() const { return 4 + (crc ? 2 : 0) + sideInfoBytes; }
    int mainDataBytes() const { return frameBytes - mainDataOffset(); }
    // What the encoder lets a frame leave for the ones after it: main_data_begin's reach, and no
    // more than a decoder's buffer holds beside this frame (LAME's 7680 bits per granule).
    int reservoirLimit() const;
    // The same frame at another bit rate, unpadded.
    Header withRate(int newKbps) const;
};

// False unless the four bytes start a Layer III frame with a usable bit rate (not free format).
bool parseHeader(const unsigned char *bytes, Header *header);
// Writes `header`'s bit rate and padding into the four bytes of a frame of that kind.
void setRate(const Header &header, unsigned char *bytes);

// The bit rates a frame at `sampleRate` can have, from `lowKbps` to `highKbps`, ascending.
std::vector<int> bitRates(int sampleRate, int lowKbps, int highKbps);

enum BlockType
{
    NormalBlock = 0,
    StartBlock = 1,
    ShortBlocks = 2,
    StopBlock = 3
};

struct SideInfo
{
    int mainDataBegin = 0;      // bytes before this frame's main data area where its data starts
    int mainDataBits = 0;       // part2_3_length summed over granules and channels
    int blockType[2][2] = {};   // [granule][channel]
    bool mixedBlock[2][2] = {}; // [granule][channel]
};

// `side` points at the side information (header.mainDataOffset() - sideInfoBytes).
SideInfo parseSideInfo(const Header &header, const unsigned char *side);
void setMainDataBegin(const Header &header, unsigned char *side, int value);

// Samples one frame carries at `sampleRate`: 1152 at the MPEG-1 rates (32 kHz and up), 576 at
// the MPEG-2 and 2.5 rates.
int samplesPerFrame(int sampleRate);
// Bytes of an unpadded frame at `kbps` and `sampleRate`, header included.
int frameBytes(int kbps, int sampleRate);

// The frame size the encoder writes at a constant bit rate: frame `index` (the first audio frame
// is 0, an info-tag frame before it is not counted) carries a padding byte when the running sum
// of the fractional byte rate passes a whole byte.
bool lamePadded(std::int64_t index, bool mpeg1, int kbps, int sampleRate);
// Number of frames after which that pattern repeats.
int paddingPeriod(bool mpeg1, int kbps, int sampleRate);

} // namespace mp3frame
