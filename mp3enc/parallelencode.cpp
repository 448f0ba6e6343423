#include "mp3enc/parallelencode.h"

#include "mp3enc/corepool.h"
#include "mp3enc/framelist.h"
#include "mp3enc/id3tag.h"
#include "mp3enc/infotag.h"
#include "mp3enc/loudness.h"
#include "mp3enc/parttimes.h"
#include "mp3enc/reasons.h"
#include "mp3enc/segmentencoder.h"
#include "mp3enc/streamjoin.h"
#include "mp3enc/tempoutput.h"
#include "runtime/comerror.h"

#include <algorithm>
#include <cerrno>

struct SegmentOutput
{
    EncodeResult result;
    bool usable = false; // false: the encoder's bytes were not what the join expects
    FrameList frames;
    std::int64_t first = 0;         // frame number of frames[0] in the whole stream
    std::vector<unsigned char> tag; // first segment: the encoder's info-tag frame, if any
    SegmentEncoder encoder;         // kept, to run on when no frame of the next seam joins

    NumberedFrames numbered() const { return {frames, first}; }
};

namespace {

// The info tag describes the whole-file encoder's delay: its 576 samples of lead-in.
constexpr int EncoderDelay = 576;

std::unique_ptr<SegmentOutput> segmentFailed(int number, const QString &text)
{
    auto out = std::make_unique<SegmentOutput>();
    out->result = failedResult(number, text);
    return out;
}

} // namespace

ParallelEncode::ParallelEncode(const SndFileReader &input, const LameEncoder::Settings &settings,
                               ratechoice::Rates rates, float lameScale, std::int64_t totalFrames,
                               SegmentPlan plan, SegmentOptions options)
    : m_input(input), m_settings(settings), m_rates(std::move(rates)), m_lameScale(lameScale),
      m_totalFrames(totalFrames),
      m_samplesPerFrame(mp3frame::samplesPerFrame(settings.outSampleRate ? settings.outSampleRate
                                                                         : settings.sampleRate)),
      m_plan(std::move(plan)), m_options(std::move(options))
{}

ParallelEncode::~ParallelEncode()
{
    stopWorkers();
}

void ParallelEncode::schedule(CorePool *pool, const std::atomic<bool> *current)
{
    m_pool = pool;
    m_current = current;
}

std::optional<EncodeResult> ParallelEncode::run(TempOutput &out, const QString &outputPath,
                                                const Id3Tags &id3, const StopSignal &stop,
                                                const EncodeJob::Progress &progress)
{
    const auto &segments = m_plan.segments;
    m_joinedAll = false;
    m_extended = 0;
    m_seams.clear();
    m_serialFrames.clear();
    startWorkers(stop);
    struct WorkersStop
    {
        ParallelEncode *self;
        ~WorkersStop() { self->stopWorkers(); }
    } workersStop{this};
    // The loudness of the whole input, for the info tag: one pass of its own beside the segments,
    // as the segments' encoders each hear only a part. Its filters are recursive, and only the
    // history the samples before leave gives LAME's gain, so the pass runs in one piece.
    std::atomic<bool> quitAnalysis{false};
    std::optional<std::uint16_t> radioGain; // under m_mutex, with `analysed`
    QString analysisError;
    bool analysed = false;
    std::thread analysis([&] {
        QString error;
        const double start = m_options.times ? threadSeconds() : 0;
        double reading = 0;
        const std::optional<std::uint16_t> gain = radioGainOf(
            m_input, m_lameScale, m_settings.outSampleRate, quitAnalysis, &error,
            m_options.beforeLoudnessBlock, m_options.times ? &reading : nullptr, m_meter);
        if (m_options.times) {
            m_options.times->add(m_options.times->loudness, threadSeconds() - start);
            m_options.times->add(m_options.times->loudnessReading, reading);
        }
        {
            std::lock_guard lock(m_mutex);
            radioGain = gain;
            analysisError = error;
            analysed = true;
        }
        m_changed.notify_all();
    });
    struct AnalysisStop
    {
        std::atomic<bool> &quit;
        std::thread &thread;
        ~AnalysisStop()
        {
            quit = true; // looked at between blocks
            if (thread.joinable())
                thread.join();
        }
    } analysisStop{quitAnalysis, analysis};

    if (!out.create(outputPath) || !out.write(id3.v2.constData(), size_t(id3.v2.size())))
        return writeFailedResult(out);
    const auto stoppedResult = EncodeResult{EncodeResult::Stopped, 0, {}};

    std::unique_ptr<SegmentOutput> a = take(0, stop);
    if (!a)
        return stoppedResult;
    if (a->result.status != EncodeResult::Done)
        return a->result;
    if (!a->usable)
        return std::nullopt;
    double joinStart = m_options.times ? threadSeconds() : 0;
    std::vector<unsigned char> tag = a->tag;
    const std::vector<unsigned char> placeholder(tag.size(), 0);
    if (!out.write(placeholder.data(), placeholder.size()))
        return writeFailedResult(out);

    StreamJoin join(out, progress, m_totalFrames, m_rates);
    for (std::size_t i = 1; i < segments.size(); ++i) {
        // Up to the window the frames are the earlier segment's whatever the seam: joined and
        // written while the next segment is still being encoded.
        if (!join.appendUpTo(a->numbered(), segments[i].windowStart))
            return std::nullopt;
        if (!join.writeFinished(false))
            return writeFailedResult(out);
        timeJoin(i - 1, joinStart);
        std::unique_ptr<SegmentOutput> b = take(i, stop);
        if (!b)
            return stoppedResult;
        if (b->result.status != EncodeResult::Done)
            return b->result;
        if (!b->usable)
            return std::nullopt;
        const std::optional<EncodeResult> joined = joinNext(a, std::move(b), i, join, stop);
        if (!joined || joined->status != EncodeResult::Done)
            return joined;
        if (!join.writeFinished(false))
            return writeFailedResult(out);
        if (stop.requested())
            return stoppedResult;
    }
    if (!join.appendUpTo(a->numbered(), m_totalFrames) || a->numbered().end() != m_totalFrames)
        return std::nullopt;
    if (!join.writeFinished(true))
        return writeFailedResult(out);
    timeJoin(segments.size() - 1, joinStart);
    if (!waitFor(analysed, stop))
        return stoppedResult; // the pass is told to quit, and ends within a block
    analysis.join();
    if (!radioGain)
        return failedResult(rt::ErrDeviceIO, analysisError);
    // The encoder that reached the end knows the padding after the input's last sample.
    if (!tag.empty() && !rebuildTag(tag, join, *radioGain, a->encoder.padding()))
        return std::nullopt;
    // The info tag takes the place of the first frame, which follows the ID3v2 tag.
    if (!out.write(id3.v1.constData(), size_t(id3.v1.size())) ||
        (!tag.empty() && !out.writeAt(id3.v2.size(), tag.data(), tag.size())))
        return writeFailedResult(out);
    progress(int(m_totalFrames));
    m_joinedAll = true;

    return EncodeResult{};
}

// Joins segment i (`b`) to the stream, which has `a`'s frames up to its window. Where no frame of
// the window joins, the earlier encoder runs on a few frames at a time and each new frame is tried
// against the later segment's, which are already there; only when none of those joins does it
// run on over the whole segment. `a` becomes whichever encoder's frames go on.
std::optional<EncodeResult> ParallelEncode::joinNext(std::unique_ptr<SegmentOutput> &a,
                                                     std::unique_ptr<SegmentOutput> b,
                                                     std::size_t i, StreamJoin &join,
                                                     const StopSignal &stop)
{
    std::function<bool(std::int64_t)> refuse;
    if (m_options.refuseSeam)
        refuse = [this, i](std::int64_t frame) { return m_options.refuseSeam(i, frame); };
    std::int64_t seam = join.findSeam(a->numbered(), b->numbered(), SegmentPlan::Window, refuse);
    const std::int64_t bEnd = b->numbered().end();
    std::int64_t serial = 0;
    while (seam < 0 && join.next() + 1 < bEnd) {
        if (stopped(stop))
            return EncodeResult{EncodeResult::Stopped, 0, {}};
        const std::int64_t until = std::min(join.next() + RunOnStep, bEnd - 1);
        if (auto ran = runOn(*a, i, until, join, stop, &serial);
            !ran || ran->status != EncodeResult::Done)
            return ran;
        const std::int64_t tried = join.next();
        seam = join.findSeam(a->numbered(), b->numbered(), until - tried, refuse);
        if (seam < 0 && join.next() == tried)
            return std::nullopt; // a frame of the earlier encoder's would not follow its own
    }
    if (seam >= 0) {
        m_seams.push_back(seam);
        m_serialFrames.push_back(serial);
        a = std::move(b);
        return EncodeResult{};
    }
    b.reset();
    if (auto ran = runOn(*a, i, m_plan.segments[i].endFrame, join, stop, &serial);
        !ran || ran->status != EncodeResult::Done)
        return ran;
    ++m_extended;
    m_serialFrames.push_back(serial);
    return EncodeResult{};
}

// The earlier encoder runs on until its frames reach `until`: they continue the joined ones
// exactly. `*serial` counts the frames it encodes on the joining thread.
std::optional<EncodeResult> ParallelEncode::runOn(SegmentOutput &a, std::size_t i,
                                                  std::int64_t until, const StreamJoin &join,
                                                  const StopSignal &stop, std::int64_t *serial)
{
    const PartClock clock(m_options.times, &PartTimes::runOns, i);
    const std::int64_t had = a.first + std::int64_t(a.frames.size());
    a.encoder.dropBefore(join.next() - SegmentPlan::Window, a.frames, a.first);
    const EncodeResult ran = a.encoder.encodeTo(sampleFor(until), [&] { return stopped(stop); });
    if (ran.status != EncodeResult::Done)
        return ran;
    if (!a.encoder.parse(&a.frames, &a.first) ||
        std::int64_t(a.frames.size()) + a.first < std::min(until, m_totalFrames))
        return std::nullopt;
    *serial += std::max<std::int64_t>(0, a.first + std::int64_t(a.frames.size()) - had);
    return ran;
}

bool ParallelEncode::rebuildTag(std::vector<unsigned char> &tag, const StreamJoin &join,
                                std::uint16_t radioGain, int padding) const
{
    infotag::Stream stream = join.tagFigures();
    stream.totalBytes += std::int64_t(tag.size());
    stream.delay = EncoderDelay;
    stream.radioGain = radioGain;
    stream.padding = padding;
    return stream.audioFrames == m_totalFrames && infotag::rebuild(tag, stream);
}

std::int64_t ParallelEncode::sampleFor(std::int64_t frame) const
{
    // The encoder looks a frame or two ahead, and writes a frame's header only once the data of
    // the frames after it has filled the reservoir up to it: as many of its smallest frames as
    // 511 bytes span.
    const auto total = std::int64_t(m_settings.frames);
    const int frameBytes = mp3frame::frameBytes(
        m_rates.constant() ? m_settings.kbps : m_rates.kbps.front(),
        m_settings.outSampleRate ? m_settings.outSampleRate : m_settings.sampleRate);
    const int area = std::max(1, frameBytes - 4 - 32);
    const std::int64_t margin = 3 + (511 + area - 1) / area;
    return frame >= m_totalFrames ? total
                                  : std::min(total, m_settings.inputSampleAt(frame + margin));
}

std::int64_t ParallelEncode::endSample(std::size_t i) const
{
    return sampleFor(i + 1 == m_plan.segments.size() ? m_totalFrames : m_plan.segments[i].endFrame);
}

bool ParallelEncode::stopped(const StopSignal &stop) const
{
    return stop.requested() || m_abort.requested();
}

std::unique_ptr<SegmentOutput> ParallelEncode::encodeSegment(std::size_t i,
                                                             const StopSignal &stop) const
{
    const Segment &segment = m_plan.segments[i];
    auto out = std::make_unique<SegmentOutput>();
    out->result = out->encoder.open(m_input, m_settings, segment.encoderStart, i == 0,
                                    int(segment.audioStart - segment.encoderStart));
    if (out->encoder.seekFailed()) {
        out->result = {}; // not usable: the file is encoded in one piece
        return out;
    }
    if (out->result.status == EncodeResult::Done)
        out->result = out->encoder.encodeTo(endSample(i), [&] { return stopped(stop); });
    if (out->result.status != EncodeResult::Done)
        return out;
    if (i == 0)
        out->tag = out->encoder.tag();
    const bool last = i + 1 == m_plan.segments.size();
    const bool spoilt = m_options.spoilSegment && m_options.spoilSegment(i);
    out->usable = !spoilt && out->encoder.parse(&out->frames, &out->first) &&
                  (last ? std::int64_t(out->frames.size()) + out->first == segment.endFrame
                        : std::int64_t(out->frames.size()) + out->first >= segment.endFrame);
    return out;
}

void ParallelEncode::startWorkers(const StopSignal &stop)
{
    stopWorkers();
    m_abort.reset();
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
    m_abort.request(); // wakes a worker waiting for a core
    {
        std::lock_guard lock(m_mutex);
    }
    m_changed.notify_all();
    for (std::thread &t : m_workers)
        t.join();
    m_workers.clear();
}

void ParallelEncode::work(const StopSignal &stop)
{
    // Encoded segments wait for the join; a few ahead keep every core busy.
    const std::size_t ahead = std::size_t(m_options.threads) + 1;
    for (;;) {
        std::size_t i = 0;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] {
                return m_abort.requested() || m_next >= m_done.size() || m_next <= m_joined + ahead;
            });
            if (m_abort.requested() || m_next >= m_done.size())
                return;
            i = m_next++;
        }
        std::unique_ptr<SegmentOutput> result;
        try {
            // A core for the whole segment: a file ahead gives way to the current one.
            const CorePool::Lease core(m_pool, !m_current || m_current->load(), &stop, &m_abort);
            {
                const PartClock clock(m_options.times, &PartTimes::segments, i);
                result = core ? encodeSegment(i, stop) : nullptr;
            }
            if (!result)
                return;
        } catch (const std::bad_alloc &) {
            result = segmentFailed(rt::ErrOverflow, reasons::OutOfMemory);
        } catch (const std::exception &e) {
            result = segmentFailed(rt::ErrInternal,
                                   reasons::internalError(QString::fromLocal8Bit(e.what())));
        }
        {
            std::lock_guard lock(m_mutex);
            m_done[i] = std::move(result);
        }
        m_changed.notify_all();
    }
}

void ParallelEncode::timeJoin(std::size_t i, double &start) const
{
    if (!m_options.times)
        return;
    const double now = threadSeconds();
    m_options.times->add(m_options.times->joins, i, now - start);
    start = now;
}

bool ParallelEncode::waitFor(const bool &done, const StopSignal &stop)
{
    const StopSignal::Wake wake(&stop, m_mutex, m_changed);
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return done || stop.requested(); });
    return done;
}

std::unique_ptr<SegmentOutput> ParallelEncode::take(std::size_t i, const StopSignal &stop)
{
    const StopSignal::Wake wake(&stop, m_mutex, m_changed);
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_done[i] || stop.requested(); });
    if (!m_done[i])
        return nullptr;
    m_joined = i;
    m_changed.notify_all();
    return std::move(m_done[i]);
}
