#include "mp3enc/segments/repacker.h"

#include <algorithm>
#include <cstring>

int Repacker::freeBefore(const Position &at, const mp3frame::Header &next)
{
    return int(std::min<std::int64_t>({at.areaEnd - at.dataEnd, at.limit, next.maxBackBytes()}));
}

bool Repacker::advance(Position &at, const mp3frame::Header &h, int dataBytes)
{
    const int back = freeBefore(at, h);
    const std::int64_t start = at.areaEnd - back;
    const std::int64_t areaEnd = at.areaEnd + h.mainDataBytes();
    if (h.crc || start + dataBytes > areaEnd)
        return false;
    // Where the frame would leave the next more than it may, the encoder starts its data later
    // (filling the bytes before it), as far as the reservoir it took from goes.
    const std::int64_t excess = areaEnd - (start + dataBytes) - h.reservoirLimit();
    const std::int64_t later = std::clamp<std::int64_t>(excess, 0, back);
    at = {areaEnd, start + later + dataBytes, h.reservoirLimit()};
    return true;
}

bool Repacker::append(const mp3frame::Header &h, const unsigned char *head,
                      const unsigned char *data, int dataBytes)
{
    Position after = m_at;
    if (!advance(after, h, dataBytes))
        return false;
    const std::int64_t start = after.dataEnd - dataBytes;
    const int back = int(m_at.areaEnd - start);

    Pending frame;
    frame.areaOffset = h.mainDataOffset();
    frame.areaStart = m_at.areaEnd;
    frame.bytes.assign(std::size_t(h.frameBytes), 0);
    std::memcpy(frame.bytes.data(), head, std::size_t(frame.areaOffset));
    mp3frame::setMainDataBegin(h, frame.bytes.data() + frame.areaOffset - h.sideInfoBytes, back);
    m_pending.push_back(std::move(frame));

    // Spread the data over the areas of this frame and the earlier ones it reaches back into.
    std::int64_t at = start;
    const std::int64_t end = start + dataBytes;
    for (Pending &p : m_pending) {
        const std::int64_t areaEnd =
            p.areaStart + std::int64_t(p.bytes.size()) - std::int64_t(p.areaOffset);
        if (at >= areaEnd)
            continue;
        const std::int64_t n = std::min(end, areaEnd) - at;
        if (n <= 0)
            break;
        std::memcpy(p.bytes.data() + p.areaOffset + (at - p.areaStart), data + (at - start),
                    std::size_t(n));
        at += n;
    }
    m_at = after;
    ++m_frames;

    // A frame whose area ends out of reach of any later frame is final.
    while (!m_pending.empty()) {
        const Pending &p = m_pending.front();
        const std::int64_t areaEnd =
            p.areaStart + std::int64_t(p.bytes.size()) - std::int64_t(p.areaOffset);
        if (areaEnd > std::max(m_at.dataEnd, m_at.areaEnd - h.maxBackBytes()))
            break;
        m_finished.insert(m_finished.end(), p.bytes.begin(), p.bytes.end());
        m_pending.pop_front();
    }
    return true;
}

void Repacker::finish()
{
    for (const Pending &p : m_pending)
        m_finished.insert(m_finished.end(), p.bytes.begin(), p.bytes.end());
    m_pending.clear();
}

void Repacker::takeFinished(std::vector<unsigned char> &out)
{
    out.insert(out.end(), m_finished.begin(), m_finished.end());
    m_finished.clear();
}
