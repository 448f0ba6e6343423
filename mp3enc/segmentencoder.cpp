#include "mp3enc/segmentencoder.h"

#include "runtime/comerror.h"

#include <algorithm>

namespace {

EncodeResult failed(const QString &text)
{
    return {EncodeResult::Failed, rt::ErrDeviceIO, text};
}

} // namespace

EncodeResult SegmentEncoder::open(const QString &path, const LameEncoder::Settings &settings,
                                  std::int64_t firstFrame, bool infoTag)
{
    m_samplesPerFrame = settings.sampleRate >= 32000 ? 1152 : 576;
    m_total = std::int64_t(settings.frames);
    m_position = firstFrame * m_samplesPerFrame;
    m_firstFrame = firstFrame;
    if (!m_reader.open(path))
        return failed(m_reader.errorText());
    if (m_reader.frames() != m_total || (m_reader.channels() == 1) != (settings.channels == 1))
        return failed(QStringLiteral("the input file changed"));
    if (!m_reader.seek(m_position)) {
        m_seekFailed = true;
        return failed(m_reader.errorText());
    }
    LameEncoder::Settings own = settings;
    own.frames = std::uint64_t(m_total - m_position);
    own.infoTag = infoTag;
    own.replayGain = false;
    QString error;
    if (!m_encoder.init(own, &error))
        return failed(error);
    m_mixer = std::make_unique<ChannelMixer>(m_reader.channels(), m_reader.channelMap());
    m_infoTag = infoTag;
    return {};
}

EncodeResult SegmentEncoder::encodeTo(std::int64_t end, const std::function<bool()> &stopped)
{
    const int channels = m_reader.channels();
    const int block = channels <= 2 ? 2304 : std::max(1152, 16384 / channels);
    m_interleaved.resize(std::size_t(block) * std::size_t(channels));
    m_left.resize(std::size_t(block));
    m_right.resize(std::size_t(block));
    end = std::min(end, m_total);
    while (m_position < end) {
        if (stopped())
            return {EncodeResult::Stopped, 0, {}};
        const auto want = int(std::min<std::int64_t>(block, end - m_position));
        const std::int64_t got = m_reader.read(m_interleaved.data(), want);
        if (got != want)
            return failed(got < 0 ? m_reader.errorText()
                                  : QStringLiteral("the input file ended early"));
        m_mixer->split(m_interleaved.data(), want, m_left.data(), m_right.data());
        if (!m_encoder.encode(m_left.data(), m_right.data(), want, m_bytes))
            return failed(QStringLiteral("the MP3 encoder failed"));
        m_position += want;
        if (m_position == m_total && !m_encoder.flush(m_bytes))
            return failed(QStringLiteral("the MP3 encoder failed"));
    }
    return {};
}

bool SegmentEncoder::parse(FrameList *frames, std::int64_t *first) const
{
    *first = m_firstFrame;
    // The encoder writes its tag frame first when the frames have room for one.
    const FrameList::Start start = m_cut                         ? FrameList::MidStream
                                   : m_infoTag && !tag().empty() ? FrameList::TagFirst
                                                                 : FrameList::StreamStart;
    return frames->parse(m_bytes.data(), m_bytes.size(), start);
}

void SegmentEncoder::dropBefore(std::int64_t frame, const FrameList &frames, std::int64_t first)
{
    const std::int64_t i = frame - first;
    if (i <= 0 || i >= std::int64_t(frames.size()))
        return;
    const std::size_t offset = frames[std::size_t(i)].streamOffset;
    m_bytes.erase(m_bytes.begin(), m_bytes.begin() + std::ptrdiff_t(offset));
    m_firstFrame = frame;
    m_cut = true;
}
