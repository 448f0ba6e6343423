#include "mp3enc/parallelencode.h"

#include "mp3enc/channelmixer.h"
#include "mp3enc/framelist.h"
#include "mp3enc/infotag.h"
#include "mp3enc/repacker.h"
#include "mp3enc/sndfilereader.h"
#include "mp3enc/tempoutput.h"
#include "runtime/comerror.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

struct SegmentOutput
{
    EncodeResult result;
    bool usable = false; // false: the encoder's bytes were not what the join expects
    FrameList frames;
    std::int64_t first = 0;         // frame number of frames[0] in the whole stream
    std::vector<unsigned char> tag; // first segment: the encoder's info-tag frame, if any
};

namespace {

// The info tag describes the whole-file encoder's delay: its 576 samples of lead-in.
constexpr int EncoderDelay = 576;

EncodeResult failed(int number, const QString &text)
{
    return {EncodeResult::Failed, number, text};
}

EncodeResult writeFailed(const TempOutput &out)
{
    const int e = out.errorNumber();
    const bool full = e == ENOSPC || e == EDQUOT || e == EFBIG;
    return failed(full ? rt::ErrDiskFull : rt::ErrDeviceIO, out.errorText());
}

std::unique_ptr<SegmentOutput> segmentFailed(int number, const QString &text)
{
    auto out = std::make_unique<SegmentOutput>();
    out->result = failed(number, text);
    return out;
}

// Frames of two encoders can meet where both chose the same window for the granule before the
// seam: the decoder overlaps that granule with the next one, whose window follows from it.
bool sameWindows(const FrameList::Frame &a, const FrameList::Frame &b)
{
    if (a.header.channels != b.header.channels || a.header.granules != b.header.granules)
        return false;
    const int gr = a.header.granules - 1;
    for (int ch = 0; ch < a.header.channels; ++ch) {
        if (a.side.blockType[gr][ch] != b.side.blockType[gr][ch] ||
            a.side.mixedBlock[gr][ch] != b.side.mixedBlock[gr][ch])
            return false;
    }
    return true;
}

} // namespace

// The serial side: lays the segments' frames down in order and writes them out.
class ParallelEncode::Join
{
public:
    Join(TempOutput &out, const EncodeJob::Progress &progress) : m_out(out), m_progress(progress) {}

    // False when a frame is missing or its size is not the one-piece encode's.
    bool appendUpTo(const SegmentOutput &segment, std::int64_t end)
    {
        for (; m_next < end; ++m_next) {
            if (!append(segment, m_next))
                return false;
        }
        return true;
    }

    // The first frame of the window where `b` can take over from `a`, or -1.
    std::int64_t findSeam(const SegmentOutput &a, const SegmentOutput &b, std::int64_t window,
                          bool refuseAll)
    {
        const std::int64_t start = m_next;
        for (std::int64_t s = start; s < start + window; ++s) {
            const FrameList::Frame *next = frame(b, s);
            const FrameList::Frame *lastA = frame(a, s - 1);
            const FrameList::Frame *lastB = frame(b, s - 1);
            if (!next || !lastA || !lastB)
                return -1;
            // The joined stream must leave the next encoder at least the reservoir it had.
            if (!refuseAll && m_repacker.freeBefore(next->header) >= next->side.mainDataBegin &&
                sameWindows(*lastA, *lastB))
                return s;
            if (!append(a, s))
                return -1;
            m_next = s + 1;
        }
        return -1;
    }

    void restart(std::int64_t next, const Repacker &repacker)
    {
        m_next = next;
        m_repacker = repacker;
    }
    std::int64_t next() const { return m_next; }
    int kbps() const { return m_kbps; }
    const Repacker &repacker() const { return m_repacker; }

    bool writeFinished(bool last)
    {
        if (last)
            m_repacker.finish();
        m_buffer.clear();
        m_repacker.takeFinished(m_buffer);
        m_crc = infotag::crc16(m_buffer.data(), m_buffer.size(), m_crc);
        m_bytes += std::int64_t(m_buffer.size());
        return m_out.write(m_buffer.data(), m_buffer.size());
    }
    std::uint16_t musicCrc() const { return m_crc; }
    std::int64_t audioBytes() const { return m_bytes; }

private:
    static const FrameList::Frame *frame(const SegmentOutput &segment, std::int64_t number)
    {
        const std::int64_t i = number - segment.first;
        return i >= 0 && i < std::int64_t(segment.frames.size()) ? &segment.frames[std::size_t(i)]
                                                                 : nullptr;
    }

    bool append(const SegmentOutput &segment, std::int64_t number)
    {
        const FrameList::Frame *f = frame(segment, number);
        if (!f)
            return false;
        if (m_kbps == 0) {
            m_kbps = f->header.kbps;
            m_rate = f->header.sampleRate;
        }
        // Every encoder must have cut its frames where the one-piece encode does.
        const mp3frame::Header &h = f->header;
        if (h.kbps != m_kbps || h.sampleRate != m_rate ||
            h.padded != mp3frame::lamePadded(number, h.mpeg1, h.kbps, h.sampleRate))
            return false;
        const std::size_t i = std::size_t(number - segment.first);
        if (!m_repacker.append(h, segment.frames.head(i), segment.frames.data(i), f->dataBytes))
            return false;
        m_progress(int(number + 1));
        return true;
    }

    TempOutput &m_out;
    const EncodeJob::Progress &m_progress;
    Repacker m_repacker;
    std::int64_t m_next = 0;
    int m_kbps = 0;
    int m_rate = 0;
    std::vector<unsigned char> m_buffer;
    std::uint16_t m_crc = 0;
    std::int64_t m_bytes = 0;
};

ParallelEncode::ParallelEncode(const QString &inputPath, const LameEncoder::Settings &settings,
                               std::int64_t totalFrames, SegmentPlan plan, SegmentOptions options)
    : m_inputPath(inputPath), m_settings(settings), m_totalFrames(totalFrames),
      m_samplesPerFrame(settings.sampleRate >= 32000 ? 1152 : 576), m_plan(std::move(plan)),
      m_options(std::move(options))
{}

ParallelEncode::~ParallelEncode()
{
    stopWorkers();
}

std::optional<EncodeResult> ParallelEncode::run(const QString &outputPath,
                                                const std::atomic<bool> &stop,
                                                const EncodeJob::Progress &progress)
{
    const auto &segments = m_plan.segments;
    m_retries = 0;
    m_seams.clear();
    startWorkers(stop);
    struct WorkersStop
    {
        ParallelEncode *self;
        ~WorkersStop() { self->stopWorkers(); }
    } workersStop{this};

    TempOutput out;
    if (!out.create(outputPath))
        return writeFailed(out);
    const auto stopped = EncodeResult{EncodeResult::Stopped, 0, {}};

    std::unique_ptr<SegmentOutput> a = take(0, stop);
    if (!a)
        return stopped;
    if (a->result.status != EncodeResult::Done)
        return a->result;
    if (!a->usable)
        return std::nullopt;
    std::vector<unsigned char> tag = a->tag;
    const std::vector<unsigned char> placeholder(tag.size(), 0);
    if (!out.write(placeholder.data(), placeholder.size()))
        return writeFailed(out);

    Join join(out, progress);
    for (std::size_t i = 1; i < segments.size(); ++i) {
        std::unique_ptr<SegmentOutput> b = take(i, stop);
        if (!b)
            return stopped;
        if (b->result.status != EncodeResult::Done)
            return b->result;
        if (!b->usable || !join.appendUpTo(*a, segments[i].windowStart))
            return std::nullopt;
        const Repacker before = join.repacker();
        const auto refuse = [&](int attempt) {
            return m_options.refuseSeams && m_options.refuseSeams(i, attempt);
        };
        std::int64_t seam = join.findSeam(*a, *b, SegmentPlan::Window, refuse(0));
        if (seam < 0) {
            // The reservoir or the windows never agreed: the next encoder starts elsewhere.
            join.restart(segments[i].windowStart, before);
            b = encodeSegment(i, m_plan.retryStart(i), stop);
            if (stop.load())
                return stopped;
            if (b->result.status != EncodeResult::Done)
                return b->result;
            if (!b->usable)
                return std::nullopt;
            seam = join.findSeam(*a, *b, SegmentPlan::Window, refuse(1));
            if (seam < 0)
                return std::nullopt;
            ++m_retries;
        }
        m_seams.push_back(seam);
        a = std::move(b);
        if (!join.writeFinished(false))
            return writeFailed(out);
        if (stop.load())
            return stopped;
    }
    if (!join.appendUpTo(*a, m_totalFrames) ||
        std::int64_t(a->frames.size()) + a->first != m_totalFrames)
        return std::nullopt;
    if (!join.writeFinished(true))
        return writeFailed(out);

    infotag::Stream stream;
    stream.audioFrames = m_totalFrames;
    stream.totalBytes = std::int64_t(tag.size()) + join.audioBytes();
    stream.musicCrc = join.musicCrc();
    stream.kbps = join.kbps();
    stream.delay = EncoderDelay;
    stream.padding =
        int(m_totalFrames * m_samplesPerFrame - EncoderDelay - std::int64_t(m_settings.frames));
    if (!tag.empty() && !infotag::rebuild(tag, stream))
        return std::nullopt;
    if ((!tag.empty() && !out.writeAt(0, tag.data(), tag.size())) || !out.commit())
        return writeFailed(out);
    progress(int(m_totalFrames));
    return EncodeResult{};
}

std::unique_ptr<SegmentOutput> ParallelEncode::encodeSegment(std::size_t i,
                                                             std::int64_t encoderStart,
                                                             const std::atomic<bool> &stop) const
{
    const Segment &segment = m_plan.segments[i];
    const bool last = i + 1 == m_plan.segments.size();
    const auto total = std::int64_t(m_settings.frames);
    const std::int64_t from = encoderStart * m_samplesPerFrame;
    // A few frames past the last one needed cover the encoder's look-ahead.
    const std::int64_t to =
        last ? total : std::min(total, (segment.endFrame + 3) * m_samplesPerFrame);

    SndFileReader reader;
    if (!reader.open(m_inputPath))
        return segmentFailed(rt::ErrDeviceIO, reader.errorText());
    if (reader.frames() != total || (reader.channels() == 1) != (m_settings.channels == 1))
        return segmentFailed(rt::ErrDeviceIO, QStringLiteral("the input file changed"));
    if (!reader.seek(from))
        return segmentFailed(rt::ErrDeviceIO, reader.errorText());

    LameEncoder encoder;
    LameEncoder::Settings settings = m_settings;
    settings.frames = std::uint64_t(to - from);
    settings.infoTag = i == 0;
    settings.replayGain = false;
    QString error;
    if (!encoder.init(settings, &error))
        return segmentFailed(rt::ErrDeviceIO, error);

    const int channels = reader.channels();
    const ChannelMixer mixer(channels, reader.channelMap());
    const int block = channels <= 2 ? 2304 : std::max(1152, 16384 / channels);
    std::vector<int> interleaved(std::size_t(block) * std::size_t(channels));
    std::vector<int> left(static_cast<std::size_t>(block)), right(static_cast<std::size_t>(block));
    std::vector<unsigned char> mp3;
    auto out = std::make_unique<SegmentOutput>();
    for (std::int64_t done = from; done < to;) {
        if (stop.load(std::memory_order_relaxed) || m_abort.load(std::memory_order_relaxed)) {
            out->result.status = EncodeResult::Stopped;
            return out;
        }
        const auto want = int(std::min<std::int64_t>(block, to - done));
        const std::int64_t got = reader.read(interleaved.data(), want);
        if (got != want)
            return segmentFailed(rt::ErrDeviceIO,
                                 got < 0 ? reader.errorText()
                                         : QStringLiteral("the input file ended early"));
        mixer.split(interleaved.data(), want, left.data(), right.data());
        if (!encoder.encode(left.data(), right.data(), want, mp3))
            return segmentFailed(rt::ErrDeviceIO, QStringLiteral("the MP3 encoder failed"));
        done += want;
    }
    if (!encoder.flush(mp3))
        return segmentFailed(rt::ErrDeviceIO, QStringLiteral("the MP3 encoder failed"));

    out->first = encoderStart;
    if (i == 0) // none when the frames are too small for it
        out->tag = encoder.lametagFrame();
    const std::int64_t needed = segment.endFrame - encoderStart;
    out->usable = out->frames.parse(mp3.data(), mp3.size(), !out->tag.empty()) &&
                  (last ? std::int64_t(out->frames.size()) == needed
                        : std::int64_t(out->frames.size()) >= needed);
    return out;
}

void ParallelEncode::startWorkers(const std::atomic<bool> &stop)
{
    stopWorkers();
    m_abort = false;
    m_next = 0;
    m_joined = 0;
    m_done.clear();
    m_done.resize(m_plan.segments.size());
    const int count = std::clamp(m_options.threads, 1, std::max(1, int(m_plan.segments.size())));
    for (int t = 0; t < count; ++t)
        m_workers.emplace_back(&ParallelEncode::work, this, std::cref(stop));
}

void ParallelEncode::stopWorkers()
{
    {
        std::lock_guard lock(m_mutex);
        m_abort = true;
    }
    m_changed.notify_all();
    for (std::thread &t : m_workers)
        t.join();
    m_workers.clear();
}

void ParallelEncode::work(const std::atomic<bool> &stop)
{
    // Encoded segments wait for the join; a few ahead keep every core busy.
    const std::size_t ahead = std::size_t(m_options.threads) + 1;
    for (;;) {
        std::size_t i = 0;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] {
                return m_abort || m_next >= m_done.size() || m_next <= m_joined + ahead;
            });
            if (m_abort || m_next >= m_done.size())
                return;
            i = m_next++;
        }
        std::unique_ptr<SegmentOutput> result;
        try {
            result = encodeSegment(i, m_plan.segments[i].encoderStart, stop);
        } catch (const std::exception &e) { // out of memory: fail the file
            result = segmentFailed(rt::ErrOverflow, QString::fromLocal8Bit(e.what()));
        }
        {
            std::lock_guard lock(m_mutex);
            m_done[i] = std::move(result);
        }
        m_changed.notify_all();
    }
}

std::unique_ptr<SegmentOutput> ParallelEncode::take(std::size_t i, const std::atomic<bool> &stop)
{
    std::unique_lock lock(m_mutex);
    while (!m_done[i]) {
        if (stop.load())
            return nullptr;
        m_changed.wait_for(lock, std::chrono::milliseconds(10));
    }
    m_joined = i;
    m_changed.notify_all();
    return std::move(m_done[i]);
}
