#pragma once

#include "mp3enc/mp3frame.h"

#include <cstdint>
#include <deque>
#include <vector>

// Lays frames from several encoders down as one stream, each frame's main data as early as the
// bit reservoir allows (at most main_data_begin's reach back), rewriting main_data_begin.
// A value type: copy it to try a join and go back.
class Repacker
{
public:
    // Bytes the stream has free before the next frame's own main data area, within reach.
    int freeBefore(const mp3frame::Header &next) const;
    // `head` is the frame's header, checksum and side information. False when the data does not
    // fit the frame, which cannot happen for frames from a valid stream appended in the encoder's
    // order unless the reservoir holds less than the frame's encoder had.
    bool append(const mp3frame::Header &header, const unsigned char *head,
                const unsigned char *data, int dataBytes);
    // Every frame laid down becomes final.
    void finish();
    // Moves the bytes of frames no later frame can write into to `out`.
    void takeFinished(std::vector<unsigned char> &out);
    std::int64_t frames() const { return m_frames; }

private:
    struct Pending
    {
        std::vector<unsigned char> bytes;
        int areaOffset;         // where the main data area starts in `bytes`
        std::int64_t areaStart; // its place in the reservoir
    };

    std::deque<Pending> m_pending;
    std::vector<unsigned char> m_finished;
    std::int64_t m_areaEnd = 0; // reservoir bytes laid down
    std::int64_t m_dataEnd = 0; // end of the last frame's main data
    std::int64_t m_frames = 0;
};
