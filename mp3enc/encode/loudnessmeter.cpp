#include "mp3enc/encode/loudnessmeter.h"

#include <algorithm>
#include <cmath>
#include <ebur128.h>
#include <new>

namespace {

constexpr float FullScale = 32768.0f;
// The peaks are TruePeak's, which finds the sample peak on its way.
constexpr int Mode = EBUR128_MODE_I | EBUR128_MODE_HISTOGRAM;

std::optional<double> finite(int status, double value)
{
    if (status != EBUR128_SUCCESS || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace

struct LoudnessMeter::State
{
    ebur128_state *meter;
    ~State() { ebur128_destroy(&meter); }
};

LoudnessMeter::LoudnessMeter(int channels, int sampleRate)
    : m_truePeak(channels, sampleRate), m_channels(channels)
{
    ebur128_state *meter = ebur128_init(unsigned(channels), unsigned(sampleRate), Mode);
    if (!meter)
        throw std::bad_alloc();
    m_state.reset(new State{meter});
}

LoudnessMeter::~LoudnessMeter() = default;

void LoudnessMeter::add(const float *left, const float *right, int n)
{
    const auto frames = std::size_t(n);
    m_interleaved.resize(frames * std::size_t(m_channels));
    constexpr float toUnit = 1.0f / FullScale;
    if (m_channels == 1) {
        for (std::size_t i = 0; i < frames; ++i)
            m_interleaved[i] = left[i] * toUnit;
    } else {
        for (std::size_t i = 0; i < frames; ++i) {
            m_interleaved[2 * i] = left[i] * toUnit;
            m_interleaved[2 * i + 1] = right[i] * toUnit;
        }
    }
    measure(frames);
}

void LoudnessMeter::addFullScale(const int *left, const int *right, int n, float scale)
{
    const auto frames = std::size_t(n);
    m_interleaved.resize(frames * std::size_t(m_channels));
    // LAME's factor (scale times 2^-16, to +-32768), then to +-1.
    const float factor = scale * (1.0f / 65536.0f) * (1.0f / FullScale);
    if (m_channels == 1) {
        for (std::size_t i = 0; i < frames; ++i)
            m_interleaved[i] = float(left[i]) * factor;
    } else {
        for (std::size_t i = 0; i < frames; ++i) {
            m_interleaved[2 * i] = float(left[i]) * factor;
            m_interleaved[2 * i + 1] = float(right[i]) * factor;
        }
    }
    measure(frames);
}

void LoudnessMeter::measure(std::size_t frames)
{
    // Fails only for a state in the wrong mode, which the constructor rules out.
    ebur128_add_frames_float(m_state->meter, m_interleaved.data(), frames);
    m_truePeak.add(m_interleaved.data(), frames);
}

std::optional<double> LoudnessMeter::loudness() const
{
    double value = 0;
    const int status = ebur128_loudness_global(m_state->meter, &value);
    return finite(status, value);
}

double LoudnessMeter::peak() const
{
    return m_truePeak.peak();
}

std::optional<double> LoudnessMeter::combined(const std::vector<const LoudnessMeter *> &meters)
{
    if (meters.empty())
        return std::nullopt;
    std::vector<ebur128_state *> states;
    states.reserve(meters.size());
    for (const LoudnessMeter *meter : meters)
        states.push_back(meter->m_state->meter);
    double value = 0;
    const int status = ebur128_loudness_global_multiple(states.data(), states.size(), &value);
    return finite(status, value);
}

std::optional<GainFigures> trackFigures(const LoudnessMeter &meter)
{
    const std::optional<double> loudness = meter.loudness();
    if (!loudness)
        return std::nullopt;
    return GainFigures{LoudnessMeter::ReferenceLufs - *loudness, meter.peak()};
}

std::optional<GainFigures> albumFigures(const std::vector<const LoudnessMeter *> &meters)
{
    const std::optional<double> loudness = LoudnessMeter::combined(meters);
    if (!loudness)
        return std::nullopt;
    double peak = 0;
    for (const LoudnessMeter *meter : meters)
        peak = std::max(peak, meter->peak());
    return GainFigures{LoudnessMeter::ReferenceLufs - *loudness, peak};
}

QString gainText(double gain)
{
    // Rounded first, so that a gain just below zero does not read "-0.00 dB".
    const double rounded = std::round(gain * 100.0) / 100.0;
    return QString::asprintf("%+.2f dB", rounded == 0.0 ? 0.0 : rounded);
}

QString peakText(double peak)
{
    return QString::asprintf("%.6f", peak);
}
