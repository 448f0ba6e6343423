#include "mp3enc/calc/framelist.h"

#include <algorithm>

bool FrameList::parse(const unsigned char *bytes, std::size_t size, Start start)
{
    m_frames.clear();
    m_heads.clear();
    m_data.clear();
    // The main data areas of the frames one after another: what main_data_begin counts back in.
    std::vector<unsigned char> reservoir;
    reservoir.reserve(size);
    bool first = true;
    std::size_t reservoirStartFrames = 0; // after a cut: frames whose data lies before it
    // Where the frame before ended its data, in the reservoir's bytes (before them after a cut),
    // and what it could leave.
    std::int64_t dataEnd = 0;
    int limit = 0;
    bool known = start != MidStream;
    for (std::size_t pos = 0; pos < size;) {
        Frame frame;
        if (size - pos < 4 || !mp3frame::parseHeader(bytes + pos, &frame.header))
            return false;
        const mp3frame::Header &h = frame.header;
        // A running encoder's last frame may be cut off: its area fills with later frames' data.
        const std::size_t present = std::min(size - pos, std::size_t(h.frameBytes));
        if (present < std::size_t(h.mainDataOffset()))
            break;
        const unsigned char *frameBytes = bytes + pos;
        frame.streamOffset = pos;
        pos += present;
        if (first && start == TagFirst) {
            first = false;
            continue;
        }
        first = false;
        frame.side = mp3frame::parseSideInfo(h, frameBytes + h.mainDataOffset() - h.sideInfoBytes);
        const std::size_t areaStart = reservoir.size();
        reservoir.insert(reservoir.end(), frameBytes + h.mainDataOffset(), frameBytes + present);
        const std::size_t back = std::size_t(frame.side.mainDataBegin);
        frame.dataBytes = (frame.side.mainDataBits + 7) / 8;
        if (known)
            frame.reservoir = int(std::min<std::int64_t>(
                {std::int64_t(areaStart) - dataEnd, limit, h.maxBackBytes()}));
        dataEnd = std::int64_t(areaStart) - std::int64_t(back) + frame.dataBytes;
        limit = h.reservoirLimit();
        known = true;
        frame.headOffset = m_heads.size();
        m_heads.insert(m_heads.end(), frameBytes, frameBytes + h.mainDataOffset());
        frame.dataOffset = m_data.size();
        if (back > areaStart && start == MidStream && m_frames.size() == reservoirStartFrames) {
            frame.dataBytes = -1;
            ++reservoirStartFrames;
        } else if (back > areaStart) {
            return false;
        } else if (areaStart - back + std::size_t(frame.dataBytes) > reservoir.size()) {
            return present < std::size_t(h.frameBytes); // a cut-off frame without all its data
        } else {
            const auto from = reservoir.begin() + std::ptrdiff_t(areaStart - back);
            m_data.insert(m_data.end(), from, from + frame.dataBytes);
        }
        m_frames.push_back(frame);
    }
    return true;
}
