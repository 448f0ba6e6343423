#pragma once

#include "mp3enc/calc/mp3frame.h"

#include <cstdint>
#include <deque>
#include <vector>

// Lays frames from several encoders down as one stream, each frame's main data where the encoder
// would have put it: as early as the bit reservoir allows (main_data_begin's reach, and what the
// frame before may leave), but no earlier than leaves the next frame more than this one may,
// rewriting main_data_begin. Laid down in the encoder's own state, its frames come out as it
// wrote them, but for the filler it puts in unused bytes. A value type: copy it to try a join and
// go back.
class Repacker
{
public:
    // Where the stream stands: reservoir bytes laid down, the end of the last frame's data, and
    // what the last frame may leave for the next.
    struct Position
    {
        std::int64_t areaEnd = 0;
        std::int64_t dataEnd = 0;
        int limit = 0;
    };
    Position position() const { return m_at; }
    // Bytes free before the next frame's own main data area, within reach.
    static int freeBefore(const Position &at, const mp3frame::Header &next);
    int freeBefore(const mp3frame::Header &next) const { return freeBefore(m_at, next); }
    // Moves `at` past a frame as append() lays it down, without its bytes; false when its data
    // does not fit (then `at` is unchanged). Trying a join costs no copies this way.
    static bool advance(Position &at, const mp3frame::Header &header, int dataBytes);
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
    Position m_at;
    std::int64_t m_frames = 0;
};
