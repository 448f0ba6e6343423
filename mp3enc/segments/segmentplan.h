#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// Where a file is cut for encoding on several cores, in frames of the output.
//
// Segment i > 0 joins segment i-1 at one frame of its seam window [windowStart, windowStart +
// Window), or, where no frame there joins, at one a little later. Its encoder starts at a
// multiple of the padding period, so its frames have the sizes the whole-file encode gives them;
// it hears silence up to its pre-roll (MinPreRoll frames, or more) before the window and the
// music from there, so its state has settled by the window. Every segment but the last encodes up
// to the end of the next one's window.
struct Segment
{
    std::int64_t encoderStart = 0;
    std::int64_t audioStart = 0;  // the encoder hears silence before this frame
    std::int64_t windowStart = 0; // 0 for the first segment
    std::int64_t endFrame = 0;    // exclusive
};

struct SegmentPlan
{
    // The encoder weighs each frame's perceptual entropy against a running average over the last
    // 19 frames, and its ATH adjustment comes down to a quieter level only gradually. A fresh
    // encoder starts both at its own defaults: on music quieter or simpler than those it spends
    // less, fills its bit reservoir, and on dense music drains it so slowly that its reservoir
    // stays hundreds of bytes above the whole-file encode's: no frame of it could follow that
    // stream. Silence first brings the ATH adjustment to its floor, from where it rises to the
    // music's level at once; the music then fills the running average within 19 frames.
    static constexpr int LeadIn = 16;
    static constexpr int MinPreRoll = 24;
    // An average rate near the largest frame's rate: a segment's encoder has the whole-file
    // encode's reservoir, and so its data, only from a frame where both ran out of room, which
    // may come seconds apart; the join waits for one (the earlier encoder running on alone). A
    // pre-roll of some three seconds lets many such frames come before the window, on the
    // segment's own core (on 17 recordings at 320 kbps the frames run on alone fell from a fifth
    // of the file to a tenth).
    static constexpr int ReservoirPreRoll = 128;
    static constexpr int Window = 16;
    static constexpr int MinSeconds = 15;
    // Every seam costs a pre-roll and a window twice over, so segments are as long as the cores
    // allow: each takes a share of what is left of the file (the cores' number, twice over), so
    // the last ones are short and the cores run out of work together...
    static constexpr int SharesPerCore = 2;
    // ...but none is longer than this: encoded segments wait in memory for the join, which must
    // not grow with the file.
    static constexpr int MaxSeconds = 60;

    std::vector<Segment> segments;
    int period = 1;

    // Segments of MinSeconds to MaxSeconds for `cores` cores, long first, short last; one
    // segment for a file shorter than two of MinSeconds.
    // `alignment`: frames where the input and the output rate meet on a whole input sample
    // (1 where the rate is kept), so an encoder may start there. `preRoll`: frames of music
    // each later encoder hears before its window.
    static SegmentPlan make(std::int64_t totalFrames, int samplesPerFrame, int sampleRate,
                            int period, int alignment = 1, int preRoll = MinPreRoll, int cores = 2);
    // The alignment for output frames of `samplesPerFrame` at `outputRate` from `inputRate`.
    static int alignmentFor(int samplesPerFrame, int inputRate, int outputRate);
};

struct PartTimes;

struct SegmentOptions
{
    int threads = 0; // 0: every core; 1: the file in one piece
    // Tests: refuse joining segment i at a frame, so the earlier encoder runs on; or treat
    // segment i's bytes as unusable, so the file is encoded in one piece.
    std::function<bool(std::size_t segment, std::int64_t frame)> refuseSeam;
    std::function<bool(std::size_t segment)> spoilSegment;
    // Tests: called before each block of the loudness pass, to hold it back.
    std::function<void()> beforeLoudnessBlock;
    // Benchmarks: where the CPU time goes, part by part.
    PartTimes *times = nullptr;
};
