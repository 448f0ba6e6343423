#pragma once

#include <QString>
#include <QVector>
#include <cstdint>

struct sf_private_tag;

// The one place that talks to libsndfile: open a WAV file and read it as full-scale 32-bit
// integers, which is how the lame command feeds LAME (float files are scaled, not truncated).
class SndFileReader
{
public:
    SndFileReader() = default;
    ~SndFileReader();
    SndFileReader(const SndFileReader &) = delete;
    SndFileReader &operator=(const SndFileReader &) = delete;

    bool open(const QString &path);
    QString errorText() const { return m_error; }

    bool isWave() const;
    std::int64_t frames() const { return m_frames; }
    int channels() const { return m_channels; }
    int sampleRate() const { return m_sampleRate; }
    // Speaker of each channel (SF_CHANNEL_MAP_*), empty when the file names none.
    QVector<int> channelMap() const;
    // Float and double samples, which are read scaled by the file's peak.
    bool isFloat() const;

    // Moves the read position to `frame`; false on failure.
    bool seek(std::int64_t frame);

    // Reads up to `frames` interleaved frames; returns how many were read, -1 on a read error.
    std::int64_t read(int *interleaved, std::int64_t frames);

private:
    sf_private_tag *m_file = nullptr;
    int m_format = 0;
    std::int64_t m_frames = 0;
    int m_channels = 0;
    int m_sampleRate = 0;
    bool m_scaleChosen = false;
    QString m_error;
};
