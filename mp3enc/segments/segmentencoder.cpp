#include "mp3enc/segments/segmentencoder.h"

#include "mp3enc/calc/mp3frame.h"
#include "mp3enc/calc/reasons.h"
#include "mp3enc/encode/loudnessmeter.h"
#include "runtime/comerror.h"

#include <algorithm>

namespace {

EncodeResult failed(const QString &text)
{
    return failedResult(rt::ErrDeviceIO, text);
}

EncodeResult readFailed(const SndFileReader &reader)
{
    return failed(reasons::readFailed(reader.errorText()));
}

} // namespace

EncodeResult SegmentEncoder::open(const SndFileReader &input, const LameEncoder::Settings &settings,
                                  std::int64_t firstFrame, bool infoTag, int silentFrames)
{
    m_total = std::int64_t(settings.frames);
    m_position = settings.inputSampleAt(firstFrame);
    m_silentEnd = std::min(m_total, settings.inputSampleAt(firstFrame + silentFrames));
    m_firstFrame = firstFrame;
    if (!m_reader.openSame(input))
        return readFailed(m_reader);
    if (m_reader.frames() != m_total || (m_reader.channels() == 1) != (settings.channels == 1))
        return failed(reasons::InputChanged);
    if (!m_reader.seek(std::max(m_position, m_silentEnd))) {
        m_seekFailed = true;
        return readFailed(m_reader);
    }
    LameEncoder::Settings own = settings;
    own.frames = std::uint64_t(m_total - m_position);
    own.infoTag = infoTag;
    own.replayGain = false;
    QString error;
    if (!m_encoder.init(own, &error))
        return failed(reasons::settingsRefused(error));
    m_feeder = std::make_unique<BlockFeeder>(m_reader, m_encoder);
    m_infoTag = infoTag;
    return {};
}

void SegmentEncoder::measure(LoudnessMeter *meter, std::int64_t from, std::int64_t to)
{
    // Called from inside feed(), while m_position is still the block's first sample.
    m_feeder->setListener([this, meter, from, to,
                           scale = m_encoder.scale()](const int *left, const int *right, int n) {
        const std::int64_t start = std::max(from, m_position);
        const std::int64_t end = std::min(to, m_position + n);
        if (start < end) {
            const auto skip = std::ptrdiff_t(start - m_position);
            meter->addFullScale(left + skip, right + skip, int(end - start), scale);
        }
    });
}

EncodeResult SegmentEncoder::encodeTo(std::int64_t end, const std::function<bool()> &stopped)
{
    end = std::min(end, m_total);
    while (m_position < end) {
        if (stopped())
            return {EncodeResult::Stopped, 0, {}};
        const bool silent = m_position < m_silentEnd;
        const auto want = int(std::min<std::int64_t>(m_feeder->blockFrames(),
                                                     (silent ? m_silentEnd : end) - m_position));
        if (const EncodeResult fed =
                silent ? m_feeder->feedSilence(want, m_bytes) : m_feeder->feed(want, m_bytes);
            fed.status != EncodeResult::Done)
            return fed;
        m_position += want;
        if (m_position == m_total && !m_encoder.flush(m_bytes))
            return failed(reasons::EncoderFailed);
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
