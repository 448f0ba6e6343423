#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// Where a file is cut for encoding on several cores, in frames of the output.
//
// Segment i > 0 joins segment i-1 at one frame of its seam window [windowStart, windowStart +
// Window). Its encoder starts `preRoll` >= MinPreRoll frames earlier, at a multiple of the
// padding period, so its frames have the sizes the whole-file encode gives them and its bit
// reservoir has settled by the window. Every segment but the last encodes up to the end of the
// next one's window.
struct Segment
{
    std::int64_t encoderStart = 0;
    std::int64_t windowStart = 0; // 0 for the first segment
    std::int64_t endFrame = 0;    // exclusive
};

struct SegmentPlan
{
    // A fresh encoder saves bits into its reservoir for its first frames; on dense music it
    // takes a few dozen frames to spend them down to what the whole-file encode holds there.
    static constexpr int MinPreRoll = 32;
    static constexpr int Window = 16;
    static constexpr int MinSeconds = 15;

    std::vector<Segment> segments;
    int period = 1;

    // As many segments of at least MinSeconds as the file holds, whatever the number of cores,
    // so the output does not depend on the machine.
    static SegmentPlan make(std::int64_t totalFrames, int samplesPerFrame, int sampleRate,
                            int period);
};

struct SegmentOptions
{
    int threads = 0; // 0: every core; 1: the file in one piece
    // Tests: refuse every frame of segment i's seam window, so the earlier encoder runs on; or
    // treat segment i's bytes as unusable, so the file is encoded in one piece.
    std::function<bool(std::size_t segment)> refuseSeams;
    std::function<bool(std::size_t segment)> spoilSegment;
};
