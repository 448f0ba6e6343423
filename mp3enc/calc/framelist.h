#pragma once

#include "mp3enc/calc/mp3frame.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// One encoder's output cut into frames, each frame's main data taken out of the bit reservoir
// so it can be laid down again elsewhere.
class FrameList
{
public:
    struct Frame
    {
        mp3frame::Header header;
        mp3frame::SideInfo side;
        std::size_t streamOffset = 0; // where the frame starts in the parsed bytes
        std::size_t headOffset = 0;   // header, checksum and side information
        std::size_t dataOffset = 0;   // main data, whole bytes
        int dataBytes = 0;            // -1: it lies before the bytes parsed
        // The reservoir its encoder had for it: the bytes free before its own main data area,
        // within what the frame before could leave; -1 where that frame is not among the bytes.
        int reservoir = -1;
    };

    enum Start
    {
        StreamStart, // the encoder's first frame
        TagFirst,    // the encoder's first frame is its info tag: left out
        MidStream    // a cut: the first frames' main data may lie before it
    };
    // False when the bytes are not a clean sequence of Layer III frames whose main data lies
    // within them. A frame cut off at the end (an encoder still running) is kept when its own
    // data is complete.
    bool parse(const unsigned char *bytes, std::size_t size, Start start);

    std::size_t size() const { return m_frames.size(); }
    const Frame &operator[](std::size_t i) const { return m_frames[i]; }
    const unsigned char *head(std::size_t i) const
    {
        return m_heads.data() + m_frames[i].headOffset;
    }
    const unsigned char *data(std::size_t i) const
    {
        return m_data.data() + m_frames[i].dataOffset;
    }

private:
    std::vector<Frame> m_frames;
    std::vector<unsigned char> m_heads;
    std::vector<unsigned char> m_data;
};
