#include "mp3enc/input/channelmixer.h"

#include <algorithm>
#include <cmath>
#include <sndfile.h>

namespace {

enum class Side
{
    Left,
    Right,
    Centre,
    Dropped,
    Unknown
};

Side sideOf(int speaker)
{
    switch (speaker) {
    case SF_CHANNEL_MAP_LEFT:
    case SF_CHANNEL_MAP_FRONT_LEFT:
    case SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER:
    case SF_CHANNEL_MAP_REAR_LEFT:
    case SF_CHANNEL_MAP_SIDE_LEFT:
    case SF_CHANNEL_MAP_TOP_FRONT_LEFT:
    case SF_CHANNEL_MAP_TOP_REAR_LEFT:
        return Side::Left;
    case SF_CHANNEL_MAP_RIGHT:
    case SF_CHANNEL_MAP_FRONT_RIGHT:
    case SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER:
    case SF_CHANNEL_MAP_REAR_RIGHT:
    case SF_CHANNEL_MAP_SIDE_RIGHT:
    case SF_CHANNEL_MAP_TOP_FRONT_RIGHT:
    case SF_CHANNEL_MAP_TOP_REAR_RIGHT:
        return Side::Right;
    case SF_CHANNEL_MAP_MONO:
    case SF_CHANNEL_MAP_CENTER:
    case SF_CHANNEL_MAP_FRONT_CENTER:
    case SF_CHANNEL_MAP_REAR_CENTER:
    case SF_CHANNEL_MAP_TOP_CENTER:
    case SF_CHANNEL_MAP_TOP_FRONT_CENTER:
    case SF_CHANNEL_MAP_TOP_REAR_CENTER:
        return Side::Centre;
    case SF_CHANNEL_MAP_LFE:
        return Side::Dropped;
    default:
        return Side::Unknown;
    }
}

// The speaker order of WAVE_FORMAT_EXTENSIBLE's channel mask, used when a file names none.
constexpr int WaveOrder[] = {
    SF_CHANNEL_MAP_FRONT_LEFT,
    SF_CHANNEL_MAP_FRONT_RIGHT,
    SF_CHANNEL_MAP_FRONT_CENTER,
    SF_CHANNEL_MAP_LFE,
    SF_CHANNEL_MAP_REAR_LEFT,
    SF_CHANNEL_MAP_REAR_RIGHT,
    SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER,
    SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER,
    SF_CHANNEL_MAP_REAR_CENTER,
    SF_CHANNEL_MAP_SIDE_LEFT,
    SF_CHANNEL_MAP_SIDE_RIGHT,
    SF_CHANNEL_MAP_TOP_CENTER,
    SF_CHANNEL_MAP_TOP_FRONT_LEFT,
    SF_CHANNEL_MAP_TOP_FRONT_CENTER,
    SF_CHANNEL_MAP_TOP_FRONT_RIGHT,
    SF_CHANNEL_MAP_TOP_REAR_LEFT,
    SF_CHANNEL_MAP_TOP_REAR_CENTER,
    SF_CHANNEL_MAP_TOP_REAR_RIGHT,
};

int clampToInt(double v)
{
    return int(std::clamp(std::lround(v), long(INT32_MIN), long(INT32_MAX)));
}

} // namespace

ChannelMixer::ChannelMixer(int channels, const QVector<int> &speakers)
    : m_channels(channels), m_toLeft(size_t(channels)), m_toRight(size_t(channels))
{
    if (channels <= 2)
        return;
    const double centre = std::sqrt(0.5); // -3 dB into each side keeps a centre's power
    for (int c = 0; c < channels; ++c) {
        int speaker = c < speakers.size() ? speakers[c] : SF_CHANNEL_MAP_INVALID;
        if (sideOf(speaker) == Side::Unknown && c < int(std::size(WaveOrder)))
            speaker = WaveOrder[c];
        switch (sideOf(speaker)) {
        case Side::Left:
            m_toLeft[c] = 1.0;
            break;
        case Side::Right:
            m_toRight[c] = 1.0;
            break;
        case Side::Centre:
            m_toLeft[c] = m_toRight[c] = centre;
            break;
        case Side::Dropped:
            break;
        case Side::Unknown:
            (c % 2 == 0 ? m_toLeft : m_toRight)[c] = 1.0;
            break;
        }
    }
    // Scale each side so that full scale in every channel cannot clip.
    for (auto *side : {&m_toLeft, &m_toRight}) {
        double sum = 0;
        for (double k : *side)
            sum += k;
        if (sum > 0)
            for (double &k : *side)
                k /= sum;
    }
}

void ChannelMixer::split(const int *interleaved, int frames, int *left, int *right) const
{
    if (m_channels == 1) {
        std::copy(interleaved, interleaved + frames, left); // LAME reads no right channel
    } else if (m_channels == 2) {
        for (int i = 0; i < frames; ++i) {
            left[i] = interleaved[2 * i];
            right[i] = interleaved[2 * i + 1];
        }
    } else {
        mix(interleaved, frames, left, right);
    }
}

void ChannelMixer::mix(const int *interleaved, int frames, int *left, int *right) const
{
    for (int i = 0; i < frames; ++i) {
        const int *frame = interleaved + size_t(i) * size_t(m_channels);
        double l = 0, r = 0;
        for (int c = 0; c < m_channels; ++c) {
            l += m_toLeft[c] * frame[c];
            r += m_toRight[c] * frame[c];
        }
        left[i] = clampToInt(l);
        right[i] = clampToInt(r);
    }
}
