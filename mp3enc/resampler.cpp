#include "mp3enc/resampler.h"

#include "mp3enc/mp3frame.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <numeric>

// Every value below is float or double exactly where LAME's are, in LAME's order; the build
// compiles this file without contracting them into fused multiply-adds.
namespace resampler {

namespace {

constexpr double Pi = 3.14159265358979323846;

// LAME's Blackman-windowed sinc at `x` taps from the window's start, for a cut-off `fcn` of
// the lower rate's Nyquist frequency.
float blackman(float x, float fcn, int order)
{
    const auto wcn = float(Pi * double(fcn));
    x /= float(order);
    x = std::clamp(x, 0.0f, 1.0f);
    const float x2 = x - 0.5f;
    const auto window =
        float(0.42 - 0.5 * std::cos(double(2 * x) * Pi) + 0.08 * std::cos(double(4 * x) * Pi));
    if (std::fabs(double(x2)) < 1e-9)
        return float(double(wcn) / Pi);
    const double sinc = std::sin(double(float(order) * wcn * x2));
    return float(double(window) * sinc / (Pi * double(order) * double(x2)));
}

// One kernel per sub-sample offset from -1/2 to +1/2 of an input sample, each summing to one.
std::vector<float> makeKernels(int phases, int order, float fcn)
{
    const int taps = order + 1;
    std::vector<float> kernels(std::size_t((2 * phases + 1) * taps));
    for (int p = 0; p <= 2 * phases; ++p) {
        float *kernel = &kernels[std::size_t(p * taps)];
        const auto offset = float(double(p - phases) / (2.0 * phases));
        float sum = 0.0f;
        for (int i = 0; i < taps; ++i)
            sum += kernel[i] = blackman(float(i) - offset, fcn, order);
        for (int i = 0; i < taps; ++i)
            kernel[i] /= sum;
    }
    return kernels;
}

} // namespace

bool isNeeded(int inputRate, int outputRate)
{
    const auto low = int(float(outputRate) * 0.9995f);
    const auto high = int(float(outputRate) * 1.0005f);
    return inputRate < low || high < inputRate;
}

Resampler::Resampler(int inputRate, int outputRate, int channels)
    : m_ratio(double(inputRate) / double(outputRate)), m_channels(channels)
{
    constexpr int MaxPhases = 320;
    constexpr int Order = 31; // odd, so the window centres between two inputs
    m_phases = std::min(outputRate / std::gcd(outputRate, inputRate), MaxPhases);
    // At a whole ratio the outputs fall on inputs: an even order centres the window on one.
    const bool whole = std::fabs(m_ratio - std::floor(0.5 + m_ratio)) < double(FLT_EPSILON);
    m_order = Order + (whole ? 1 : 0);
    const float fcn = std::min(1.0f, float(1.0 / m_ratio));
    m_kernels = makeKernels(m_phases, m_order, fcn);
}

int Resampler::run(const float *const in[2], int n, float *const out[2], int wanted, int *used)
{
    const int half = m_order / 2;
    const double centre = 0.5 * double(m_order % 2);
    int j = 0;
    int k = 0;
    for (; k < wanted; ++k) {
        const double time = double(k) * m_ratio;
        j = int(std::floor(time - m_time));
        if (m_order + j - half >= n)
            break; // the window would reach past the input
        const auto offset = float(time - m_time - (double(j) + centre));
        const auto phase =
            int(std::floor(double(offset * 2.0f * float(m_phases) + float(m_phases)) + 0.5));
        const float *kernel = &m_kernels[std::size_t(phase * (m_order + 1))];
        if (m_channels == 2)
            convolve<2>(in, j - half, kernel, out, k);
        else
            convolve<1>(in, j - half, kernel, out, k);
    }
    *used = std::min(n, m_order + j - half);
    m_time += double(*used) - double(k) * m_ratio;
    keepHistory(in, *used);
    return k;
}

// The window from input `first` on, where negative positions are the history's; summed in
// float, tap by tap, as LAME does. The channels share one loop, so their sums overlap.
template <int Channels>
void Resampler::convolve(const float *const in[2], int first, const float *kernel,
                         float *const out[2], int k) const
{
    const int taps = m_order + 1;
    const int fromHistory = std::clamp(-first, 0, taps);
    std::array<float, Channels> sums{};
    for (int i = 0; i < fromHistory; ++i) {
        for (std::size_t ch = 0; ch < Channels; ++ch)
            sums[ch] += m_history[ch][std::size_t(taps + first + i)] * kernel[i];
    }
    for (int i = fromHistory; i < taps; ++i) {
        for (std::size_t ch = 0; ch < Channels; ++ch)
            sums[ch] += in[ch][first + i] * kernel[i];
    }
    for (std::size_t ch = 0; ch < Channels; ++ch)
        out[ch][k] = sums[ch];
}

void Resampler::keepHistory(const float *const in[2], int used)
{
    const int taps = m_order + 1;
    if (used <= 0)
        return;
    for (int ch = 0; ch < m_channels; ++ch) {
        float *old = m_history[std::size_t(ch)].data();
        if (used >= taps) {
            std::copy(in[ch] + used - taps, in[ch] + used, old);
            continue;
        }
        std::copy(old + used, old + taps, old);
        std::copy(in[ch], in[ch] + used, old + taps - used);
    }
}

Stream::Stream(int inputRate, int outputRate, int channels, Sink sink)
    : m_ratio(double(inputRate) / double(outputRate)), m_channels(channels),
      m_frame(mp3frame::samplesPerFrame(outputRate)), m_resampler(inputRate, outputRate, channels),
      m_sink(std::move(sink))
{
    // LAME's frame buffer starts with EncoderDelay - MdctDelay samples of silence and encodes a
    // frame once it holds what the psychoacoustic model's FFT needs.
    constexpr int EncoderDelay = 576, MdctDelay = 48, PostDelay = 288;
    constexpr int FftBlock = 1024, FftOffset = 224 + MdctDelay;
    m_needed = std::max(FftBlock + m_frame - FftOffset, 512 + m_frame - 32);
    m_held = EncoderDelay - MdctDelay;
    m_toEncode = EncoderDelay + PostDelay;
    for (auto &out : m_out)
        out.resize(std::size_t(m_frame));
}

void Stream::encode(const float *left, const float *right, int n)
{
    const float *in[2] = {left, right};
    float *const out[2] = {m_out[0].data(), m_out[1].data()};
    while (n > 0) {
        int used = 0;
        const int made = m_resampler.run(in, n, out, m_frame, &used);
        m_sink(out[0], out[1], made);
        if (used <= 0 && made == 0)
            break; // cannot happen at LAME's rates; LAME itself would spin here
        n -= used;
        in[0] += used;
        if (m_channels == 2)
            in[1] += used;
        m_held += made;
        m_toEncode += made;
        if (m_held >= m_needed) {
            m_held -= m_frame;
            m_toEncode -= m_frame;
            ++m_frames;
        }
    }
}

void Stream::flush()
{
    // LAME pads the end to whole frames, at least MinPadding samples, counting the resampler's
    // delay as 16 input samples; then it feeds zeros until that many more frames are out.
    constexpr int PostDelay = 288, MinPadding = 576, MaxBunch = 1152;
    const auto toEncode = std::int64_t(double(m_toEncode - PostDelay) + 16.0 / m_ratio);
    std::int64_t padding = m_frame - toEncode % m_frame;
    if (padding < MinPadding)
        padding += m_frame;
    static const std::array<float, MaxBunch> zeros{};
    for (std::int64_t framesLeft = (toEncode + padding) / m_frame; framesLeft > 0;) {
        const auto bunch = std::clamp(int(double(m_needed - m_held) * m_ratio), 1, MaxBunch);
        const std::int64_t before = m_frames;
        encode(zeros.data(), zeros.data(), bunch);
        framesLeft -= m_frames - before;
    }
}

} // namespace resampler
