// Open: a pair checked and made ready to encode, or a file encoded ahead taken for it.
#include "mp3enc/calc/reasons.h"
#include "mp3enc/component/encodetask.h"
#include "mp3enc/component/mp3enc.h"
#include "mp3enc/component/pairchecks.h"
#include "mp3enc/encode/encodejob.h"
#include "mp3enc/encode/lameencoder.h"
#include "mp3enc/encode/loudness.h"
#include "mp3enc/encode/loudnessmeter.h"
#include "mp3enc/encode/tempoutput.h"
#include "mp3enc/input/channelmixer.h"
#include "runtime/filename.h"

using namespace pairchecks;

void Mp3Enc::refuseWhileEncoding(const char *call) const
{
    if (m_running)
        refuse(rt::ErrInvalidCall, QStringLiteral("编码进行时不能调用%1").arg(QLatin1String(call)));
}

std::unique_ptr<EncodeJob> Mp3Enc::prepare(const FilePair &pair)
{
    auto reader = openInput(pair.input);
    if (pair.count > 0 && !reader->setPart(pair.first, pair.count))
        refuse(rt::ErrInvalidCall, reasons::PartOutside);
    if (reader->channels() > 2 && !m_downMix)
        refuse(rt::ErrInvalidCall, reasons::tooManyChannels(reader->channels()));
    checkOutput(*reader, pair.output);

    const LameEncoder::Settings settings = lameSettings(*reader);
    std::unique_ptr<LameEncoder> encoder = encoderFor(settings);

    auto job = std::make_unique<EncodeJob>(std::move(reader), std::move(encoder),
                                           rt::absolutePath(pair.output), pair.input);
    job->setTags(pair.tags);
    job->setIfExists(TempOutput::IfExists(m_ifExists));
    job->measureReplayGain(m_replayGain != NoReplayGain);
    // Whether it is cut is decided when it starts, by what the other cores have to do then.
    SegmentOptions segments;
    segments.threads = m_threads;
    job->allowSegments(settings, segments);
    return job;
}

LameEncoder::Settings Mp3Enc::lameSettings(const SndFileReader &reader) const
{
    LameEncoder::Settings settings;
    settings.sampleRate = reader.sampleRate();
    settings.channels = reader.channels() == 1 ? 1 : 2;
    settings.frames = std::uint64_t(reader.frames());
    settings.mode = m_rateMode == VariableRate  ? LameEncoder::Mode::Variable
                    : m_rateMode == AverageRate ? LameEncoder::Mode::Average
                                                : LameEncoder::Mode::Constant;
    settings.kbps = m_bitRate / 1000;
    settings.vbrQuality = m_vbrQuality;
    settings.outSampleRate = m_allowDownSample ? 0 : keptSampleRate(reader.sampleRate());
    // Measuring ReplayGain 2.0, the info tag's radio gain is its track gain: LAME's own analysis
    // would be spent on a second, different figure.
    settings.replayGain = m_replayGain == NoReplayGain;
    return settings;
}

std::unique_ptr<LameEncoder> Mp3Enc::encoderFor(const LameEncoder::Settings &settings) const
{
    auto encoder = std::make_unique<LameEncoder>();
    QString error;
    if (!encoder->init(settings, &error))
        refuse(rt::ErrInvalidCall, reasons::settingsRefused(error));
    return encoder;
}

void Mp3Enc::MeasureForAlbum(const QString &album, const FilePair &pair)
{
    auto reader = openInput(pair.input);
    if (pair.count > 0 && !reader->setPart(pair.first, pair.count))
        refuse(rt::ErrInvalidCall, reasons::PartOutside);
    if (reader->channels() > 2 && !m_downMix)
        refuse(rt::ErrInvalidCall, reasons::tooManyChannels(reader->channels()));
    const float scale = encoderFor(lameSettings(*reader))->scale();
    const int channels = ChannelMixer(reader->channels(), reader->channelMap()).outputChannels();
    ++m_measuring[album].left;
    m_measures->add({album, rt::absolutePath(pair.output), std::move(reader), scale, channels,
                     m_measureGeneration});
}

void Mp3Enc::Open(const QString &inputFile, const QString &outputFile)
{
    OpenPart({inputFile, outputFile, 0, 0, {}});
}

void Mp3Enc::OpenPart(const FilePair &pair)
{
    m_lastNotice.clear();
    setPlaced({});
    m_albumGain.setLast({}, nullptr);
    try {
        openPair(pair);
        m_lastError.clear();
    } catch (const rt::ComError &error) {
        m_lastError = error.description();
        throw;
    }
}

void Mp3Enc::openPair(const FilePair &pair)
{
    refuseWhileEncoding("Open");
    m_opened.reset();
    m_openedAhead.reset();
    m_frameCount = 0;
    // Checked now as if nothing had been encoded ahead: a file ahead is used only if Open
    // accepts the pair today, the input is still the file that was encoded and the output's
    // folder still the one it was encoded for.
    std::unique_ptr<EncodeJob> fresh;
    try {
        fresh = prepare(pair);
    } catch (const rt::ComError &) {
        takeAhead(pair);
        throw;
    }
    if (auto ahead = takeAhead(pair); ahead && !ahead->failed &&
                                      sameFileState(ahead->inputState, fresh->inputDescriptor()) &&
                                      sameFolder(ahead->folderState, fresh->folderDescriptor())) {
        m_openedAhead = std::move(ahead);
        m_frameCount = m_openedAhead->frameCount;
        return;
    }
    m_opened = std::move(fresh);
    m_openedPair = pair;
    m_frameCount = m_opened->frameCount();
}
