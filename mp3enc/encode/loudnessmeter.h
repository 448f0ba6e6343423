#pragma once

#include "mp3enc/encode/truepeak.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// ReplayGain 2.0's measure of one stream: integrated loudness (BS.1770 K-weighting and gating)
// and true peak, by libebur128, kept as a histogram so that an album's loudness is cheaply
// combined from its tracks' meters. Fed the samples as the encoder hands them to LAME (mixed to
// the MP3's channels, scaled by LAME's factor), full scale +-32768.
class LoudnessMeter
{
public:
    // The loudness ReplayGain 2.0 brings every track to, in LUFS.
    static constexpr double ReferenceLufs = -18.0;

    // Throws std::bad_alloc when the meter cannot be made. The first `settleFrames` frames fed
    // (fewer than four block steps) are not measured: they only bring the K-weighting filter and
    // the true peak's delay line to the state the stream before leaves them in, so that a meter
    // started a block step or more into a stream, at a multiple of it, measures its blocks from
    // there exactly as one meter of the whole stream would.
    LoudnessMeter(int channels, int sampleRate, int settleFrames = 0);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter &) = delete;
    LoudnessMeter &operator=(const LoudnessMeter &) = delete;

    // `right` is ignored for one channel.
    void add(const float *left, const float *right, int n);
    // The same from LAME's input, full-scale 32-bit samples that LAME scales by `scale`.
    void addFullScale(const int *left, const int *right, int n, float scale);

    // In LUFS; empty when nothing passed the gate (silence, or too short to measure).
    std::optional<double> loudness() const;
    // Linear, 1.0 full scale: the largest true peak of any channel.
    double peak() const;
    int channels() const { return m_channels; }
    // Frames this meter measured (not its parts'), those settling the filters not counted.
    std::int64_t framesMeasured() const { return m_measured; }

    // Frames from the start of one gating block to the next (100 ms, as the library rounds it).
    // A stream is measured in parts exactly when part i + 1 is measured from a multiple of the
    // step, settled by the three steps before it, and part i is measured up to three steps past
    // that point: each block is then one part's, and heard as a single meter would hear it.
    static int blockStep(int sampleRate);
    // Whether the library counts its blocks as above and a meter settles (asked at each call);
    // where not, a stream can only be measured whole.
    static bool measuresInParts(int sampleRate);
    // `part`'s blocks and peaks become this meter's: one stream, heard in parts.
    void absorb(std::unique_ptr<LoudnessMeter> part);

    // The loudness of the meters' streams heard as one.
    static std::optional<double> combined(const std::vector<const LoudnessMeter *> &meters);

private:
    struct State; // libebur128's, which has no name a declaration could use
    void measure(std::size_t frames);
    void restartBlocks();
    void collectStates(std::vector<const State *> &states) const;

    std::unique_ptr<State> m_state;
    TruePeak m_truePeak;
    int m_channels;
    std::size_t m_settling; // frames still to settle the filters
    std::int64_t m_measured = 0;
    std::vector<float> m_interleaved;
    std::vector<std::unique_ptr<LoudnessMeter>> m_parts;
};

// What ReplayGain 2.0 writes for one stream or album: gain to the reference and peak.
struct GainFigures
{
    double gain = 0; // dB
    double peak = 0; // linear
};
// Empty when the loudness could not be measured.
std::optional<GainFigures> trackFigures(const LoudnessMeter &meter);
std::optional<GainFigures> albumFigures(const std::vector<const LoudnessMeter *> &meters);

// The frames' text: "-7.02 dB" (two decimals, the sign always) and "0.988831" (six decimals).
QString gainText(double gain);
QString peakText(double peak);
