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
    // are not measured: they only fill the true peak's delay line with the stream before, for a
    // meter started in the middle of a stream.
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
    // Frames this meter measured (not its parts'), the settling ones not counted.
    std::int64_t framesMeasured() const { return m_measured; }

    // Frames from the start of one gating block to the next (100 ms, as the library rounds it).
    // A stream is measured in parts when part i + 1 is measured from a multiple of the step and
    // part i up to three steps past that point: each gating block is then one part's. The
    // K-weighting filter of a later part starts from rest, not from the state the stream before
    // leaves it in (the library's filter state cannot be set, nor its block count restarted
    // without a buffer of samplerate x window frames in libebur128 1.2.6), so that part's first
    // block is a little off: the whole's loudness moves only where that puts the block into
    // another 0.1 LU bin of the histogram, by thousandths of a dB at most.
    static int blockStep(int sampleRate);
    // Whether the library counts its blocks as above (asked at each call); where not, a stream
    // can only be measured whole.
    static bool measuresInParts(int sampleRate);
    // `part`'s blocks and peaks become this meter's: one stream, heard in parts.
    void absorb(std::unique_ptr<LoudnessMeter> part);

    // The loudness of the meters' streams heard as one.
    static std::optional<double> combined(const std::vector<const LoudnessMeter *> &meters);

private:
    struct State; // libebur128's, which has no name a declaration could use
    void measure(std::size_t frames);
    void collectStates(std::vector<const State *> &states) const;

    std::unique_ptr<State> m_state;
    TruePeak m_truePeak;
    int m_channels;
    std::size_t m_settling; // frames still to fill the true peak's delay line
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
