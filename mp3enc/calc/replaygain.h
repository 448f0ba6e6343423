#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// The loudness analysis behind the radio gain LAME writes into its info tag, reproduced bit for
// bit as LAME 3.100 computes it, so that a file encoded in pieces can carry the value a
// whole-file encode writes. Pure: no LAME, no threads, no files.
//
// What LAME analyses: the samples it encodes, after its own scaling, down-mix and resampling, at
// its output rate, as its float `sample_t` (full scale +-32768), in the calls its encode loop
// makes (one per frame's worth of samples), followed by the silence its flush appends. So this
// matches LAME when fed the samples our encoder hands it, converted by lameSample(), with finish()
// after the last. Where LAME resamples, its calls follow its resampler instead: resampler::Stream
// makes them, flush included, and analyzeCall() takes them one by one.
namespace replaygain {

// LAME's conversion in lame_encode_buffer_int: the 32-bit full-scale integer to float (rounded
// to 24 bits), times one float factor, `scale` times 2^-16. `scale` is what lame_get_scale
// reports after lame_init_params; at a constant bit rate its presets set 0.95 up to 160 kbps,
// 0.97 at 192, 0.98 at 224 and 1 above. LAME scales before it analyses, so the gain reflects it.
inline float lameSample(std::int32_t fullScale, float scale)
{
    return static_cast<float>(fullScale) * (scale * (1.0f / 65536.0f));
}

// How far back the longer of the two filters reaches.
inline constexpr int Order = 10;

// What one channel's filters remember of the samples before a point.
struct ChannelHistory
{
    std::array<float, Order> input{};
    std::array<float, Order> yule{};
    std::array<float, 2> butter{};
    bool operator==(const ChannelHistory &) const = default;
};
using History = std::array<ChannelHistory, 2>;

// How many 50 ms blocks reached each loudness, in 0.01 dB steps from 0 to 120 dB.
struct Histogram
{
    static constexpr std::size_t Bins = 12000;
    std::array<std::uint32_t, Bins> counts{};

    Histogram &operator+=(const Histogram &other);
    bool operator==(const Histogram &) const = default;
};

// One rate's filter coefficients.
struct Filters;

class Analysis
{
public:
    // The rates LAME encodes at: 8, 11.025, 12, 16, 22.05, 24, 32, 44.1 and 48 kHz.
    static bool isSupportedRate(int sampleRate);
    // Samples in one 50 ms block, rounded up.
    static int blockLength(int sampleRate);

    // Analyses the stretch of a stream from sample `start`, a multiple of blockLength(), with
    // the filters holding `history`. Stretches cut at block boundaries, each started with the
    // history() its predecessor ended with, add up to exactly the histogram of one pass: the
    // filters are recursive, so only that exact state guarantees it. At an unsupported rate
    // nothing is counted (LAME then writes no gain at all).
    explicit Analysis(int sampleRate, std::int64_t start = 0, const History &history = {});

    // The next `n` samples of each channel (`right` is unused for one channel, and `channels`
    // the same every call); any chunking gives the same result.
    void analyze(const float *left, const float *right, std::size_t n, int channels);
    // The input ended: analyses the silence LAME's flush feeds after it. Nothing may follow.
    void finish();

    // Exactly one of LAME's calls (at most a frame's worth), for a stream LAME resamples; not to
    // be mixed with analyze() and finish(), as the flush's calls come this way too.
    void analyzeCall(const float *left, const float *right, std::size_t n, int channels);

    std::int64_t position() const { return m_position; }
    const History &history() const { return m_history; }
    // Complete blocks only: a block cut by the end of the stretch is not counted.
    const Histogram &histogram() const { return m_histogram; }

private:
    std::int64_t nextBoundary() const;
    void startCall(std::int64_t length);
    void filterRun(const float *left, const float *right, std::size_t n);
    void closePiece();
    void closeBlock();

    const Filters *m_filters = nullptr;
    int m_block = 0;
    int m_frame = 0;
    std::int64_t m_position = 0;
    std::int64_t m_callStart = 0;
    std::int64_t m_callEnd = 0;
    History m_history;
    std::array<std::vector<float>, 2> m_squares; // of the current piece
    std::array<double, 2> m_blockSums{};
    Histogram m_histogram;
};

// LAME's "not enough samples": no complete block was analysed.
inline constexpr float NotEnoughSamples = -24601.0f;

// The gain in dB that brings the loudness the 95th percentile of blocks reach to the reference,
// or NotEnoughSamples.
float titleGain(const Histogram &histogram);
// The tag's radio gain field for titleGain(): name code "radio", originator "determined
// automatically", sign bit and 0.1 dB steps, rounded half up and held within +-51.0 dB; zero dB
// when there was nothing to measure.
std::uint16_t radioGainField(float gain);

} // namespace replaygain
