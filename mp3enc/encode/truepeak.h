#pragma once

#include <cstddef>
#include <memory>
#include <vector>

// The true peak of a stream (BS.1770's, oversampled), exactly as libebur128 measures it, at a
// small part of its cost. The library's interpolator is an FIR filter, so an interpolated sample
// can exceed the samples around it by at most the filter's gain; only stretches where that bound
// is above a peak already certain (the largest sample so far, or the true peak found so far) are
// looked at, first through the same filter in single precision, and the library hears the few
// whose interpolated samples come within a rounding margin of that peak, with the samples before
// them that fill its delay line.
class TruePeak
{
public:
    // Throws std::bad_alloc when the library's state cannot be made.
    TruePeak(int channels, int sampleRate);
    ~TruePeak();
    TruePeak(const TruePeak &) = delete;
    TruePeak &operator=(const TruePeak &) = delete;

    // Interleaved samples, 1.0 full scale, in stream order.
    void add(const float *interleaved, std::size_t frames);
    // Frames of the stream before those added next, which fill the delay line but are not
    // measured: for a stream measured in parts.
    void precede(const float *interleaved, std::size_t frames);

    // Linear, 1.0 full scale, the largest of every channel; never below the sample peak.
    double peak() const;
    double samplePeak() const { return m_samplePeak; }
    // Frames the interpolator heard, delay lines included (for the benchmark).
    std::size_t framesInterpolated() const { return m_interpolated; }

    // The most an interpolated sample can exceed the largest sample its filter spans.
    static double boundGain(int sampleRate);

private:
    // The library hears the frames [from, to) of the block, unless they cannot hold a new peak;
    // true when it did.
    bool interpolate(const float *interleaved, std::size_t from, std::size_t to);
    // The largest interpolated magnitude of the frames after the first m_context of `window`.
    float estimate(const float *window, std::size_t frames);
    void keepHistory(const float *interleaved, std::size_t frames);

    struct State;
    std::unique_ptr<State> m_state; // null where the library does not oversample
    int m_channels;
    double m_gain;
    std::size_t m_context; // frames the filter reaches back
    double m_samplePeak = 0;
    double m_truePeak = 0;
    std::size_t m_interpolated = 0;
    std::vector<float> m_chunkPeaks;
    std::vector<float> m_history; // the last m_context frames of the stream, zeros at its start
    std::vector<float> m_join;
    struct Tap
    {
        std::size_t delay; // frames back
        float coefficient;
    };
    std::vector<std::vector<Tap>> m_phases; // but the first, which is the sample itself
    std::vector<float> m_estimate;
    bool m_historyFed = true; // the interpolator's delay line holds m_history
};
