#pragma once

#include "mp3enc/calc/encoderesult.h"
#include "mp3enc/input/channelmixer.h"

#include <functional>
#include <vector>

class LameEncoder;
class SndFileReader;

// Reads the input a block at a time, mixes it to the MP3's channels and hands it to LAME: the
// step the whole-file encode and every segment's encoder repeat.
class BlockFeeder
{
public:
    BlockFeeder(SndFileReader &reader, LameEncoder &encoder);

    // Frames of one block: a few milliseconds of work, so Stop is noticed promptly; fewer
    // frames for wide input.
    int blockFrames() const { return m_block; }
    // The same for input of `channels` channels. Where LAME resamples, how the input is cut
    // decides the calls its ReplayGain analysis sees, so a pass that reproduces it cuts the same.
    static int blockFramesFor(int channels);
    // Encodes the next `frames` input frames (at most blockFrames()), appending the MP3 bytes
    // LAME gives back to `out`. Where the input's length is only an estimate, fewer frames at
    // its end are its real end: they are encoded and `*fed` says how many (else `frames`).
    EncodeResult feed(int frames, std::vector<unsigned char> &out, int *fed = nullptr);
    // Encodes `frames` frames of digital silence instead of input (at most blockFrames()).
    EncodeResult feedSilence(int frames, std::vector<unsigned char> &out);
    // Hears each block of the input as LAME is given it, mixed (not silence).
    using Listener = std::function<void(const int *left, const int *right, int n)>;
    void setListener(Listener listener) { m_listener = std::move(listener); }

private:
    SndFileReader &m_reader;
    LameEncoder &m_encoder;
    ChannelMixer m_mixer;
    int m_block;
    std::vector<int> m_interleaved, m_left, m_right;
    Listener m_listener;
};
