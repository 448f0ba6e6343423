#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

// LAME 3.100's resampler and the calls its encode loop makes through it, reproduced bit for bit,
// so that the ReplayGain analysis can hear what LAME hears when it changes the rate. Pure: no
// LAME, no threads, no files. Samples are LAME's float `sample_t` (see replaygain::lameSample).
namespace resampler {

// Whether LAME resamples at all: only when the rates are more than 0.05 % apart.
bool isNeeded(int inputRate, int outputRate);

// LAME's windowed-sinc FIR filter: 32 taps (33 when one rate is a whole multiple of the other),
// a Blackman window, the kernel precomputed for up to 2 * 320 + 1 sub-sample offsets and the
// nearest one taken. Each channel keeps its own last inputs.
class Resampler
{
public:
    Resampler(int inputRate, int outputRate, int channels);

    // Makes up to `wanted` output samples of each channel from the `n` input samples at `in`, as
    // far as they reach; returns how many it made, and `*used` says how many inputs it is done
    // with.
    int run(const float *const in[2], int n, float *const out[2], int wanted, int *used);

private:
    template <int Channels>
    void convolve(const float *const in[2], int first, const float *kernel, float *const out[2],
                  int k) const;
    void keepHistory(const float *const in[2], int used);

    double m_ratio;
    int m_channels;
    int m_order; // taps - 1
    int m_phases;
    std::vector<float> m_kernels; // 2 * m_phases + 1 rows of m_order + 1 taps
    // Where the next output falls, in input samples after the next input. LAME keeps one clock a
    // channel, but its channels always advance alike.
    double m_time = 0;
    std::array<std::array<float, 33>, 2> m_history{};
};

// LAME's encode loop around the resampler: each lame_encode_buffer_int call is cut into calls of
// the resampler that make at most one frame's worth each, every one of which LAME analyses, and
// the flush feeds zeros in the bunches LAME computes until its last frame is out. Each call's
// output goes to the sink, empty ones included.
class Stream
{
public:
    using Sink = std::function<void(const float *left, const float *right, int n)>;

    // `channels`: LAME's output channels, 1 or 2.
    Stream(int inputRate, int outputRate, int channels, Sink sink);

    // One lame_encode_buffer_int call of `n` samples (`right` unused for one channel).
    void encode(const float *left, const float *right, int n);
    // lame_encode_flush. Nothing may follow.
    void flush();

    // The frames LAME has encoded so far.
    std::int64_t frames() const { return m_frames; }

private:
    double m_ratio;
    int m_channels;
    int m_frame;
    int m_needed;
    int m_held;
    std::int64_t m_toEncode;
    std::int64_t m_frames = 0;
    Resampler m_resampler;
    Sink m_sink;
    std::array<std::vector<float>, 2> m_out;
};

} // namespace resampler
