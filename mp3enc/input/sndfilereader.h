#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVector>
#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

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

    // `path` in the runtime's file-name form (rt::encodeFileName). Only a regular file is
    // opened: a pipe or a device could block the reader or never end.
    bool open(const QString &path);
    // Reads the file `opened` has open, through the same open file description: whatever
    // happens to its name meanwhile (replaced, renamed, deleted), this reads the same file, the
    // same part, with the same float peak.
    bool openSame(const SndFileReader &opened);
    QString errorText() const { return m_error; }
    // After a failed open: the path named something that is not a regular file.
    bool notRegular() const { return m_notRegular; }
    // The open file, for checks of its identity; -1 before open.
    int descriptor() const { return m_source.fd; }

    // libsndfile's SF_FORMAT_* of the file: container and codec.
    int format() const { return m_format; }
    // Every kind libsndfile reads but MP3, which would only be encoded again.
    bool isEncodable() const;
    std::int64_t frames() const { return m_frames; }
    int channels() const { return m_channels; }
    int sampleRate() const { return m_sampleRate; }
    // Speaker of each channel (SF_CHANNEL_MAP_*), empty when the file names none.
    QVector<int> channelMap() const;
    // True when the data chunk's declared size could not describe the file (past 4 GiB) and the
    // samples are read up to the end of the file instead.
    bool readsToEnd() const { return m_readsToEnd; }
    // An Ogg stream's length is read off its pages, which may promise a block more than the
    // decoder gives (seen in released Vorbis files whose first page starts before zero).
    bool lengthIsEstimate() const;
    // Float and double samples, and the lossy codecs that decode to floats (Vorbis, Opus): read
    // scaled so the file's peak is full scale, as the encoder command reads a float WAV.
    bool isFloat() const;
    // Float and Vorbis samples are scaled here, exactly as libsndfile would, so the readers of
    // the pieces of one file can share one peak; double and Opus samples are left to libsndfile.
    bool scalesItself() const;
    // The peak the scaling of float input divides by: 32768/32767 times the largest magnitude
    // (0 for silence, which is then read as silence). Found by reading the whole file once, on
    // the first read unless taken over by openSame(); false when the read is cancelled or fails.
    bool findFloatPeak();
    std::optional<double> floatPeak() const { return m_floatPeak; }

    // Once `*cancel` is set every read of the file comes back empty, so a long read inside
    // libsndfile (the float peak scan) ends within one block.
    void setCancel(const std::atomic<bool> *cancel) { m_cancel = cancel; }

    // Reads only `count` frames from frame `first` on (a track of an album in one file), as if
    // they were the whole file: frames(), seek() and read() count within them, and a reader
    // opened with openSame() reads the same part. The scaling of float input stays the whole
    // file's. False (the reader unchanged) when the part is not inside the file.
    bool setPart(std::int64_t first, std::int64_t count);

    // Moves to frame `frame` for the next read; false when the file cannot go there.
    bool seek(std::int64_t frame);
    // Reads up to `frames` interleaved frames; returns how many were read, -1 on a read error.
    std::int64_t read(int *interleaved, std::int64_t frames);

    // A LIST/INFO text (SF_STR_*) as the file stores it; empty when absent.
    QByteArray infoString(int type) const;

    // The file as libsndfile's virtual I/O sees it: a window from `base` to the end.
    struct Source
    {
        int fd = -1;
        std::int64_t base = 0;
        std::int64_t length = 0;
        std::int64_t position = 0;
        const std::atomic<bool> *const *cancel = nullptr;
    };

private:
    bool openDescriptor();
    bool countFlacFrames();
    bool chooseScaling();
    bool silentFromStart();
    std::int64_t readScaled(int *interleaved, std::int64_t frames);
    bool openAt(std::int64_t base, int rawFormat);
    void close();

    Source m_source;
    sf_private_tag *m_file = nullptr;
    int m_format = 0;
    std::int64_t m_frames = 0;
    std::int64_t m_first = 0;    // of the part read, in the whole file
    std::int64_t m_position = 0; // within the part
    int m_channels = 0;
    int m_sampleRate = 0;
    QVector<int> m_channelMap;
    QHash<int, QByteArray> m_strings; // SF_STR_* as the file stores them
    bool m_readsToEnd = false;
    bool m_scaleChosen = false;
    std::optional<double> m_floatPeak;
    std::vector<float> m_floats; // read before scaling
    bool m_notRegular = false;
    const std::atomic<bool> *m_cancel = nullptr;
    QString m_error;
};
