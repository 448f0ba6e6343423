#include "mp3enc/framelist.h"

bool FrameList::parse(const unsigned char *bytes, std::size_t size, bool skipFirst)
{
    m_frames.clear();
    m_heads.clear();
    m_data.clear();
    // The main data areas of the frames one after another: what main_data_begin counts back in.
    std::vector<unsigned char> reservoir;
    reservoir.reserve(size);
    bool first = true;
    for (std::size_t pos = 0; pos < size;) {
        Frame frame;
        if (size - pos < 4 || !mp3frame::parseHeader(bytes + pos, &frame.header) ||
            size - pos < std::size_t(frame.header.frameBytes))
            return false;
        const mp3frame::Header &h = frame.header;
        const unsigned char *frameBytes = bytes + pos;
        pos += std::size_t(h.frameBytes);
        if (first && skipFirst) {
            first = false;
            continue;
        }
        first = false;
        frame.side = mp3frame::parseSideInfo(h, frameBytes + h.mainDataOffset() - h.sideInfoBytes);
        const std::size_t areaStart = reservoir.size();
        reservoir.insert(reservoir.end(), frameBytes + h.mainDataOffset(),
                         frameBytes + h.frameBytes);
        const std::size_t back = std::size_t(frame.side.mainDataBegin);
        frame.dataBytes = (frame.side.mainDataBits + 7) / 8;
        if (back > areaStart || areaStart - back + std::size_t(frame.dataBytes) > reservoir.size())
            return false;
        frame.headOffset = m_heads.size();
        m_heads.insert(m_heads.end(), frameBytes, frameBytes + h.mainDataOffset());
        frame.dataOffset = m_data.size();
        const auto from = reservoir.begin() + std::ptrdiff_t(areaStart - back);
        m_data.insert(m_data.end(), from, from + frame.dataBytes);
        m_frames.push_back(frame);
    }
    return true;
}
