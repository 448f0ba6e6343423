#include "mp3enc/sndfilereader.h"

#include <QFile>
#include <sndfile.h>

SndFileReader::~SndFileReader()
{
    if (m_file)
        sf_close(m_file);
}

bool SndFileReader::open(const QString &path)
{
    SF_INFO info{};
    m_file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!m_file) {
        m_error = QString::fromLocal8Bit(sf_strerror(nullptr));
        return false;
    }
    m_format = info.format;
    m_frames = info.frames;
    m_channels = info.channels;
    m_sampleRate = info.samplerate;
    return true;
}

bool SndFileReader::isWave() const
{
    switch (m_format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
    case SF_FORMAT_RF64:
    case SF_FORMAT_W64:
        return true;
    default:
        return false;
    }
}

QVector<int> SndFileReader::channelMap() const
{
    QVector<int> map(m_channels);
    if (!m_file || m_channels <= 0 ||
        sf_command(m_file, SFC_GET_CHANNEL_MAP_INFO, map.data(), int(map.size() * sizeof(int))) !=
            SF_TRUE)
        return {};
    return map;
}

bool SndFileReader::isFloat() const
{
    const int subtype = m_format & SF_FORMAT_SUBMASK;
    return subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
}

bool SndFileReader::seek(std::int64_t frame)
{
    if (sf_seek(m_file, frame, SEEK_SET) == frame)
        return true;
    m_error = QString::fromLocal8Bit(sf_strerror(m_file));
    return false;
}

std::int64_t SndFileReader::read(int *interleaved, std::int64_t frames)
{
    // Scaling float samples needs the file's peak, which libsndfile finds by reading the whole
    // file: done on the first read (the encoder's thread), and only where it matters.
    if (!m_scaleChosen) {
        m_scaleChosen = true;
        const int subtype = m_format & SF_FORMAT_SUBMASK;
        if (subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE)
            sf_command(m_file, SFC_SET_SCALE_FLOAT_INT_READ, nullptr, SF_TRUE);
    }
    const sf_count_t n = sf_readf_int(m_file, interleaved, frames);
    if (n < frames && sf_error(m_file) != SF_ERR_NO_ERROR) {
        m_error = QString::fromLocal8Bit(sf_strerror(m_file));
        return -1;
    }
    return n;
}
