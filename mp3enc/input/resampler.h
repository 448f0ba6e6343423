#pragma once

#include <cstdint>
#include <functional>
#include <vector>

// The samples LAME's analysis hears when LAME changes the sample rate, made the way LAME makes
// them, so a loudness pass of our own gives the radio gain the encoder writes. Pure: no LAME, no
// threads, no files. Samples are LAME's float scale (see replaygain::lameSample).
namespace resampler {

// LAME converts only when the two rates are more than 0.05 % apart.
bool isNeeded(int inputRate, int outputRate);

// A windowed-sinc low-pass filter sampled at evenly spaced sub-sample offsets; an output takes
// the row nearest to where it falls between two inputs.
class PhaseTable
{
public:
    PhaseTable(int inputRate, int outputRate);

    int taps() const { return m_taps; }
    // Inputs before the one an output falls at or after that its window reaches back to.
    int lead() const { return (m_taps - 1) / 2; }
    // Where the window's centre lies after that input: between two inputs for an even number of
    // taps, on it for an odd one.
    double centre() const { return m_taps % 2 == 0 ? 0.5 : 0.0; }
    // The taps for an output `offset` input samples past the centre, -1/2 <= offset <= 1/2.
    const float *rowFor(float offset) const;

private:
    int m_steps; // rows per half input sample on either side of the centre
    int m_taps;
    std::vector<float> m_rows;
};

// One filter over one or two channels, called in pieces: an input piece need not hold whole
// windows, since each channel keeps the inputs the next outputs still reach back to.
class Resampler
{
public:
    Resampler(int inputRate, int outputRate, int channels);

    struct Step
    {
        int made = 0;     // outputs written
        int consumed = 0; // inputs the next call starts after
    };
    // Writes up to `limit` outputs per channel from the `n` inputs of `in`, as far as whole
    // windows reach.
    Step run(const float *const in[2], int n, float *const out[2], int limit);

private:
    void takeInput(const float *const in[2], int n);
    void filterOutputs(int count, float *const out[2]) const;
    void keepTail(int consumed);

    double m_step; // input samples per output
    int m_channels;
    PhaseTable m_table;
    // Where the next output falls, counted in inputs from the next call's first; below zero it
    // falls among the inputs kept from before.
    double m_nextAt = 0;
    // The kept inputs (as many as a window has taps), then the current call's: left and right
    // side by side (a mono input's right is silent), so one load takes both.
    std::vector<float> m_line;
    // The outputs of the current call: where each one's window starts in the line, and its taps.
    std::vector<std::size_t> m_windows;
    std::vector<const float *> m_taps;
};

// What LAME's encode loop does around its resampler, for its analysis: every buffer it is given
// is cut into resampler calls of at most one MP3 frame's output, each heard by the analysis (the
// sink), empty ones too; the end is padded with silence fed in the amounts LAME feeds until its
// last frame is out.
class Stream
{
public:
    using Sink = std::function<void(const float *left, const float *right, int n)>;

    // `channels`: LAME's output channels, 1 or 2.
    Stream(int inputRate, int outputRate, int channels, Sink sink);

    // One buffer of `n` samples as lame_encode_buffer_int takes it (`right` unused for mono).
    void encode(const float *left, const float *right, int n);
    // The end of the input, as lame_encode_flush makes it. Nothing may follow.
    void flush();

    // The MP3 frames LAME has encoded so far.
    std::int64_t frames() const { return m_frames; }

private:
    // Samples in LAME's frame buffer that no frame has taken yet.
    int buffered() const;
    std::int64_t framesAfterFlush() const;

    double m_step;
    int m_frameSize;
    int m_frameNeeds; // buffered samples before LAME encodes a frame
    std::int64_t m_made = 0;
    std::int64_t m_frames = 0;
    Resampler m_resampler;
    Sink m_sink;
    std::vector<float> m_out[2];
};

} // namespace resampler
