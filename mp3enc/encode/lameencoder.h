#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <vector>

struct lame_global_struct;

// The one place that talks to LAME: configure once, feed planar blocks, flush, fetch the tag.
class LameEncoder
{
public:
    // The library's version ("3.100"): the same input gives the same MP3 only with the same.
    static QString version();
    // How the bits are spent: as the lame command's "-b N", "-V N" and "--abr N".
    enum class Mode
    {
        Constant,
        Variable,
        Average
    };

    struct Settings
    {
        // The input sample where output frame `frame` begins; only whole at frames where the
        // two rates meet (see SegmentPlan's alignment).
        std::int64_t inputSampleAt(std::int64_t frame) const;

        int sampleRate = 44100;
        int channels = 2;         // 1 or 2: wider input is mixed down before it gets here
        std::uint64_t frames = 0; // exact length, so the frame count and the info tag are exact
        Mode mode = Mode::Constant;
        int kbps = 128;        // the constant rate, or the average one
        int vbrQuality = 4;    // Variable: 0 (largest files) to 9 (smallest)
        int outSampleRate = 0; // 0: LAME picks the rate that suits the bit rate
        // Pieces of a file: `outSampleRate` is the rate LAME picked for the whole file, which it
        // is left to pick again (asked for, a rate changes its filters at a variable rate).
        bool ratePicked = false;
        // A part of a file encoded on its own needs neither (its tag is rebuilt for the whole).
        bool infoTag = true;
        bool replayGain = true;
    };

    LameEncoder();
    ~LameEncoder();
    LameEncoder(const LameEncoder &) = delete;
    LameEncoder &operator=(const LameEncoder &) = delete;

    bool init(const Settings &settings, QString *error);
    int totalFrames() const;
    int frameNumber() const;
    int outSampleRate() const;
    // The rate of every frame at a constant rate; else the range LAME picks each frame's from.
    int kbps() const;
    int minKbps() const;
    int maxKbps() const;
    bool variableRate() const; // variable or average
    bool averageRate() const;
    // The factor LAME applies to every input sample, set by its bit-rate presets.
    float scale() const;
    // Samples of silence the encoder put after the input's last, once flushed.
    int encoderPadding() const;

    // Samples are full-scale 32-bit; `right` is ignored for mono. Appends the MP3 bytes to `out`.
    bool encode(const int *left, const int *right, int frames, std::vector<unsigned char> &out);
    bool flush(std::vector<unsigned char> &out);
    // After flush: the radio gain LAME found, in tenths of a dB, even where the frames are too
    // small for the info tag that would carry it.
    int radioGain() const;
    // The info-tag frame that belongs at the start of the file; empty when LAME wrote none.
    std::vector<unsigned char> lametagFrame() const;

private:
    size_t worstCaseBytes(int inputFrames) const;

    lame_global_struct *m_lame;
};
