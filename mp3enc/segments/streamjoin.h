#pragma once

#include "mp3enc/calc/encoderesult.h"
#include "mp3enc/calc/framelist.h"
#include "mp3enc/calc/ratechoice.h"
#include "mp3enc/segments/repacker.h"
#include "mp3enc/tags/infotag.h"

#include <cstdint>
#include <functional>
#include <vector>

class TempOutput;

// One encoder's frames, numbered as in the whole stream from `first`.
struct NumberedFrames
{
    const FrameList &list;
    std::int64_t first = 0;

    const FrameList::Frame *at(std::int64_t number) const;
    std::int64_t end() const { return first + std::int64_t(list.size()); }
};

// The serial side of encoding in segments: lays the segments' frames down in order as one stream
// and writes it out, keeping the figures the info tag needs.
//
// At a constant rate every frame keeps the size the encoder gave it, which is the size the
// whole-file encode gives it. At a variable or average rate each frame gets the bit rate its
// encoder would have given it in the joined stream (or a larger one, where the frames after it
// need more reservoir than that would leave), so where a segment's frames carry the data of the
// whole-file encode (a variable rate's quantisation does not depend on the reservoir), the joined
// stream is that encode's.
class StreamJoin
{
public:
    StreamJoin(TempOutput &out, const EncodeProgress &progress, std::int64_t totalFrames,
               ratechoice::Rates rates);

    // Appends `frames` up to frame `end`; false when one is missing, or not a frame of this
    // stream (another size at a constant rate), or its data does not fit.
    bool appendUpTo(const NumberedFrames &frames, std::int64_t end);
    // The first frame of the next `window` where `b`'s frames can take over from `a`'s, or -1;
    // `a`'s frames are appended up to it. `refused` frames are not tried.
    std::int64_t findSeam(const NumberedFrames &a, const NumberedFrames &b, std::int64_t window,
                          const std::function<bool(std::int64_t)> &refused);
    std::int64_t next() const { return m_next; }

    // Writes out the bytes no later frame can change; every byte with `last`.
    bool writeFinished(bool last);
    // The stream's figures for its info tag: frames, bytes after the tag, music checksum, seek
    // table and the last frame's mode extension (delay, padding and gain are not the join's).
    infotag::Stream tagFigures() const;

private:
    bool fitsFrom(const NumberedFrames &b, std::int64_t s) const;
    bool inStep(const NumberedFrames &a, const NumberedFrames &b, std::int64_t s) const;
    // The header `frames`' frame `number` gets after `at`; kbps 0 when its data fits no frame.
    mp3frame::Header sized(const NumberedFrames &frames, std::int64_t number,
                           const Repacker::Position &at) const;
    int reservoirNeeded(const NumberedFrames &frames, std::int64_t from) const;
    bool append(const NumberedFrames &frames, std::int64_t number);

    TempOutput &m_out;
    const EncodeProgress &m_progress;
    std::int64_t m_totalFrames;
    ratechoice::Rates m_rates;
    Repacker m_repacker;
    std::int64_t m_next = 0;
    int m_kbps = 0; // the first frame's
    int m_rate = 0;
    int m_modeExtension = 0;
    infotag::SeekTable m_seekTable;
    std::vector<unsigned char> m_buffer;
    std::vector<unsigned char> m_head;
    std::uint16_t m_crc = 0;
    std::int64_t m_bytes = 0;
};
