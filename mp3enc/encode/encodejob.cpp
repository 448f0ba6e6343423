#include "mp3enc/encode/encodejob.h"

#include "mp3enc/calc/mp3frame.h"
#include "mp3enc/calc/reasons.h"
#include "mp3enc/encode/blockfeeder.h"
#include "mp3enc/encode/corepool.h"
#include "mp3enc/encode/loudness.h"
#include "mp3enc/encode/loudnessmeter.h"
#include "mp3enc/encode/mp3layout.h"
#include "mp3enc/encode/tempoutput.h"
#include "mp3enc/segments/parallelencode.h"
#include "mp3enc/tags/audiotags.h"
#include "mp3enc/tags/gainframes.h"
#include "mp3enc/tags/id3tag.h"
#include "mp3enc/tags/infotag.h"
#include "runtime/comerror.h"
#include "runtime/filename.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// An Ogg stream may end a block short of what its pages promise; more than that is a damaged
// file, which fails like a cut-short WAV.
constexpr std::int64_t MaxShortfall = 8192;
// About what cutting a file costs in CPU time, as a share of its one-piece encode: the pre-rolls
// and seam windows, and the loudness pass beside the segments.
constexpr double CutCost = 0.1;

} // namespace

AudioTags withTags(AudioTags tags, const QVariantMap &given)
{
    const std::pair<const char *, QString AudioTags::*> fields[] = {
        {"title", &AudioTags::title},     {"artist", &AudioTags::artist},
        {"album", &AudioTags::album},     {"albumartist", &AudioTags::albumArtist},
        {"date", &AudioTags::date},       {"track", &AudioTags::track},
        {"disc", &AudioTags::disc},       {"genre", &AudioTags::genre},
        {"comment", &AudioTags::comment}, {"composer", &AudioTags::composer}};
    for (const auto &[name, field] : fields) {
        const QString value = given.value(QLatin1String(name)).toString();
        if (!value.isEmpty())
            tags.*field = value;
    }
    return tags;
}

bool sameFileState(const struct stat &before, int descriptor)
{
    // The change time too: an edit in place can put the modification time back (touch -r), but
    // nobody can set the change time.
    struct stat now = {};
    return ::fstat(descriptor, &now) == 0 && now.st_dev == before.st_dev &&
           now.st_ino == before.st_ino && now.st_size == before.st_size &&
           now.st_mtim.tv_sec == before.st_mtim.tv_sec &&
           now.st_mtim.tv_nsec == before.st_mtim.tv_nsec &&
           now.st_ctim.tv_sec == before.st_ctim.tv_sec &&
           now.st_ctim.tv_nsec == before.st_ctim.tv_nsec;
}

EncodeJob::EncodeJob(std::unique_ptr<SndFileReader> reader, std::unique_ptr<LameEncoder> encoder,
                     const QString &outputPath, const QString &inputPath)
    : m_reader(std::move(reader)), m_encoder(std::move(encoder)), m_outputPath(outputPath),
      m_inputPath(inputPath), m_frameCount(m_encoder->totalFrames())
{
    ::fstat(m_reader->descriptor(), &m_inputState);
    // The clock file times are stamped with: a file changed from now on was not there when the
    // host judged the output (a cue sheet, not only the input, may have made it out of date).
    ::clock_gettime(CLOCK_REALTIME_COARSE, &m_openedAt);
    const qsizetype slash = outputPath.lastIndexOf(u'/');
    m_folderFd =
        ::open(rt::encodeFileName(outputPath.left(std::max<qsizetype>(slash, 1))).constData(),
               O_PATH | O_DIRECTORY | O_CLOEXEC);
}

EncodeJob::~EncodeJob()
{
    m_out.reset(); // before the folder it writes in is closed
    if (m_folderFd >= 0)
        ::close(m_folderFd);
}

void EncodeJob::allowSegments(const LameEncoder::Settings &settings, SegmentOptions options)
{
    m_parallel.reset();
    if (options.threads == 0)
        options.threads = int(std::thread::hardware_concurrency());
    // Float input whose scaling only libsndfile knows (double, Opus), and a length that is only
    // an estimate, keep the file in one piece.
    if (options.threads <= 1 || m_reader->lengthIsEstimate() ||
        (m_reader->isFloat() && !m_reader->scalesItself()))
        return;
    const int rate = m_encoder->outSampleRate();
    const bool mpeg1 = rate >= 32000;
    const int spf = mp3frame::samplesPerFrame(rate);
    // A variable or average rate pads no frame, and its frames may take any rate LAME allows.
    const bool variable = m_encoder->variableRate();
    ratechoice::Rates rates;
    if (variable) {
        rates.rule =
            m_encoder->averageRate() ? ratechoice::Rule::Average : ratechoice::Rule::Variable;
        rates.kbps = mp3frame::bitRates(rate, m_encoder->minKbps(), m_encoder->maxKbps());
        rates.averageKbps = settings.kbps;
    }
    SegmentPlan plan = SegmentPlan::make(
        frameCount(), spf, rate,
        variable ? 1 : mp3frame::paddingPeriod(mpeg1, m_encoder->kbps(), rate),
        SegmentPlan::alignmentFor(spf, m_reader->sampleRate(), rate),
        rates.leansOnReservoir() ? SegmentPlan::ReservoirPreRoll : SegmentPlan::MinPreRoll,
        options.threads);
    if (plan.segments.size() < 2)
        return;
    // Every piece at the rate the whole-file encoder chose for itself.
    LameEncoder::Settings pieces = settings;
    pieces.outSampleRate = rate;
    pieces.ratePicked = settings.outSampleRate == 0;
    m_parallel =
        std::make_unique<ParallelEncode>(*m_reader, pieces, std::move(rates), m_encoder->scale(),
                                         frameCount(), std::move(plan), std::move(options));
}

void EncodeJob::schedule(CorePool *pool, CoreTicket *ticket)
{
    m_pool = pool;
    m_ticket = ticket;
    if (m_parallel)
        m_parallel->schedule(pool, ticket);
}

// Still the file under its name, and as it was: an MP3 of a file replaced or rewritten while it
// was read would hold old or mixed audio, and look newer than the input to every later update.
bool EncodeJob::inputUnchanged() const
{
    struct stat named = {};
    return sameFileState(m_inputState, m_reader->descriptor()) &&
           (m_inputPath.isEmpty() ||
            (::stat(rt::encodeFileName(m_inputPath).constData(), &named) == 0 &&
             named.st_dev == m_inputState.st_dev && named.st_ino == m_inputState.st_ino));
}

EncodeResult EncodeJob::commit()
{
    if (!m_out)
        return failedResult(rt::ErrInternal,
                            reasons::internalError(QStringLiteral("commit before run")));
    m_out->setIfExists(m_ifExists, m_openedAt);
    const bool done = m_out->commit();
    const EncodeResult result = done ? EncodeResult{} : writeFailedResult(*m_out);
    m_placedName = done ? m_out->placedName() : QByteArray();
    m_out.reset();
    return result;
}

EncodeResult EncodeJob::run(std::stop_token stop, const Progress &progress)
{
    Id3Tags id3 = renderId3Tags(withTags(readAudioTags(*m_reader), m_tags));
    m_notice = id3.notice;
    m_cancel = false;
    const std::stop_callback cancelReads(stop, [this] { m_cancel = true; });
    m_reader->setCancel(&m_cancel);
    m_meter.reset();
    if (m_measure && id3.v2.isEmpty())
        id3.v2 = emptyId3v2Tag();
    const Progress tracked = [this, &progress](int frame) {
        if (m_ticket)
            m_ticket->done.store(frame);
        progress(frame);
    };
    // The file's turn for a core, in list order. It is cut into segments only where the rest of
    // the batch would leave cores idle while it ran in one piece.
    CorePool::Lease core(m_pool, m_ticket, stop);
    if (!core || stop.stop_requested())
        return stoppedResult();
    if (m_parallel && (!m_pool || !m_ticket || m_pool->worthCutting(*m_ticket, CutCost))) {
        core.release(); // its segments take cores of their own
        // Float input is scaled by its peak: found once, for every piece.
        if (m_reader->scalesItself() && !m_reader->floatPeak() && !m_reader->findFloatPeak())
            return stop.stop_requested()
                       ? stoppedResult()
                       : failedResult(rt::ErrDeviceIO, reasons::readFailed(m_reader->errorText()));
        m_out = std::make_unique<TempOutput>(TempOutput::Kind::Unnamed, m_folderFd);
        m_meter = m_measure ? newMeter() : nullptr;
        m_parallel->setMeter(m_meter.get());
        Mp3Layout file(*m_out, id3);
        if (auto result = m_parallel->run(file, m_outputPath, stop, tracked))
            return result->status == EncodeResult::Done ? writeTrackGain(id3.v2) : *result;
        // The segments did not join: encode the file in one piece after all.
        if (!core.retake(stop) || stop.stop_requested())
            return stoppedResult();
    }
    m_out = std::make_unique<TempOutput>(TempOutput::Kind::Unnamed, m_folderFd);
    Mp3Layout file(*m_out, id3);
    if (!file.begin(m_outputPath))
        return file.failed();
    return encodeWhole(file, core, stop, tracked);
}

EncodeResult EncodeJob::encodeWhole(Mp3Layout &file, CorePool::Lease &core,
                                    const std::stop_token &stop, const Progress &progress)
{
    BlockFeeder feeder(*m_reader, *m_encoder);
    m_meter = m_measure ? newMeter() : nullptr;
    if (m_meter) {
        feeder.setListener([meter = m_meter.get(),
                            scale = m_encoder->scale()](const int *left, const int *right, int n) {
            meter->addFullScale(left, right, n, scale);
        });
    }
    std::vector<unsigned char> mp3;
    int reported = 0;
    for (std::int64_t done = 0; done < m_reader->frames();) {
        // The core is kept from block to block unless a file before this one waits for it.
        if (!core.giveWay(stop) || stop.stop_requested())
            return stoppedResult();
        const auto want =
            int(std::min<std::int64_t>(feeder.blockFrames(), m_reader->frames() - done));
        mp3.clear();
        int got = want;
        const EncodeResult fed = feeder.feed(want, mp3, &got);
        if (stop.stop_requested())
            return stoppedResult(); // a cancelled read comes back short
        if (fed.status != EncodeResult::Done)
            return fed;
        if (!file.frames(mp3))
            return file.failed();
        done += got;
        if (m_encoder->frameNumber() != reported)
            progress(reported = m_encoder->frameNumber());
        if (got < want) { // an estimated length: the input really ends here
            if (m_reader->frames() - done > MaxShortfall)
                return failedResult(rt::ErrDeviceIO, reasons::InputEndedEarly);
            break;
        }
    }

    mp3.clear();
    if (!m_encoder->flush(mp3))
        return failedResult(rt::ErrDeviceIO, reasons::EncoderFailed);
    std::vector<unsigned char> infoTag = m_encoder->lametagFrame();
    // A tag laid out otherwise keeps its radio gain "not set", as LAME left it measuring nothing.
    if (m_meter && !infoTag.empty())
        infotag::setRadioGain(infoTag, radioGainField(*m_meter));
    if (!file.frames(mp3) || !file.finish(infoTag))
        return file.failed();
    // LAME's count came from the estimated length; the file holds what was encoded.
    m_frameCount = m_encoder->frameNumber();
    const EncodeResult gain = writeTrackGain(file.tags().v2);
    if (gain.status != EncodeResult::Done)
        return gain;
    progress(m_encoder->frameNumber());
    return {};
}

std::shared_ptr<LoudnessMeter> EncodeJob::newMeter() const
{
    const int channels =
        ChannelMixer(m_reader->channels(), m_reader->channelMap()).outputChannels();
    return std::make_shared<LoudnessMeter>(channels, m_reader->sampleRate());
}

// The track's frames go into the room the tag kept, in the unnamed file before it is named.
EncodeResult EncodeJob::writeTrackGain(const QByteArray &v2)
{
    if (!m_meter)
        return {};
    const std::optional<GainFigures> figures = trackFigures(*m_meter);
    if (!figures) {
        m_meter.reset(); // nothing of it can join an album either
        const QString unmeasured =
            QStringLiteral("无法测得响度（几乎全是静音），没有写入ReplayGain");
        m_notice = m_notice.isEmpty() ? unmeasured : m_notice + QStringLiteral("；") + unmeasured;
        return {};
    }
    QString error;
    const std::optional<QByteArray> tag =
        withGainFrames(v2, trackGainFrames(*figures), v2.size(), &error);
    if (!tag)
        return failedResult(rt::ErrInternal, reasons::internalError(error));
    if (!m_out->writeAt(0, tag->constData(), size_t(tag->size())))
        return writeFailedResult(*m_out);
    return {};
}
