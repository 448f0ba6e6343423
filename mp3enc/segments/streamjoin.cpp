#include "mp3enc/segments/streamjoin.h"

#include "mp3enc/encode/tempoutput.h"

#include <algorithm>
#include <cstring>

namespace {

// Frames of two encoders can meet where both chose the same window for the granule before the
// seam: the decoder overlaps that granule with the next one, whose window follows from it.
bool sameWindows(const FrameList::Frame &a, const FrameList::Frame &b)
{
    if (a.header.channels != b.header.channels || a.header.granules != b.header.granules)
        return false;
    const int gr = a.header.granules - 1;
    for (int ch = 0; ch < a.header.channels; ++ch) {
        if (a.side.blockType[gr][ch] != b.side.blockType[gr][ch] ||
            a.side.mixedBlock[gr][ch] != b.side.mixedBlock[gr][ch])
            return false;
    }
    return true;
}

// Whether two encoders gave a frame the same data: the same side information but for where its
// data begins, the same header but for the bit rate, and the same main data up to its last bit
// (the bits after it are filler, which differs with the stream).
bool sameData(const NumberedFrames &a, const NumberedFrames &b, std::int64_t number)
{
    const FrameList::Frame &fa = *a.at(number), &fb = *b.at(number);
    const int bits = fa.side.mainDataBits;
    if (fa.dataBytes < 0 || fb.dataBytes != fa.dataBytes || fb.side.mainDataBits != bits ||
        fb.header.mainDataOffset() != fa.header.mainDataOffset())
        return false;
    const unsigned char *ha = a.list.head(std::size_t(number - a.first));
    const unsigned char *hb = b.list.head(std::size_t(number - b.first));
    constexpr int RateAndPadding = 0xF2;
    if (ha[0] != hb[0] || ha[1] != hb[1] || (ha[2] | RateAndPadding) != (hb[2] | RateAndPadding) ||
        ha[3] != hb[3])
        return false;
    // main_data_begin: the first 9 bits of MPEG-1's side information, 8 of the others'.
    const int side = fa.header.mainDataOffset() - fa.header.sideInfoBytes;
    const int firstBytes = fa.header.mpeg1 ? 2 : 1;
    if (fa.header.mpeg1 && (ha[side + 1] & 0x7F) != (hb[side + 1] & 0x7F))
        return false;
    if (std::memcmp(ha + side + firstBytes, hb + side + firstBytes,
                    std::size_t(fa.header.sideInfoBytes - firstBytes)) != 0)
        return false;
    const unsigned char *da = a.list.data(std::size_t(number - a.first));
    const unsigned char *db = b.list.data(std::size_t(number - b.first));
    if (std::memcmp(da, db, std::size_t(bits / 8)) != 0)
        return false;
    const int mask = (0xFF00 >> (bits % 8)) & 0xFF;
    return mask == 0 || (da[bits / 8] & mask) == (db[bits / 8] & mask);
}

} // namespace

const FrameList::Frame *NumberedFrames::at(std::int64_t number) const
{
    const std::int64_t i = number - first;
    return i >= 0 && i < std::int64_t(list.size()) ? &list[std::size_t(i)] : nullptr;
}

StreamJoin::StreamJoin(TempOutput &out, const EncodeProgress &progress, std::int64_t totalFrames,
                       ratechoice::Rates rates)
    : m_out(out), m_progress(progress), m_totalFrames(totalFrames), m_rates(std::move(rates))
{}

bool StreamJoin::appendUpTo(const NumberedFrames &frames, std::int64_t end)
{
    for (; m_next < end; ++m_next) {
        if (!append(frames, m_next))
            return false;
    }
    return true;
}

std::int64_t StreamJoin::findSeam(const NumberedFrames &a, const NumberedFrames &b,
                                  std::int64_t window,
                                  const std::function<bool(std::int64_t)> &refused)
{
    const std::int64_t start = m_next;
    for (std::int64_t s = start; s < start + window; ++s) {
        const FrameList::Frame *next = b.at(s);
        const FrameList::Frame *lastA = a.at(s - 1);
        const FrameList::Frame *lastB = b.at(s - 1);
        if (!next || !lastA || !lastB)
            return -1;
        if (!(refused && refused(s)) && sameWindows(*lastA, *lastB) && inStep(a, b, s) &&
            fitsFrom(b, s))
            return s;
        if (!append(a, s))
            return -1;
        m_next = s + 1;
    }
    return -1;
}

// Whether `b`'s frames from `s` on fit the joined stream. Where it leaves them less reservoir
// than their encoder had, their data sits later; at a constant rate that debt is paid off only
// where the encoder left bytes unused or reached the reservoir's limit, and every frame until then
// must still hold its data. At a variable rate the frames are sized anew, so every frame to the
// end of the segment must fit its rate, unless the stream comes back in step with the encoder's
// own reservoir, from where on it is that encoder's stream.
bool StreamJoin::fitsFrom(const NumberedFrames &b, std::int64_t s) const
{
    Repacker::Position at = m_repacker.position();
    for (std::int64_t k = s;; ++k) {
        const FrameList::Frame *f = b.at(k);
        // A debt left at the end of the segment would stay in the stream, and the earlier
        // encoder's frames could no longer follow there if the next seam had to run it on.
        if (!f)
            return k >= m_totalFrames || !m_rates.constant();
        const int free = Repacker::freeBefore(at, f->header);
        if (m_rates.constant() ? free >= f->side.mainDataBegin : free == f->reservoir)
            return true; // from here on the frames sit where their encoder put them, or earlier
        const mp3frame::Header h = sized(b, k, at);
        if (h.kbps == 0 || !Repacker::advance(at, h, f->dataBytes))
            return false;
    }
}

// At an average rate near the largest frame's rate the encoder quantises many frames for the room
// its reservoir leaves, and a difference in reservoir between two encoders outlasts many seconds
// of music (it goes only where both run out of room on one frame, or both fill the reservoir):
// frames of a later encoder out of step with the stream carry other data than the whole-file
// encode, and their rates, taken with the stream's reservoir, carry the difference into the later
// segments. So where the stream is the earlier encoder's own, the later one takes over only where
// its frames carry the earlier one's data as far as both reach, and its reservoir meets the
// earlier one's among them: from there on the two encoders are in the same state.
bool StreamJoin::inStep(const NumberedFrames &a, const NumberedFrames &b, std::int64_t s) const
{
    if (!m_rates.leansOnReservoir())
        return true; // a variable rate's data does not depend on the reservoir, nor, but on rare
                     // frames, a lower average rate's
    const FrameList::Frame *first = a.at(s);
    if (!first)
        return false; // the earlier encoder must run on to tell
    if (Repacker::freeBefore(m_repacker.position(), first->header) != first->reservoir)
        return true; // the stream is not the earlier encoder's own: nothing to keep in step with
    bool met = false;
    for (std::int64_t k = s; a.at(k) && b.at(k); ++k) {
        if (!sameData(a, b, k))
            return false;
        met = met || (a.at(k)->reservoir >= 0 && a.at(k)->reservoir == b.at(k)->reservoir);
    }
    return met;
}

mp3frame::Header StreamJoin::sized(const NumberedFrames &frames, std::int64_t number,
                                   const Repacker::Position &at) const
{
    const FrameList::Frame &f = *frames.at(number);
    if (m_rates.constant())
        return f.header;
    // A frame silent to the ear is sized by a rule of its own, which only the rate its encoder
    // gave it tells.
    const int bits = f.side.mainDataBits;
    const bool silent =
        m_rates.rule == ratechoice::Rule::Variable && f.reservoir >= 0 &&
        ratechoice::pickedAsSilent(f.reservoir, f.header, bits, m_rates.kbps, f.header.kbps);
    return f.header.withRate(ratechoice::pick(m_rates.rule, Repacker::freeBefore(at, f.header),
                                              f.header, bits, m_rates.kbps, silent,
                                              reservoirNeeded(frames, number + 1)));
}

// Frames quantised with more reservoir than the joined stream has may hold more data than even
// the largest frame and that reservoir can: the frames before them must leave it. What the
// encoder's next frames need before them, as far as they are known, each taking what its data
// exceeds the largest frame's area by (what a variable rate's frames need in the whole-file
// encode, they have there, so its frames are sized as LAME sizes them).
int StreamJoin::reservoirNeeded(const NumberedFrames &frames, std::int64_t from) const
{
    constexpr int Ahead = 64;
    int need = 0;
    int sum = 0;
    for (std::int64_t k = from; k < from + Ahead; ++k) {
        const FrameList::Frame *f = frames.at(k);
        if (!f)
            break;
        sum += f->dataBytes - f->header.withRate(m_rates.kbps.back()).mainDataBytes();
        need = std::max(need, sum);
    }
    return need;
}

bool StreamJoin::append(const NumberedFrames &frames, std::int64_t number)
{
    const FrameList::Frame *f = frames.at(number);
    if (!f || f->dataBytes < 0)
        return false;
    const mp3frame::Header h = sized(frames, number, m_repacker.position());
    if (m_kbps == 0) {
        m_kbps = h.kbps;
        m_rate = h.sampleRate;
    }
    // At a constant rate every encoder must have cut its frames where the one-piece encode does;
    // a variable rate has no padding.
    const bool constant = m_rates.constant();
    if (h.kbps == 0 || h.sampleRate != m_rate ||
        (constant && (h.kbps != m_kbps ||
                      h.padded != mp3frame::lamePadded(number, h.mpeg1, h.kbps, h.sampleRate))) ||
        (!constant && h.padded))
        return false;
    const std::size_t i = std::size_t(number - frames.first);
    m_head.assign(frames.list.head(i), frames.list.head(i) + h.mainDataOffset());
    mp3frame::setRate(h, m_head.data());
    if (!m_repacker.append(h, m_head.data(), frames.list.data(i), f->dataBytes))
        return false;
    m_modeExtension = (m_head[3] >> 4) & 3;
    m_seekTable.addFrame(h.kbps);
    m_progress(int(number + 1));
    return true;
}

bool StreamJoin::writeFinished(bool last)
{
    if (last)
        m_repacker.finish();
    m_buffer.clear();
    m_repacker.takeFinished(m_buffer);
    m_crc = infotag::crc16(m_buffer.data(), m_buffer.size(), m_crc);
    m_bytes += std::int64_t(m_buffer.size());
    return m_out.write(m_buffer.data(), m_buffer.size());
}

infotag::Stream StreamJoin::tagFigures() const
{
    infotag::Stream stream;
    stream.audioFrames = m_repacker.frames();
    stream.totalBytes = m_bytes;
    stream.musicCrc = m_crc;
    stream.modeExtension = m_modeExtension;
    stream.seekTable = m_seekTable.bytes();
    return stream;
}
