#include "mp3enc/segments/segmentplan.h"

#include <algorithm>
#include <numeric>
#include <vector>

namespace {

std::int64_t roundDown(std::int64_t value, int period)
{
    return value <= 0 ? 0 : value / period * period;
}

} // namespace

int SegmentPlan::alignmentFor(int samplesPerFrame, int inputRate, int outputRate)
{
    // Frame f starts at input sample f * samplesPerFrame * p / q, with p/q the rates' ratio in
    // lowest terms: whole where q divides f * samplesPerFrame * p.
    const int g = std::gcd(inputRate, outputRate);
    const std::int64_t p = inputRate / g, q = outputRate / g;
    return int(q / std::gcd(q, samplesPerFrame * p));
}

SegmentPlan SegmentPlan::make(std::int64_t totalFrames, int samplesPerFrame, int sampleRate,
                              int period, int alignment, int preRoll, int cores)
{
    SegmentPlan plan;
    plan.period = std::lcm(std::max(1, period), std::max(1, alignment));
    // Whole frames of MinSeconds, rounded down: 31 s make two segments.
    const std::int64_t minFrames = std::int64_t(MinSeconds) * sampleRate / samplesPerFrame;
    const std::int64_t maxFrames = std::int64_t(MaxSeconds) * sampleRate / samplesPerFrame;
    const std::int64_t shares = std::int64_t(SharesPerCore) * std::max(2, cores);
    std::vector<std::int64_t> windows{0};
    if (minFrames >= 2 * (MinPreRoll + Window)) {
        for (std::int64_t at = 0; totalFrames - at >= 2 * minFrames;) {
            const std::int64_t left = totalFrames - at;
            // The last two halve what is left, so that they end together.
            at += left < 3 * minFrames ? left / 2 : std::clamp(left / shares, minFrames, maxFrames);
            windows.push_back(at);
        }
    }
    for (std::size_t i = 0; i < windows.size(); ++i) {
        Segment s;
        s.windowStart = windows[i];
        s.audioStart = i == 0 ? 0 : std::max<std::int64_t>(0, s.windowStart - preRoll);
        s.encoderStart = i == 0 ? 0 : roundDown(s.audioStart - LeadIn, plan.period);
        plan.segments.push_back(s);
    }
    for (std::size_t i = 0; i + 1 < plan.segments.size(); ++i)
        plan.segments[i].endFrame = plan.segments[i + 1].windowStart + Window;
    plan.segments.back().endFrame = totalFrames;
    return plan;
}
