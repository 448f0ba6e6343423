#include "mp3enc/encode/blockfeeder.h"

#include "mp3enc/calc/reasons.h"
#include "mp3enc/encode/lameencoder.h"
#include "mp3enc/input/sndfilereader.h"
#include "runtime/comerror.h"

#include <algorithm>

BlockFeeder::BlockFeeder(SndFileReader &reader, LameEncoder &encoder)
    : m_reader(reader), m_encoder(encoder), m_mixer(reader.channels(), reader.channelMap()),
      m_block(blockFramesFor(reader.channels())),
      m_interleaved(std::size_t(m_block) * std::size_t(reader.channels())),
      m_left(std::size_t(m_block)), m_right(std::size_t(m_block))
{}

int BlockFeeder::blockFramesFor(int channels)
{
    return channels <= 2 ? 2304 : std::max(1152, 16384 / channels);
}

EncodeResult BlockFeeder::feedSilence(int frames, std::vector<unsigned char> &out)
{
    std::fill_n(m_left.begin(), frames, 0);
    std::fill_n(m_right.begin(), frames, 0);
    if (!m_encoder.encode(m_left.data(), m_right.data(), frames, out))
        return failedResult(rt::ErrDeviceIO, reasons::EncoderFailed);
    return {};
}

EncodeResult BlockFeeder::feed(int frames, std::vector<unsigned char> &out, int *fed)
{
    const std::int64_t got = m_reader.read(m_interleaved.data(), frames);
    if (got != frames && !(fed && got >= 0 && m_reader.lengthIsEstimate()))
        return failedResult(rt::ErrDeviceIO, got < 0 ? reasons::readFailed(m_reader.errorText())
                                                     : reasons::InputEndedEarly);
    if (fed)
        *fed = int(got);
    frames = int(got);
    m_mixer.split(m_interleaved.data(), frames, m_left.data(), m_right.data());
    if (m_listener)
        m_listener(m_left.data(), m_right.data(), frames);
    if (!m_encoder.encode(m_left.data(), m_right.data(), frames, out))
        return failedResult(rt::ErrDeviceIO, reasons::EncoderFailed);
    return {};
}
