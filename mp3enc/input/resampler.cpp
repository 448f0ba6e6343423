#include "mp3enc/input/resampler.h"

#include "mp3enc/calc/mp3frame.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <numeric>

// The analysis must hear LAME's samples to the last bit: each value below is float or double where
// LAME's is, and rounded in the same order. The build compiles this file without fused
// multiply-adds.
namespace resampler {

namespace {

constexpr double Pi = 3.14159265358979323846;

// A window of 32 taps; 33 when one rate is a whole multiple of the other, so that outputs, which
// then fall on inputs, sit at the window's centre.
constexpr int Taps = 32;
// LAME keeps at most this many offsets on either side of the centre.
constexpr int MaxSteps = 320;

// The weight of the tap `at` taps from the start of a window `span` taps long, for a cut-off of
// `cutoff` times the input's Nyquist frequency: an ideal low-pass response under a Blackman
// window.
float weight(float at, int span, float cutoff)
{
    const auto radians = float(Pi * double(cutoff));
    const float u = std::clamp(at / float(span), 0.0f, 1.0f);
    const float fromMiddle = u - 0.5f;
    if (std::fabs(double(fromMiddle)) < 1e-9)
        return float(double(radians) / Pi); // the limit of the sinc at its peak
    const double window = double(
        float(0.42 - 0.5 * std::cos(double(2 * u) * Pi) + 0.08 * std::cos(double(4 * u) * Pi)));
    const double wave = std::sin(double(float(span) * radians * fromMiddle));
    return float(window * wave / (Pi * double(span) * double(fromMiddle)));
}

bool wholeRatio(double ratio)
{
    return std::fabs(ratio - std::floor(ratio + 0.5)) < double(FLT_EPSILON);
}

// Four lanes: the left and the right channel of two outputs.
using Lanes = float __attribute__((vector_size(16)));

} // namespace

bool isNeeded(int inputRate, int outputRate)
{
    const auto lowest = int(float(outputRate) * 0.9995f);
    const auto highest = int(float(outputRate) * 1.0005f);
    return inputRate < lowest || inputRate > highest;
}

PhaseTable::PhaseTable(int inputRate, int outputRate)
{
    const double ratio = double(inputRate) / double(outputRate);
    m_steps = std::min(outputRate / std::gcd(inputRate, outputRate), MaxSteps);
    m_taps = wholeRatio(ratio) ? Taps + 1 : Taps;
    const float cutoff = std::min(1.0f, float(1.0 / ratio));
    const int span = m_taps - 1;
    const int rows = 2 * m_steps + 1;
    m_rows.resize(std::size_t(rows * m_taps));
    for (int r = 0; r < rows; ++r) {
        // Row r serves outputs this far past the centre, from -1/2 to +1/2.
        const auto shift = float(double(r - m_steps) / (2.0 * m_steps));
        const auto row = m_rows.begin() + r * m_taps;
        float total = 0.0f;
        for (int t = 0; t < m_taps; ++t) {
            row[t] = weight(float(t) - shift, span, cutoff);
            total += row[t];
        }
        // Unity gain at DC, whatever the sampling of the response.
        std::for_each(row, row + m_taps, [total](float &w) { w /= total; });
    }
}

const float *PhaseTable::rowFor(float offset) const
{
    const float scaled = float(2 * m_steps) * offset + float(m_steps);
    const auto r = int(std::floor(double(scaled) + 0.5));
    return m_rows.data() + r * m_taps;
}

Resampler::Resampler(int inputRate, int outputRate, int channels)
    : m_step(double(inputRate) / double(outputRate)), m_channels(channels),
      m_table(inputRate, outputRate)
{
    m_line.assign(2 * std::size_t(m_table.taps()), 0.0f);
}

Resampler::Step Resampler::run(const float *const in[2], int n, float *const out[2], int limit)
{
    takeInput(in, n);
    const int taps = m_table.taps();
    // The last input a window needs, for an output falling at or after input `at`.
    const auto lastNeeded = [&](int at) { return at - m_table.lead() + taps - 1; };
    Step step;
    int reach = lastNeeded(0);
    m_windows.clear();
    m_taps.clear();
    for (; step.made < limit; ++step.made) {
        const double at = double(step.made) * m_step + m_nextAt;
        const auto before = int(std::floor(at));
        reach = lastNeeded(before);
        if (reach >= n)
            break;
        const auto offset = float(at - (double(before) + m_table.centre()));
        m_taps.push_back(m_table.rowFor(offset));
        // Line positions are shifted by the kept inputs in front.
        m_windows.push_back(std::size_t(taps + before - m_table.lead()));
    }
    filterOutputs(step.made, out);
    // The input the last window reached (or would have reached) is not used up yet.
    step.consumed = std::min(n, reach);
    m_nextAt -= double(step.consumed) - double(step.made) * m_step;
    keepTail(step.consumed);
    return step;
}

// Each output is its window's inputs times the taps, summed in float from the first tap on, as
// LAME sums them. Four outputs together, both channels in lanes side by side: every lane adds
// in the same order, and eight sums in flight keep the adder busy.
void Resampler::filterOutputs(int count, float *const out[2]) const
{
    constexpr int Batch = 4;
    const int taps = m_table.taps();
    for (int first = 0; first < count; first += Batch) {
        const float *x[Batch];
        const float *w[Batch];
        for (int k = 0; k < Batch; ++k) {
            // Past the end: a copy of the last, computed and dropped.
            const auto output = std::size_t(std::min(first + k, count - 1));
            x[k] = m_line.data() + 2 * m_windows[output];
            w[k] = m_taps[output];
        }
        Lanes sums[Batch / 2] = {};
        for (int t = 0; t < taps; ++t) {
            for (int k = 0; k < Batch; k += 2) {
                const Lanes in = {x[k][2 * t], x[k][2 * t + 1], x[k + 1][2 * t],
                                  x[k + 1][2 * t + 1]};
                const Lanes tap = {w[k][t], w[k][t], w[k + 1][t], w[k + 1][t]};
                sums[k / 2] += in * tap;
            }
        }
        for (int k = 0; k < Batch && first + k < count; ++k) {
            out[0][first + k] = sums[k / 2][2 * (k % 2)];
            if (m_channels == 2)
                out[1][first + k] = sums[k / 2][2 * (k % 2) + 1];
        }
    }
}

void Resampler::takeInput(const float *const in[2], int n)
{
    const auto kept = 2 * std::size_t(m_table.taps());
    const auto count = std::size_t(std::max(n, 0));
    m_line.resize(kept + 2 * count);
    float *line = m_line.data() + kept;
    for (std::size_t i = 0; i < count; ++i) {
        line[2 * i] = in[0][i];
        line[2 * i + 1] = m_channels == 2 ? in[1][i] : 0.0f;
    }
}

void Resampler::keepTail(int consumed)
{
    // The inputs just before the next call's first are the ones its earliest windows reach.
    if (consumed <= 0)
        return;
    const auto from = m_line.begin() + 2 * std::ptrdiff_t(consumed);
    std::copy(from, from + 2 * std::ptrdiff_t(m_table.taps()), m_line.begin());
}

namespace {

// LAME's frame buffer: it starts with the encoder's delay less the MDCT's of silence, and a
// frame is encoded once the buffer holds what the psychoacoustic model looks at.
constexpr int EncoderDelay = 576, MdctDelay = 48;
constexpr int FftSize = 1024, FftShift = 272;
// Silence fed at the end: whole frames, at least this much past the input.
constexpr int LeastPadding = 576;
// The resampler's own delay, in input samples, as LAME counts it at the end.
constexpr double ResamplerDelay = 16.0;
// LAME feeds the end's silence in pieces of at most this many samples.
constexpr int LargestPiece = 1152;

} // namespace

Stream::Stream(int inputRate, int outputRate, int channels, Sink sink)
    : m_step(double(inputRate) / double(outputRate)),
      m_frameSize(mp3frame::samplesPerFrame(outputRate)),
      m_frameNeeds(std::max(FftSize + m_frameSize - FftShift, 512 + m_frameSize - 32)),
      m_resampler(inputRate, outputRate, channels), m_sink(std::move(sink))
{
    for (auto &out : m_out)
        out.resize(std::size_t(m_frameSize));
}

int Stream::buffered() const
{
    return int(EncoderDelay - MdctDelay + m_made - m_frames * m_frameSize);
}

void Stream::encode(const float *left, const float *right, int n)
{
    const float *in[2] = {left, right};
    float *const out[2] = {m_out[0].data(), m_out[1].data()};
    for (int remaining = n; remaining > 0;) {
        const Resampler::Step step = m_resampler.run(in, remaining, out, m_frameSize);
        m_sink(out[0], out[1], step.made);
        if (step.made == 0 && step.consumed <= 0)
            break; // no progress is possible: not at any rate LAME accepts
        for (auto &channel : in) {
            if (channel) // mono callers may pass no right channel
                channel += step.consumed;
        }
        remaining -= step.consumed;
        m_made += step.made;
        if (buffered() >= m_frameNeeds)
            ++m_frames;
    }
}

std::int64_t Stream::framesAfterFlush() const
{
    // What the encoder still owes: the buffered samples, the MDCT's delay and the resampler's,
    // rounded up to whole frames with at least the least padding.
    const auto owed = std::int64_t(double(buffered() + MdctDelay) + ResamplerDelay / m_step);
    std::int64_t padding = m_frameSize - owed % m_frameSize;
    if (padding < LeastPadding)
        padding += m_frameSize;
    return m_frames + (owed + padding) / m_frameSize;
}

void Stream::flush()
{
    static const std::vector<float> silence(LargestPiece, 0.0f);
    const std::int64_t last = framesAfterFlush();
    while (m_frames < last) {
        // Enough input for the frame buffer to fill, as LAME reckons it through the rate change.
        const auto piece =
            std::clamp(int(double(m_frameNeeds - buffered()) * m_step), 1, LargestPiece);
        encode(silence.data(), silence.data(), piece);
    }
}

} // namespace resampler
