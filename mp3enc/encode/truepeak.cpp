#include "mp3enc/encode/truepeak.h"

#include "mp3enc/calc/magnitude.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <ebur128.h>
#include <mutex>
#include <new>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// libebur128's interpolator (1.2): a 49-tap Hann-windowed sinc, four times oversampled below
// 96 kHz, twice below 192 kHz, none above; coefficients under 1e-6 left out.
constexpr int Taps = 49;
constexpr int ChunkFrames = 8;

int oversampling(int sampleRate)
{
    return sampleRate < 96000 ? 4 : sampleRate < 192000 ? 2 : 1;
}

double coefficient(int tap, int factor)
{
    const double m = tap - (Taps - 1) / 2.0;
    const double x = m * M_PI / factor;
    const double sinc = std::abs(m) > 1e-6 ? std::sin(x) / x : 1.0;
    const double c = sinc * 0.5 * (1 - std::cos(2 * M_PI * tap / (Taps - 1)));
    return std::abs(c) > 1e-6 ? c : 0.0;
}

// out += c * x, four lanes at a time where the machine has them: the screen's inner loop.
void addScaled(float *out, const float *x, float c, std::size_t n)
{
    std::size_t i = 0;
#ifdef __SSE2__
    const __m128 scale = _mm_set1_ps(c);
    for (; i + 4 <= n; i += 4)
        _mm_storeu_ps(out + i,
                      _mm_add_ps(_mm_loadu_ps(out + i), _mm_mul_ps(scale, _mm_loadu_ps(x + i))));
#endif
    for (; i < n; ++i)
        out[i] += c * x[i];
}

// How far back, in frames, the library's delay line reaches.
int reach(int factor)
{
    return (Taps + factor - 1) / factor - 1;
}

// The filter above is what the library's own header calls implementation-defined, so before the
// bound is trusted the library is asked: an impulse, one frame per call, gives at each delay the
// largest coefficient of any phase. Where that is not the filter above, every frame is
// interpolated.
bool libraryAsDerived(int factor)
{
    const int rate = factor == 4 ? 48000 : 96000;
    ebur128_state *probe = ebur128_init(1, unsigned(rate), EBUR128_MODE_TRUE_PEAK);
    if (!probe)
        return false;
    bool agrees = true;
    for (int delay = 0; delay <= 2 * reach(factor) && agrees; ++delay) {
        float sample = delay == 0 ? 1.0f : 0.0f;
        ebur128_add_frames_float(probe, &sample, 1);
        double heard = 0;
        ebur128_prev_true_peak(probe, 0, &heard);
        double expected = 0;
        for (int tap = delay * factor; tap < std::min(Taps, (delay + 1) * factor); ++tap)
            expected = std::max(expected, std::abs(coefficient(tap, factor)));
        // The impulse itself reads as its sample peak, which the true peak never falls below.
        if (delay > 0)
            agrees = std::abs(heard - expected) <= 1e-6;
    }
    ebur128_destroy(&probe);
    return agrees;
}

double derivedGain(int factor)
{
    double gain = 1.0;
    for (int phase = 1; phase < factor; ++phase) {
        double sum = 0;
        for (int tap = phase; tap < Taps; tap += factor)
            sum += std::abs(coefficient(tap, factor));
        gain = std::max(gain, sum);
    }
    // The library sums in double and rounds each output to float.
    return gain * (1 + 1e-5);
}

} // namespace

double TruePeak::boundGain(int sampleRate)
{
    const int factor = oversampling(sampleRate);
    if (factor == 1)
        return 1.0;
    static std::once_flag checked;
    static std::array<double, 2> gains;
    std::call_once(checked, [] {
        for (int factor : {2, 4})
            gains[factor / 4] = libraryAsDerived(factor) ? derivedGain(factor) : HUGE_VAL;
    });
    return gains[std::size_t(factor / 4)];
}

struct TruePeak::State
{
    ebur128_state *meter;
    ~State() { ebur128_destroy(&meter); }
};

TruePeak::TruePeak(int channels, int sampleRate)
    : m_channels(channels), m_gain(boundGain(sampleRate)),
      m_context(std::size_t(reach(oversampling(sampleRate))))
{
    if (oversampling(sampleRate) == 1)
        return;
    ebur128_state *meter =
        ebur128_init(unsigned(channels), unsigned(sampleRate), EBUR128_MODE_TRUE_PEAK);
    if (!meter)
        throw std::bad_alloc();
    m_state.reset(new State{meter});
    m_history.assign(m_context * std::size_t(channels), 0.0f);
    const int factor = oversampling(sampleRate);
    if (!std::isfinite(m_gain))
        return; // the library's filter is not known: it hears every run
    for (int phase = 1; phase < factor; ++phase) {
        std::vector<Tap> taps;
        for (int tap = phase; tap < Taps; tap += factor) {
            if (const double c = coefficient(tap, factor); c != 0.0)
                taps.push_back({std::size_t(tap / factor), float(c)});
        }
        m_phases.push_back(std::move(taps));
    }
}

TruePeak::~TruePeak() = default;

double TruePeak::peak() const
{
    return std::max(m_samplePeak, m_truePeak);
}

void TruePeak::add(const float *interleaved, std::size_t frames)
{
    const auto width = std::size_t(m_channels);
    const std::size_t chunks = (frames + ChunkFrames - 1) / ChunkFrames;
    m_chunkPeaks.resize(chunks);
    float blockPeak = 0;
    for (std::size_t k = 0; k < chunks; ++k) {
        const std::size_t from = k * ChunkFrames;
        const std::size_t to = std::min(frames, from + ChunkFrames);
        m_chunkPeaks[k] = largestMagnitude(interleaved + from * width, (to - from) * width);
        blockPeak = std::max(blockPeak, m_chunkPeaks[k]);
    }
    m_samplePeak = std::max(m_samplePeak, double(blockPeak));
    if (!m_state)
        return;

    float historyPeak = 0;
    for (float sample : m_history)
        historyPeak = std::max(historyPeak, std::abs(sample));
    // Chunks before this one whose frames a chunk's filter reaches.
    const std::size_t behind = (m_context + ChunkFrames - 1) / ChunkFrames;
    const auto reaches = [&](std::size_t k) {
        float around = m_chunkPeaks[k];
        for (std::size_t back = 1; back <= behind; ++back)
            around = std::max(around, k >= back ? m_chunkPeaks[k - back] : historyPeak);
        return m_gain * around > std::max(m_samplePeak, m_truePeak);
    };

    bool fedToEnd = false;
    for (std::size_t k = 0; k < chunks; ++k) {
        if (!reaches(k))
            continue;
        // A gap no longer than the delay line is cheaper heard than refilled.
        std::size_t last = k;
        for (std::size_t next = k + 1;
             next < chunks && (next - last - 1) * ChunkFrames <= m_context; ++next) {
            if (reaches(next))
                last = next;
        }
        const std::size_t from = k * ChunkFrames;
        const std::size_t to = std::min(frames, (last + 1) * ChunkFrames);
        fedToEnd = interpolate(interleaved, from, to) && to == frames;
        k = last;
    }
    keepHistory(interleaved, frames);
    m_historyFed = fedToEnd;
}

void TruePeak::precede(const float *interleaved, std::size_t frames)
{
    if (!m_state)
        return;
    keepHistory(interleaved, frames);
    m_historyFed = false;
}

bool TruePeak::interpolate(const float *interleaved, std::size_t from, std::size_t to)
{
    const auto width = std::size_t(m_channels);
    // The frames the run's filter reaches back to, then the run's, side by side.
    const float *window;
    if (from >= m_context) {
        window = interleaved + (from - m_context) * width;
    } else {
        m_join.assign(m_history.begin() + std::ptrdiff_t(from * width), m_history.end());
        m_join.insert(m_join.end(), interleaved, interleaved + to * width);
        window = m_join.data();
    }
    if (!m_phases.empty()) {
        // The same filter in single precision: off from the library's by far less than the
        // margin, so a run it keeps under the peak already certain holds no new one.
        const std::size_t samples = (m_context + to - from) * width;
        const double margin = 1e-4 * m_gain * largestMagnitude(window, samples);
        if (estimate(window, to - from) + margin <= std::max(m_samplePeak, m_truePeak))
            return false;
    }
    if (from > 0 || !m_historyFed) {
        // The delay line must hold the frames before `from`; what the filter gives while it
        // fills mixes in older frames and is not read.
        ebur128_add_frames_float(m_state->meter, window, m_context);
        m_interpolated += m_context;
    }
    ebur128_add_frames_float(m_state->meter, interleaved + from * width, to - from);
    m_interpolated += to - from;
    for (int c = 0; c < m_channels; ++c) {
        double channel = 0;
        if (ebur128_prev_true_peak(m_state->meter, unsigned(c), &channel) == EBUR128_SUCCESS)
            m_truePeak = std::max(m_truePeak, channel);
    }
    return true;
}

float TruePeak::estimate(const float *window, std::size_t frames)
{
    const std::size_t samples = frames * std::size_t(m_channels);
    m_estimate.resize(samples);
    float largest = 0;
    for (const std::vector<Tap> &phase : m_phases) {
        std::fill(m_estimate.begin(), m_estimate.end(), 0.0f);
        // Each channel's sample `delay` frames back is as many samples back, interleaved.
        for (const Tap &tap : phase)
            addScaled(m_estimate.data(), window + (m_context - tap.delay) * std::size_t(m_channels),
                      tap.coefficient, samples);
        largest = largestMagnitude(m_estimate.data(), samples, largest);
    }
    return largest;
}

void TruePeak::keepHistory(const float *interleaved, std::size_t frames)
{
    const auto width = std::size_t(m_channels);
    const std::size_t kept = m_context * width;
    if (frames >= m_context) {
        m_history.assign(interleaved + (frames - m_context) * width, interleaved + frames * width);
        return;
    }
    m_history.erase(m_history.begin(), m_history.begin() + std::ptrdiff_t(frames * width));
    m_history.insert(m_history.end(), interleaved, interleaved + frames * width);
    m_history.resize(kept);
}
