#pragma once

#include <QVector>
#include <vector>

// Turns interleaved frames into the one or two planar channels the MP3 gets. Mono and stereo
// pass through untouched; wider input is mixed down to stereo by speaker position.
class ChannelMixer
{
public:
    // `speakers`: SF_CHANNEL_MAP_* per channel, or empty for the usual WAV order.
    ChannelMixer(int channels, const QVector<int> &speakers);

    int outputChannels() const { return m_channels == 1 ? 1 : 2; }
    void split(const int *interleaved, int frames, int *left, int *right) const;

private:
    void mix(const int *interleaved, int frames, int *left, int *right) const;

    int m_channels;
    std::vector<double> m_toLeft;
    std::vector<double> m_toRight;
};
