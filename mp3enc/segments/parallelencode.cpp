#include "mp3enc/segments/parallelencode.h"

#include "mp3enc/calc/framelist.h"
#include "mp3enc/calc/parttimes.h"
#include "mp3enc/encode/corepool.h"
#include "mp3enc/encode/loudness.h"
#include "mp3enc/encode/loudnessmeter.h"
#include "mp3enc/encode/mp3layout.h"
#include "mp3enc/segments/segmentencoder.h"
#include "mp3enc/segments/streamjoin.h"
#include "mp3enc/tags/infotag.h"
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

void ParallelEncode::schedule(CorePool *pool, CoreTicket *ticket)
{
    m_pool = pool;
    m_ticket = ticket;
}

// The loudness of the whole input, for the info tag's radio gain when ReplayGain 2.0 is not
// measured: one pass of its own beside the segments, as the segments' encoders each hear only a
// part. LAME's analysis has recursive filters, and only the history the samples before leave
// gives its gain, so the pass runs in one piece.
struct ParallelEncode::Loudness
{
    std::optional<std::uint16_t> radioGain; // under m_mutex, with `done`
    QString error;
    bool done = false;
    std::jthread thread; // last: told to quit and joined before the figures above go
};

std::optional<EncodeResult> ParallelEncode::run(Mp3Layout &file, const QString &outputPath,
                                                std::stop_token stop,
                                                const EncodeProgress &progress)
{
    m_joinedAll = false;
    m_extended = 0;
    m_seams.clear();
    m_serialFrames.clear();
    const bool inParts = planParts();
    startWorkers();
    struct WorkersStop
    {
        ParallelEncode *self;
        ~WorkersStop() { self->stopWorkers(); }
    } workersStop{this};
    const std::stop_callback forward(stop, [this] { m_abort.request_stop(); });
    Loudness loudness;
    if (!inParts)
        startLoudness(loudness);

    if (!file.begin(outputPath))
        return file.failed();
    StreamJoin join(file.out(), progress, m_totalFrames, m_rates);
    Joined joined;
    if (auto ended = joinAll(file, join, joined, stop);
        !ended || ended->status != EncodeResult::Done)
        return ended;
    if (auto ended = finishTags(file, join, joined, loudness, stop);
        !ended || ended->status != EncodeResult::Done)
        return ended;
    progress(int(m_totalFrames));
    m_joinedAll = true;
    return EncodeResult{};
}

// With ReplayGain 2.0 each segment's encoder measures the input from a block step a little
// before its window to three steps past the next segment's (its true peak's delay line filled by
// the step before): every gating block is one part's, and no pass reads the file a second time.
bool ParallelEncode::planParts()
{
    m_parts.clear();
    const int rate = m_input.sampleRate();
    if (!m_meter || !LoudnessMeter::measuresInParts(rate))
        return false;
    const std::int64_t step = LoudnessMeter::blockStep(rate);
    const std::int64_t settle = step;
    const std::int64_t overlap = 3 * step;
    const auto &segments = m_plan.segments;
    std::vector<std::int64_t> starts{0};
    for (std::size_t i = 1; i < segments.size(); ++i) {
        const std::int64_t at = m_settings.inputSampleAt(segments[i].windowStart) / step * step;
        // Segment i's encoder hears music from its audioStart; segment i - 1's reads on to its
        // endSample.
        if (at - settle < m_settings.inputSampleAt(segments[i].audioStart) ||
            at + overlap > endSample(i - 1) || at <= starts.back() + overlap)
            return false;
        starts.push_back(at);
    }
    const auto total = std::int64_t(m_settings.frames);
    for (std::size_t i = 0; i < starts.size(); ++i) {
        MeasuredPart part;
        part.from = i == 0 ? 0 : starts[i] - settle;
        part.to = i + 1 < starts.size() ? starts[i + 1] + overlap : total;
        part.settle = i == 0 ? 0 : int(settle);
        part.meter = std::make_unique<LoudnessMeter>(m_meter->channels(), rate, part.settle);
        m_parts.push_back(std::move(part));
    }
    return true;
}

void ParallelEncode::startLoudness(Loudness &pass)
{
    pass.thread = std::jthread([this, &pass](std::stop_token quit) {
        std::atomic<bool> quitting{false}; // looked at between blocks
        const std::stop_callback onQuit(quit, [&quitting] { quitting = true; });
        QString error;
        const double start = m_options.times ? threadSeconds() : 0;
        double reading = 0;
        const std::optional<std::uint16_t> gain = radioGainOf(
            m_input, m_lameScale, m_settings.outSampleRate, quitting, &error,
            m_options.beforeLoudnessBlock, m_options.times ? &reading : nullptr, m_meter);
        if (m_options.times) {
            m_options.times->add(m_options.times->loudness, threadSeconds() - start);
            m_options.times->add(m_options.times->loudnessReading, reading);
        }
        {
            std::lock_guard lock(m_mutex);
            pass.radioGain = gain;
            pass.error = error;
            pass.done = true;
        }
        m_changed.notify_all();
    });
}

std::optional<EncodeResult> ParallelEncode::joinAll(Mp3Layout &file, StreamJoin &join,
                                                    Joined &joined, const std::stop_token &stop)
{
    const auto &segments = m_plan.segments;
    std::unique_ptr<SegmentOutput> &a = joined.last;
    a = take(0);
    if (!a)
        return stoppedResult();
    if (a->result.status != EncodeResult::Done)
        return a->result;
    if (!a->usable)
        return std::nullopt;
    double joinStart = m_options.times ? threadSeconds() : 0;
    joined.tag = a->tag;
    if (!file.frames(std::vector<unsigned char>(joined.tag.size(), 0))) // the info tag's place
        return file.failed();
    for (std::size_t i = 1; i < segments.size(); ++i) {
        // Up to the window the frames are the earlier segment's whatever the seam: joined and
        // written while the next segment is still being encoded.
        if (!join.appendUpTo(a->numbered(), segments[i].windowStart))
            return std::nullopt;
        if (!join.writeFinished(false))
            return file.failed();
        timeJoin(i - 1, joinStart);
        std::unique_ptr<SegmentOutput> b = take(i);
        if (!b)
            return stoppedResult();
        if (b->result.status != EncodeResult::Done)
            return b->result;
        if (!b->usable)
            return std::nullopt;
        const std::optional<EncodeResult> next = joinNext(a, std::move(b), i, join);
        if (!next || next->status != EncodeResult::Done)
            return next;
        if (!join.writeFinished(false))
            return file.failed();
        if (stop.stop_requested())
            return stoppedResult();
    }
    if (!join.appendUpTo(a->numbered(), m_totalFrames) || a->numbered().end() != m_totalFrames)
        return std::nullopt;
    if (!join.writeFinished(true))
        return file.failed();
    timeJoin(segments.size() - 1, joinStart);
    return EncodeResult{};
}

std::optional<EncodeResult> ParallelEncode::finishTags(Mp3Layout &file, const StreamJoin &join,
                                                       Joined &joined, Loudness &pass,
                                                       const std::stop_token &stop)
{
    std::uint16_t radioGain = 0;
    if (!m_parts.empty()) {
        // Each segment's encoder read at least its part; short of that the plan was wrong, and
        // the file is encoded in one piece.
        for (const MeasuredPart &part : m_parts) {
            if (part.meter->framesMeasured() != part.to - part.from - part.settle)
                return std::nullopt;
        }
        for (MeasuredPart &part : m_parts)
            m_meter->absorb(std::move(part.meter));
        m_parts.clear();
        radioGain = radioGainField(*m_meter);
    } else {
        if (!waitFor(pass.done, stop))
            return stoppedResult(); // the pass is told to quit, and ends within a block
        pass.thread.join();
        if (!pass.radioGain)
            return failedResult(rt::ErrDeviceIO, pass.error);
        radioGain = *pass.radioGain;
    }
    // The encoder that reached the end knows the padding after the input's last sample.
    std::vector<unsigned char> &tag = joined.tag;
    if (!tag.empty() && !rebuildTag(tag, join, radioGain, joined.last->encoder.padding()))
        return std::nullopt;
    if (!file.finish(tag))
        return file.failed();
    return EncodeResult{};
}

// Joins segment i (`b`) to the stream, which has `a`'s frames up to its window. Where no frame of
// the window joins, the earlier encoder runs on a few frames at a time and each new frame is tried
// against the later segment's, which are already there; only when none of those joins does it
// run on over the whole segment. `a` becomes whichever encoder's frames go on.
std::optional<EncodeResult> ParallelEncode::joinNext(std::unique_ptr<SegmentOutput> &a,
                                                     std::unique_ptr<SegmentOutput> b,
                                                     std::size_t i, StreamJoin &join)
{
    std::function<bool(std::int64_t)> refuse;
    if (m_options.refuseSeam)
        refuse = [this, i](std::int64_t frame) { return m_options.refuseSeam(i, frame); };
    std::int64_t seam = join.findSeam(a->numbered(), b->numbered(), SegmentPlan::Window, refuse);
    const std::int64_t bEnd = b->numbered().end();
    std::int64_t serial = 0;
    while (seam < 0 && join.next() + 1 < bEnd) {
        if (stopped())
            return stoppedResult();
        const std::int64_t until = std::min(join.next() + RunOnStep, bEnd - 1);
        if (auto ran = runOn(*a, i, until, join, &serial);
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
    if (auto ran = runOn(*a, i, m_plan.segments[i].endFrame, join, &serial);
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
                                                  std::int64_t *serial)
{
    const PartClock clock(m_options.times, &PartTimes::runOns, i);
    const std::int64_t had = a.first + std::int64_t(a.frames.size());
    a.encoder.dropBefore(join.next() - SegmentPlan::Window, a.frames, a.first);
    const EncodeResult ran = a.encoder.encodeTo(sampleFor(until), [this] { return stopped(); });
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

std::unique_ptr<SegmentOutput> ParallelEncode::encodeSegment(std::size_t i,
                                                             const std::stop_token &stop) const
{
    const Segment &segment = m_plan.segments[i];
    auto out = std::make_unique<SegmentOutput>();
    out->result = out->encoder.open(m_input, m_settings, segment.encoderStart, i == 0,
                                    int(segment.audioStart - segment.encoderStart));
    if (out->encoder.seekFailed()) {
        out->result = {}; // not usable: the file is encoded in one piece
        return out;
    }
    if (out->result.status == EncodeResult::Done && !m_parts.empty())
        out->encoder.measure(m_parts[i].meter.get(), m_parts[i].from, m_parts[i].to);
    if (out->result.status == EncodeResult::Done)
        out->result = out->encoder.encodeTo(endSample(i), [&] { return stop.stop_requested(); });
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

void ParallelEncode::startWorkers()
{
    stopWorkers();
    m_abort = std::stop_source();
    m_next = 0;
    m_joined = 0;
    m_done.clear();
    m_done.resize(m_plan.segments.size());
    const int count = std::clamp(m_options.threads, 1, std::max(1, int(m_plan.segments.size())));
    for (int t = 0; t < count; ++t)
        m_workers.emplace_back([this, stop = m_abort.get_token()] { work(stop); });
}

void ParallelEncode::stopWorkers()
{
    m_abort.request_stop(); // wakes a worker waiting for a core or a turn
    m_workers.clear();      // and waits for each
}

void ParallelEncode::work(const std::stop_token &stop)
{
    // Encoded segments wait for the join; a few ahead keep every core busy.
    const std::size_t ahead = std::size_t(m_options.threads) + 1;
    for (;;) {
        std::size_t i = 0;
        {
            std::unique_lock lock(m_mutex);
            if (!m_changed.wait(
                    lock, stop,
                    [&] { return m_next >= m_done.size() || m_next <= m_joined + ahead; }) ||
                stop.stop_requested() || m_next >= m_done.size())
                return;
            i = m_next++;
        }
        // A core for the whole segment, in the file's turn.
        std::unique_ptr<SegmentOutput> result;
        const EncodeResult failed = guarded([&] {
            const CorePool::Lease core(m_pool, m_ticket, stop);
            const PartClock clock(m_options.times, &PartTimes::segments, i);
            if (core)
                result = encodeSegment(i, stop);
            return EncodeResult{};
        });
        if (failed.status == EncodeResult::Failed) {
            result = std::make_unique<SegmentOutput>();
            result->result = failed;
        }
        if (!result)
            return; // stopped while it waited for a core
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

bool ParallelEncode::waitFor(const bool &done, const std::stop_token &stop)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait(lock, stop, [&] { return done; });
}

std::unique_ptr<SegmentOutput> ParallelEncode::take(std::size_t i)
{
    std::unique_lock lock(m_mutex);
    if (!m_changed.wait(lock, m_abort.get_token(), [&] { return bool(m_done[i]); }))
        return nullptr;
    m_joined = i;
    m_changed.notify_all();
    return std::move(m_done[i]);
}
