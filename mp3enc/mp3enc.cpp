#include "mp3enc/mp3enc.h"

#include "mp3enc/audiotags.h"
#include "mp3enc/channelmixer.h"
#include "mp3enc/cuesheetblock.h"
#include "mp3enc/encodejob.h"
#include "mp3enc/lameencoder.h"
#include "mp3enc/loudness.h"
#include "mp3enc/loudnessmeter.h"
#include "mp3enc/reasons.h"
#include "mp3enc/stopsignal.h"
#include "mp3enc/tempoutput.h"
#include "runtime/comerror.h"
#include "runtime/filename.h"

#include <QHash>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <fcntl.h>
#include <immintrin.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

// Lives on the creating thread; the worker queues deliveries to it. It may outlive its owner
// for a moment when the host destroys the component from inside an event.
//
// What a delivery carries goes through a mailbox under a mutex, and the queued call that wakes
// the pump carries nothing: a thread sanitizer cannot see the synchronisation inside Qt's event
// queue (Qt is not built for it), and a lambda's captures read on this side would be reported.
class EventPump : public QObject
{
    Q_OBJECT
public:
    struct Delivery
    {
        enum Kind
        {
            Frame,
            Failure,
            Ended,
            OutOfSpace,
            InputChanged
        } kind = Frame;
        quint64 generation = 0;
        int number = 0;
        QString text;
        QString notice; // of a file that converted
    };

    explicit EventPump(Mp3Enc *owner) : m_owner(owner) {}

    // Worker side. One queued call per delivery, so a nested event loop in the host's handler
    // (a message box) still receives the ones behind it.
    void post(Delivery delivery)
    {
        {
            std::lock_guard lock(m_mutex);
            m_mailbox.push_back(std::move(delivery));
        }
        QMetaObject::invokeMethod(this, "deliverNext", Qt::QueuedConnection);
    }

    Q_INVOKABLE void deliverNext()
    {
        Delivery delivery;
        {
            std::lock_guard lock(m_mutex);
            if (m_mailbox.empty())
                return;
            delivery = std::move(m_mailbox.front());
            m_mailbox.pop_front();
        }
        if (!m_owner)
            return;
        switch (delivery.kind) {
        case Delivery::Frame:
            m_owner->deliverFrame(delivery.generation);
            break;
        case Delivery::Failure:
            m_owner->deliverFailure(delivery.generation, delivery.number, delivery.text);
            break;
        case Delivery::Ended:
            m_owner->deliverEnded(delivery.generation, delivery.text, delivery.notice);
            break;
        case Delivery::OutOfSpace:
            m_owner->deliverOutOfSpace(delivery.generation, delivery.number, delivery.text);
            break;
        case Delivery::InputChanged:
            m_owner->deliverInputChanged(delivery.generation, delivery.number, delivery.text);
            break;
        }
    }

    Mp3Enc *m_owner;
    int m_delivering = 0;

private:
    std::mutex m_mutex;
    std::deque<Delivery> m_mailbox;
};

// One encode on a thread of its own: the file being converted, or one encoded ahead of its turn,
// whose output stays unnamed until the host opens and encodes that pair.
struct EncodeTask
{
    ~EncodeTask() { abandon(); }
    void requestStop()
    {
        stop.request(); // wakes the encode wherever it waits
        {
            std::lock_guard lock(mutex); // runTask looks at the signal under it before it sleeps
        }
        changed.notify_all();
    }
    // Stops it, and its output with it; waits for its thread.
    void abandon()
    {
        requestStop();
        if (thread.joinable())
            thread.join();
    }

    FilePair pair;
    struct stat inputState = {};  // as it was opened
    struct stat folderState = {}; // the output's folder, as it was opened
    EncodeSettings settings;
    int frameCount = 0;
    std::unique_ptr<EncodeJob> job;
    std::thread thread;
    StopSignal stop;
    std::atomic<bool> claimed{false};   // the file being converted
    std::atomic<bool> failed{false};    // ended in failure: not taken at its turn
    bool retried = false;               // started over once after running out of space
    std::atomic<quint64> generation{0}; // set before `claimed`
    std::atomic<int> newestFrame{0};
    std::mutex mutex;
    std::condition_variable changed;
};

namespace {

constexpr int ErrInvalidFileFormat = 321;
constexpr int MinBitRate = 8000;
constexpr int MaxBitRate = 320000;
constexpr int MaxVbrQuality = 9;
constexpr int MaxThreads = 256;

struct DeliveryScope
{
    explicit DeliveryScope(EventPump *pump) : m_pump(pump) { ++m_pump->m_delivering; }
    ~DeliveryScope() { --m_pump->m_delivering; }
    EventPump *m_pump;
};

[[noreturn]] void refuse(int number, const QString &text)
{
    throw rt::ComError(number, text);
}

std::unique_ptr<SndFileReader> openInput(const QString &path)
{
    const QByteArray bytes = rt::encodeFileName(path);
    struct stat st = {};
    if (path.isEmpty() || ::stat(bytes.constData(), &st) != 0)
        refuse(rt::ErrFileNotFound, reasons::NotFound);
    if (!S_ISREG(st.st_mode)) // a folder, a device or a pipe, which could block the reader
        refuse(ErrInvalidFileFormat, reasons::NotRegular);
    if (::access(bytes.constData(), R_OK) != 0)
        refuse(rt::ErrPermissionDenied, reasons::Unreadable);
    auto reader = std::make_unique<SndFileReader>();
    if (!reader->open(path))
        refuse(ErrInvalidFileFormat, reasons::notAudio(reader->errorText()));
    if (!reader->isEncodable())
        refuse(ErrInvalidFileFormat, reasons::AlreadyMp3);
    if (reader->frames() <= 0)
        refuse(ErrInvalidFileFormat, reasons::NoSound);
    return reader;
}

void checkOutput(const SndFileReader &input, const QString &output)
{
    // "dir/" names no file in dir: the folder is checked, and the empty name refused.
    const QString path = rt::absolutePath(output);
    const qsizetype slash = path.lastIndexOf(u'/');
    const QString folder = output.endsWith(u'/') ? path : path.left(std::max<qsizetype>(slash, 1));
    const QString name = output.endsWith(u'/') ? QString() : path.mid(slash + 1);
    const QByteArray folderBytes = rt::encodeFileName(folder);
    const QByteArray outputBytes = rt::encodeFileName(path);
    struct stat st = {};
    if (output.isEmpty() || ::stat(folderBytes.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        refuse(rt::ErrPathNotFound, reasons::FolderMissing);
    if (::access(folderBytes.constData(), W_OK | X_OK) != 0)
        refuse(rt::ErrPermissionDenied, reasons::FolderNotWritable);
    const bool exists = !name.isEmpty() && ::stat(outputBytes.constData(), &st) == 0;
    if (name.isEmpty() || (exists && S_ISDIR(st.st_mode)))
        refuse(rt::ErrPathFileAccess, reasons::NamesFolder);
    const long nameMax = ::pathconf(folderBytes.constData(), _PC_NAME_MAX);
    if (nameMax > 0 && rt::encodeFileName(name).size() > nameMax)
        refuse(rt::ErrBadFileName, reasons::nameTooLong(nameMax));
    if (exists && TempOutput::isWriteProtected(AT_FDCWD, outputBytes.constData(), st))
        refuse(rt::ErrPermissionDenied, reasons::Protected);
    // Inode identity catches other spellings, symbolic and hard links alike.
    struct stat in = {};
    if (exists && ::fstat(input.descriptor(), &in) == 0 && in.st_dev == st.st_dev &&
        in.st_ino == st.st_ino)
        refuse(rt::ErrPathFileAccess, reasons::OverwritesInput);
}

// The input's own rate when MP3 has it, else the nearest MP3 rate below it.
int keptSampleRate(int inputRate)
{
    constexpr int Mp3Rates[] = {48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};
    for (int rate : Mp3Rates) {
        if (rate <= inputRate)
            return rate;
    }
    return 8000;
}

// The same folder: the one a file ahead was encoded for is still the one under the path.
bool sameFolder(const struct stat &before, int descriptor)
{
    struct stat now = {};
    return descriptor >= 0 && ::fstat(descriptor, &now) == 0 && now.st_dev == before.st_dev &&
           now.st_ino == before.st_ino;
}

qint64 toFrames(const QVariant &value)
{
    bool ok = false;
    const qint64 frames = value.toLongLong(&ok);
    if (!ok || frames < 0)
        refuse(rt::ErrTypeMismatch, QStringLiteral("类型不符"));
    return frames;
}

bool toBool(const QVariant &value)
{
    if (!value.canConvert<bool>())
        refuse(rt::ErrTypeMismatch, QStringLiteral("类型不符"));
    return value.toBool();
}

// An integer from `low` to `high`, else refused with what it is for.
int toIntIn(const QVariant &value, int low, int high, const QString &what)
{
    bool ok = false;
    const int number = value.toInt(&ok);
    if (!ok)
        refuse(rt::ErrTypeMismatch, QStringLiteral("类型不符"));
    if (number < low || number > high)
        refuse(rt::ErrInvalidCall,
               QStringLiteral("%1%2超出了%3–%4的范围").arg(what).arg(number).arg(low).arg(high));
    return number;
}

QString toText(const QVariant &value)
{
    if (!value.canConvert<QString>())
        refuse(rt::ErrTypeMismatch, QStringLiteral("类型不符"));
    return value.toString();
}

// OpenPart's and PrefetchPart's arguments.
FilePair partOf(const QVariantList &args)
{
    const qint64 count = toFrames(args[3]);
    if (count == 0)
        refuse(rt::ErrInvalidCall, reasons::PartOutside);
    return {toText(args[0]), toText(args[1]), toFrames(args[2]), count, args[4].toMap()};
}

} // namespace

Mp3Enc::Mp3Enc(rt::ControlSite *site) : rt::Control(site), m_pump(new EventPump(this))
{}

Mp3Enc::~Mp3Enc()
{
    Stop();
    if (m_pump->m_delivering > 0) {
        // Destroyed by the host from inside one of our events: let that delivery unwind first.
        m_pump->m_owner = nullptr;
        m_pump->deleteLater();
    } else {
        delete m_pump; // also drops whatever is still queued for it
    }
}

QList<rt::MemberInfo> Mp3Enc::members() const
{
    const auto member = [](rt::DispId id, const char *name, rt::MemberKind kind,
                           QStringList parameters, const char *help) {
        rt::MemberInfo info;
        info.id = id;
        info.name = QLatin1String(name);
        info.kind = kind;
        info.canGet = kind == rt::MemberKind::Property;
        info.canPut = info.canGet && id != IdLastError && id != IdLastNotice &&
                      id != IdLastOutput && id != IdTrackGain && id != IdTrackPeak;
        info.parameters = std::move(parameters);
        info.help = QLatin1String(help);
        return info;
    };
    using enum rt::MemberKind;
    return {
        member(IdBitRate, "BitRate", Property, {},
               "Bit rate in bit/s, for files opened later: every frame's at a constant rate, "
               "the average at an average rate"),
        member(IdRateMode, "RateMode", Property, {},
               "For files opened later: 0 a constant rate (BitRate), 1 a variable rate "
               "(VbrQuality), 2 an average rate (BitRate)"),
        member(IdVbrQuality, "VbrQuality", Property, {},
               "The variable rate's quality, 0 (largest files) to 9 (smallest), as lame -V"),
        member(IdDownMix, "DownMix", Property, {},
               "Mix more than two channels down to stereo instead of refusing them"),
        member(IdAllowDownSample, "AllowDownSample", Property, {},
               "Let the encoder lower the sample rate to suit the bit rate"),
        member(IdEncode, "Encode", Method, {}, "Start encoding the opened pair in the background"),
        member(IdStop, "Stop", Method, {}, "End a running encode and discard its output"),
        member(IdOpen, "Open", Method, {QStringLiteral("InputFile"), QStringLiteral("OutputFile")},
               "Check and open an audio input (WAV, FLAC, AIFF, Ogg, ...) and an MP3 output"),
        member(IdGetFrameCount, "GetFrameCount", Method, {},
               "Number of MP3 frames the opened pair gives"),
        member(IdThreads, "Threads", Property, {},
               "Cores one file is encoded on, for files opened later: 0 all, 1 the file in one "
               "piece, exactly as the lame command writes it"),
        member(IdLastError, "LastError", Property, {},
               "Why the last Open or Encode, or the encode it started, failed, in the words a "
               "user reads; empty after a success"),
        member(IdLastNotice, "LastNotice", Property, {},
               "What of its input's tags the last file converted lacks (a cover too large to "
               "carry), in the words a user reads; empty when nothing was left out or the file "
               "did not convert"),
        member(IdIfExists, "IfExists", Property, {},
               "What is done with a file standing under the output's name when the MP3 is put "
               "in place: 0 replace it, 1 leave it and write nothing, 2 take the next free "
               "\"name (N).mp3\", 3 replace it only if it stood there unchanged when the input was "
               "opened (one written since is left)"),
        member(IdLastOutput, "LastOutput", Property, {},
               "Where the last file opened was put in place (the output, or the free name taken "
               "for it); empty until then, and when the file standing there was left"),
        member(IdOpenPart, "OpenPart", Method,
               {QStringLiteral("InputFile"), QStringLiteral("OutputFile"),
                QStringLiteral("FirstFrame"), QStringLiteral("FrameCount"), QStringLiteral("Tags")},
               "Open for a part of the input (a track of an album in one file), as if it were a "
               "file of its own, with tags over the input's own"),
        member(IdPrefetchPart, "PrefetchPart", Method,
               {QStringLiteral("InputFile"), QStringLiteral("OutputFile"),
                QStringLiteral("FirstFrame"), QStringLiteral("FrameCount"), QStringLiteral("Tags")},
               "Prefetch for a part of the input"),
        member(IdCueSheet, "EmbeddedCueSheet", Method, {QStringLiteral("InputFile")},
               "The cue sheet a FLAC file carries (its CUESHEET comment, or its cue sheet block "
               "written out as text); empty when it has none"),
        member(IdAudioLength, "AudioLength", Method, {QStringLiteral("InputFile")},
               "The input's sample rate and length in frames"),
        member(IdTags, "Tags", Method, {QStringLiteral("InputFile")},
               "The tags an input's MP3 would carry, by field: title, artist, album, "
               "albumartist, date, track, disc, genre"),
        member(IdPrefetch, "Prefetch", Method,
               {QStringLiteral("InputFile"), QStringLiteral("OutputFile")},
               "A pair the host will open later, which may be encoded ahead on idle cores and is "
               "written when Open and Encode reach it"),
        member(IdReplayGain, "ReplayGain", Property, {},
               "ReplayGain 2.0 frames for files opened later: 0 none, 1 the track's gain and "
               "peak, 2 also its album's (AddToAlbum, WriteAlbumGain)"),
        member(IdTrackGain, "TrackGain", Property, {},
               "The last file converted's ReplayGain track gain in dB; empty when not measured"),
        member(IdTrackPeak, "TrackPeak", Property, {},
               "The last file converted's sample peak, 1.0 full scale; empty when not measured"),
        member(IdAddToAlbum, "AddToAlbum", Method, {QStringLiteral("Album")},
               "The last file converted belongs to this album; false when it was not measured"),
        member(IdWriteAlbumGain, "WriteAlbumGain", Method, {QStringLiteral("Album")},
               "Writes the album's gain and peak into every MP3 added to it, and forgets it; "
               "returns the MP3s that could not be rewritten, with the reasons"),
        member(IdMeasureForAlbum, "MeasureForAlbum", Method,
               {QStringLiteral("Album"), QStringLiteral("InputFile"), QStringLiteral("Mp3File"),
                QStringLiteral("FirstFrame"), QStringLiteral("FrameCount")},
               "An MP3 kept as it is belongs to this album: its input (or the part of it) is "
               "measured as the encoder would hear it, not encoded; false when nothing could "
               "be measured"),
        member(IdForgetAlbum, "ForgetAlbum", Method, {QStringLiteral("Album")},
               "Drops what was measured of an album whose gain will not be written"),
        member(EventActFrame, "ActFrame", Event, {QStringLiteral("ActFrame")},
               "One more MP3 frame is written"),
        member(EventThreadEnded, "ThreadEnded", Event, {}, "The encode has ended"),
        member(EventFailure, "Failure", Event,
               {QStringLiteral("ErrCode"), QStringLiteral("ErrStr")},
               "The encode failed; ThreadEnded follows"),
    };
}

QVariant Mp3Enc::getProperty(rt::DispId id)
{
    switch (id) {
    case IdBitRate:
        return m_bitRate;
    case IdDownMix:
        return m_downMix;
    case IdAllowDownSample:
        return m_allowDownSample;
    case IdThreads:
        return m_threads;
    case IdRateMode:
        return m_rateMode;
    case IdVbrQuality:
        return m_vbrQuality;
    case IdLastError:
        return m_lastError;
    case IdLastNotice:
        return m_lastNotice;
    case IdIfExists:
        return m_ifExists;
    case IdLastOutput: {
        std::lock_guard lock(m_placedMutex);
        return m_placed;
    }
    case IdReplayGain:
        return m_replayGain;
    case IdTrackGain:
    case IdTrackPeak: {
        const std::optional<GainFigures> track = m_albumGain.lastTrack();
        return track ? QVariant(id == IdTrackGain ? track->gain : track->peak) : QVariant();
    }
    default:
        refuse(rt::ErrNoSuchMember, QStringLiteral("编码组件没有这个属性"));
    }
}

void Mp3Enc::putProperty(rt::DispId id, const QVariant &value)
{
    switch (id) {
    case IdBitRate:
        m_bitRate = toIntIn(value, MinBitRate, MaxBitRate, QStringLiteral("比特率"));
        break;
    case IdRateMode:
        m_rateMode = toIntIn(value, ConstantRate, AverageRate, QStringLiteral("比特率方式"));
        break;
    case IdVbrQuality:
        m_vbrQuality = toIntIn(value, 0, MaxVbrQuality, QStringLiteral("可变比特率的质量"));
        break;
    case IdDownMix:
        m_downMix = toBool(value);
        break;
    case IdAllowDownSample:
        m_allowDownSample = toBool(value);
        break;
    case IdThreads:
        m_threads = toIntIn(value, 0, MaxThreads, QStringLiteral("线程数"));
        break;
    case IdIfExists:
        m_ifExists =
            toIntIn(value, ReplaceExisting, ReplaceOlder, QStringLiteral("同名文件的处理方式"));
        break;
    case IdReplayGain:
        m_replayGain = toIntIn(value, NoReplayGain, AlbumGain, QStringLiteral("ReplayGain"));
        break;
    default:
        refuse(rt::ErrNoSuchMember, QStringLiteral("编码组件没有这个属性"));
    }
}

QVariant Mp3Enc::invoke(rt::DispId id, const QVariantList &args)
{
    // The methods and how many arguments each takes.
    static const QHash<rt::DispId, qsizetype> Arguments = {
        {IdEncode, 0},          {IdStop, 0},        {IdOpen, 2},       {IdGetFrameCount, 0},
        {IdPrefetch, 2},        {IdTags, 1},        {IdOpenPart, 5},   {IdPrefetchPart, 5},
        {IdCueSheet, 1},        {IdAudioLength, 1}, {IdAddToAlbum, 1}, {IdWriteAlbumGain, 1},
        {IdMeasureForAlbum, 5}, {IdForgetAlbum, 1}};
    const auto known = Arguments.constFind(id);
    if (known == Arguments.constEnd())
        refuse(rt::ErrNoSuchMember, QStringLiteral("编码组件没有这个方法"));
    const qsizetype expected = *known;
    if (args.size() != expected)
        refuse(rt::ErrWrongArgumentCount, QStringLiteral("参数个数不对"));
    switch (id) {
    case IdEncode:
        Encode();
        break;
    case IdStop:
        Stop();
        break;
    case IdOpen:
        Open(toText(args[0]), toText(args[1]));
        break;
    case IdPrefetch:
        Prefetch({toText(args[0]), toText(args[1]), 0, 0, {}});
        break;
    case IdOpenPart:
        OpenPart(partOf(args));
        break;
    case IdPrefetchPart:
        Prefetch(partOf(args));
        break;
    case IdCueSheet:
        return EmbeddedCueSheet(toText(args[0]));
    case IdAudioLength:
        return AudioLength(toText(args[0]));
    case IdTags:
        return Tags(toText(args[0]));
    case IdAddToAlbum:
        return m_albumGain.addLast(toText(args[0]));
    case IdWriteAlbumGain:
        refuseWhileEncoding("WriteAlbumGain"); // the album's last MP3 must be in place
        return m_albumGain.write(toText(args[0])).join(u'\n');
    case IdMeasureForAlbum: {
        return MeasureForAlbum(
            toText(args[0]),
            {toText(args[1]), toText(args[2]), toFrames(args[3]), toFrames(args[4]), {}});
    }
    case IdForgetAlbum:
        m_albumGain.forget(toText(args[0]));
        break;
    default:
        return GetFrameCount();
    }
    return QVariant::fromValue<qint16>(0);
}

void Mp3Enc::refuseWhileEncoding(const char *call) const
{
    if (m_running)
        refuse(rt::ErrInvalidCall, QStringLiteral("编码进行时不能调用%1").arg(QLatin1String(call)));
}

std::unique_ptr<EncodeJob> Mp3Enc::prepare(const FilePair &pair, bool ahead)
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
    SegmentOptions segments;
    segments.threads =
        ahead && settings.frames < std::uint64_t(AheadSplitSeconds) * settings.sampleRate
            ? 1
            : m_threads;
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

bool Mp3Enc::MeasureForAlbum(const QString &album, const FilePair &pair)
{
    auto reader = openInput(pair.input);
    if (pair.count > 0 && !reader->setPart(pair.first, pair.count))
        refuse(rt::ErrInvalidCall, reasons::PartOutside);
    if (reader->channels() > 2 && !m_downMix)
        refuse(rt::ErrInvalidCall, reasons::tooManyChannels(reader->channels()));
    const float scale = encoderFor(lameSettings(*reader))->scale();
    // Float input the reader scales by its peak is measured as it would be encoded.
    const std::atomic<bool> never{false};
    if (reader->scalesItself() && !reader->floatPeak() && !reader->findFloatPeak())
        refuse(rt::ErrDeviceIO, reasons::readFailed(reader->errorText()));
    const int channels = ChannelMixer(reader->channels(), reader->channelMap()).outputChannels();
    auto meter = std::make_shared<LoudnessMeter>(channels, reader->sampleRate());
    QString error;
    if (!measureAsLame(*reader, scale, *meter, never, &error))
        refuse(rt::ErrDeviceIO, error);
    if (!trackFigures(*meter))
        return false;
    m_albumGain.add(album, rt::absolutePath(pair.output), std::move(meter));
    return true;
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

namespace {

// A file-size limit would otherwise kill the host in the middle of a write; ignored, the write
// fails with EFBIG and the file fails like any other write error. A handler the host installed
// itself is left alone.
void surviveFileSizeLimit()
{
    struct sigaction current = {};
    if (::sigaction(SIGXFSZ, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
        std::signal(SIGXFSZ, SIG_IGN);
}

} // namespace

int Mp3Enc::cores() const
{
    return m_threads > 0 ? m_threads : std::max(1, int(std::thread::hardware_concurrency()));
}

void Mp3Enc::Encode()
{
    m_lastNotice.clear();
    try {
        start();
        m_lastError.clear();
    } catch (const rt::ComError &error) {
        m_lastError = error.description();
        throw;
    }
}

void Mp3Enc::start()
{
    refuseWhileEncoding("Encode");
    if (!m_opened && !m_openedAhead)
        refuse(rt::ErrInvalidCall, QStringLiteral("Encode之前没有用Open打开文件"));
    if (m_current && m_current->thread.joinable())
        m_current->thread.join();
    m_pool.setCores(cores());
    m_newestFrame = 0;
    m_framePosted = false;
    m_lastFrame = 0;
    m_running = true;
    surviveFileSizeLimit();
    if (m_openedAhead) {
        m_current = std::move(m_openedAhead);
        claim(*m_current);
        return;
    }
    m_current = std::make_unique<EncodeTask>();
    m_current->pair = m_openedPair;
    m_current->job = std::move(m_opened);
    m_current->generation = ++m_generation;
    startCurrent();
}

void Mp3Enc::startCurrent()
{
    m_current->claimed = true;
    m_current->job->schedule(&m_pool, &m_current->claimed);
    m_current->thread = std::thread(&Mp3Enc::runTask, this, m_current.get());
}

// The file being converted ran out of space. Files encoded ahead hold space of their own: they
// give way (their temporaries go; each is encoded again at its turn) and the file starts over,
// once, so a full disk takes the later files, in list order, as it would one file at a time.
void Mp3Enc::deliverOutOfSpace(quint64 generation, int number, const QString &text)
{
    if (generation != m_generation)
        return;
    if (m_current && !m_current->retried && !m_ahead.empty()) {
        for (auto &task : m_ahead)
            task->requestStop();
        m_ahead.clear(); // waits for each: their temporaries are gone with them
        if (startOver())
            return; // else it fails as it did, for lack of space
    }
    m_pump->post({EventPump::Delivery::Failure, generation, number, text, {}});
    m_pump->post({EventPump::Delivery::Ended, generation, 0, text, {}});
}

// The file in hand is encoded again from the start, once, its pair opened and checked anew; false
// when Open would now refuse it, with the reason in `number` and `text` if asked for.
bool Mp3Enc::startOver(int *number, QString *text)
{
    if (m_current->thread.joinable())
        m_current->thread.join();
    std::unique_ptr<EncodeJob> job;
    try {
        job = prepare(m_current->pair);
    } catch (const rt::ComError &error) {
        if (number)
            *number = error.number();
        if (text)
            *text = error.description();
        return false;
    }
    auto again = std::make_unique<EncodeTask>();
    again->pair = m_current->pair;
    again->job = std::move(job);
    again->generation = m_current->generation.load();
    again->retried = true;
    m_current = std::move(again);
    startCurrent();
    return true;
}

// The input was replaced or written to while it was read: its MP3 would hold old or mixed audio.
// It is encoded again from what is there now, once; changed again, it is not converted.
void Mp3Enc::deliverInputChanged(quint64 generation, int number, const QString &text)
{
    if (generation != m_generation)
        return;
    int failure = number;
    QString reason = text;
    if (m_current && !m_current->retried) {
        m_newestFrame = 0;
        m_lastFrame = 0;
        if (startOver(&failure, &reason)) {
            m_frameCount = m_current->job->frameCount();
            return;
        }
    }
    m_pump->post({EventPump::Delivery::Failure, generation, failure, reason, {}});
    m_pump->post({EventPump::Delivery::Ended, generation, 0, reason, {}});
}

// A file encoded ahead becomes the current one: it goes first for cores from now on, its progress
// reaches the host, and once encoded it is written.
void Mp3Enc::claim(EncodeTask &task)
{
    const int newest = task.newestFrame.load();
    m_newestFrame = newest;
    {
        std::lock_guard lock(task.mutex);
        task.generation = ++m_generation;
        task.claimed = true;
    }
    task.changed.notify_all();
    if (newest > 0)
        postFrame(task.generation.load()); // shown at once, however far it got
}

void Mp3Enc::Prefetch(const FilePair &pair)
{
    if (cores() <= 1)
        return;
    const EncodeSettings now = settings();
    for (auto it = m_ahead.begin(); it != m_ahead.end(); ++it) {
        EncodeTask &task = **it;
        if (!task.pair.samePart(pair))
            continue;
        if (task.pair == pair && task.settings == now)
            return;
        // The host has since chosen another output or other settings for this file.
        task.abandon();
        m_ahead.erase(it);
        break;
    }
    if (m_ahead.size() >= MaxAhead)
        return;
    auto task = std::make_unique<EncodeTask>();
    try {
        task->job = prepare(pair, true);
    } catch (const rt::ComError &) {
        return; // Open refuses it when its turn comes, and says why
    }
    task->pair = pair;
    task->settings = now;
    task->frameCount = task->job->frameCount();
    if (::fstat(task->job->inputDescriptor(), &task->inputState) != 0 ||
        ::fstat(task->job->folderDescriptor(), &task->folderState) != 0)
        return;
    m_pool.setCores(cores());
    task->job->schedule(&m_pool, &task->claimed);
    task->thread = std::thread(&Mp3Enc::runTask, this, task.get());
    m_ahead.push_back(std::move(task));
}

QString Mp3Enc::EmbeddedCueSheet(const QString &inputFile) const
{
    // Only the metadata blocks are read: asked of every FLAC file in a library, it must be cheap.
    const int fd =
        ::open(rt::encodeFileName(inputFile).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {}; // Open says why when the file's turn comes
    struct stat st = {};
    const QString sheet =
        ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? embeddedCueSheet(fd) : QString();
    ::close(fd);
    return sheet;
}

QVariantList Mp3Enc::AudioLength(const QString &inputFile) const
{
    const auto reader = openInput(inputFile);
    return {reader->sampleRate(), qint64(reader->frames())};
}

QVariantMap Mp3Enc::Tags(const QString &inputFile) const
{
    const AudioTags tags = readAudioTags(*openInput(inputFile));
    return {
        {QStringLiteral("title"), tags.title}, {QStringLiteral("artist"), tags.artist},
        {QStringLiteral("album"), tags.album}, {QStringLiteral("albumartist"), tags.albumArtist},
        {QStringLiteral("date"), tags.date},   {QStringLiteral("track"), tags.track},
        {QStringLiteral("disc"), tags.disc},   {QStringLiteral("genre"), tags.genre}};
}

EncodeSettings Mp3Enc::settings() const
{
    return {m_rateMode,        m_vbrQuality, m_bitRate,  m_downMix,
            m_allowDownSample, m_threads,    m_ifExists, m_replayGain};
}

// The pair Open reached, if it was encoded ahead with today's settings. The files ahead of it,
// which the host passed over, and an older version of it are dropped.
std::unique_ptr<EncodeTask> Mp3Enc::takeAhead(const FilePair &pair)
{
    const EncodeSettings now = settings();
    std::unique_ptr<EncodeTask> found;
    std::size_t passed = 0;
    for (std::size_t i = 0; i < m_ahead.size() && !found; ++i) {
        EncodeTask &task = *m_ahead[i];
        if (task.pair == pair && task.settings == now) {
            found = std::move(m_ahead[i]);
            passed = i + 1;
        }
    }
    for (std::size_t k = 0; k < m_ahead.size(); ++k) {
        if (m_ahead[k] && (k < passed || m_ahead[k]->pair.samePart(pair)))
            m_ahead[k].reset(); // abandons it
    }
    std::erase(m_ahead, nullptr);
    return found;
}

void Mp3Enc::Stop()
{
    // All at once, so they stop side by side rather than one after another.
    for (auto &task : m_ahead)
        task->requestStop();
    if (m_openedAhead)
        m_openedAhead->requestStop();
    if (m_current)
        m_current->requestStop();
    for (auto &task : m_ahead)
        task->abandon();
    m_ahead.clear();
    m_openedAhead.reset();
    if (m_current)
        m_current->abandon();
    m_current.reset();
    m_running = false;
    ++m_generation; // whatever the stopped encode still had queued is now dropped
}

namespace {

__attribute__((target("avx"))) void zeroUpper()
{
    _mm256_zeroupper();
}

// The input was replaced or written to while it was read.
EncodeResult inputChangedResult()
{
    EncodeResult changed = failedResult(rt::ErrDeviceIO, reasons::InputChanged);
    changed.inputChanged = true;
    return changed;
}

// A step of an encode whose exceptions fail the file, not the host.
template <class Step> EncodeResult guarded(Step step)
{
    try {
        return step();
    } catch (const std::bad_alloc &) {
        return {EncodeResult::Failed, rt::ErrOverflow, reasons::OutOfMemory};
    } catch (const rt::ComError &error) {
        return {EncodeResult::Failed, error.number(), error.description()};
    } catch (const std::exception &error) {
        return {EncodeResult::Failed, rt::ErrInternal,
                reasons::internalError(QString::fromLocal8Bit(error.what()))};
    }
}

// A new thread inherits its creator's vector registers. When the user-interface thread left the
// upper halves of its AVX registers in use, every SSE instruction of the encoder pays for the
// mixed state (measured: LAME about 10 % slower); clearing it once avoids that.
void clearUpperVectorState()
{
    if (__builtin_cpu_supports("avx"))
        zeroUpper();
}

} // namespace

void Mp3Enc::runTask(EncodeTask *task)
{
    clearUpperVectorState();
    // A progress display needs no more than a few dozen updates a second; each one wakes the
    // host's thread. A file ahead of its turn keeps its progress to itself.
    using Clock = std::chrono::steady_clock;
    constexpr auto ProgressInterval = std::chrono::milliseconds(20);
    Clock::time_point nextPost{};
    const auto progress = [&](int frame) {
        task->newestFrame.store(frame);
        if (!task->claimed.load())
            return;
        m_newestFrame.store(frame);
        if (const auto now = Clock::now(); now >= nextPost) {
            nextPost = now + ProgressInterval;
            postFrame(task->generation.load());
        }
    };
    EncodeResult result = guarded([&] { return task->job->run(task->stop, progress); });
    QString notice;
    if (result.status == EncodeResult::Failed)
        task->failed = true;
    // Written only when its turn comes: a file ahead waits to be claimed (or dropped).
    {
        std::unique_lock lock(task->mutex);
        task->changed.wait(lock, [&] { return task->claimed.load() || task->stop.requested(); });
    }
    if (task->stop.requested())
        result.status = EncodeResult::Stopped;
    else if (result.status == EncodeResult::Done && !task->job->inputUnchanged())
        result = inputChangedResult(); // old or mixed audio: encoded again, or not converted
    else if (result.status == EncodeResult::Done)
        result = guarded([&] { return task->job->commit(); });
    if (result.status == EncodeResult::Done) {
        m_frameCount.store(task->job->frameCount());
        m_newestFrame.store(task->job->frameCount());
        const QByteArray name = task->job->placedName();
        if (!name.isEmpty()) {
            const QString &output = task->pair.output;
            const QString placed =
                output.left(output.lastIndexOf(u'/') + 1) + rt::decodeFileName(name);
            m_albumGain.setLast(placed, task->job->loudness());
            setPlaced(placed);
            notice = task->job->notice();
        }
    }
    task->job.reset(); // files closed (and a temporary removed) before the host hears of the end
    if (result.status == EncodeResult::Stopped)
        return;
    const quint64 generation = task->generation.load();
    if (result.status == EncodeResult::Failed &&
        (result.errorNumber == rt::ErrDiskFull || result.inputChanged)) {
        const auto kind = result.inputChanged ? EventPump::Delivery::InputChanged
                                              : EventPump::Delivery::OutOfSpace;
        m_pump->post({kind, generation, result.errorNumber, result.errorText, {}});
        return;
    }
    if (result.status == EncodeResult::Failed)
        postFailure(generation, result.errorNumber, result.errorText);
    else
        postFrame(generation); // the last number always reaches the host, before ThreadEnded
    if (result.status == EncodeResult::Failed)
        postEnded(generation, result.errorText, {});
    else
        postEnded(generation, {}, notice);
}

void Mp3Enc::setPlaced(const QString &path)
{
    std::lock_guard lock(m_placedMutex);
    m_placed = path;
}

void Mp3Enc::postFrame(quint64 generation)
{
    if (m_framePosted.exchange(true))
        return; // the waiting one will carry the newest number
    m_pump->post({EventPump::Delivery::Frame, generation, 0, {}, {}});
}

void Mp3Enc::postFailure(quint64 generation, int number, const QString &text)
{
    m_pump->post({EventPump::Delivery::Failure, generation, number, text, {}});
}

void Mp3Enc::postEnded(quint64 generation, const QString &failure, const QString &notice)
{
    m_pump->post({EventPump::Delivery::Ended, generation, 0, failure, notice});
}

void Mp3Enc::deliverFrame(quint64 generation)
{
    if (generation != m_generation)
        return;
    m_framePosted.store(false);
    const int frame = m_newestFrame.load();
    if (frame <= m_lastFrame)
        return;
    m_lastFrame = frame;
    QVariantList args{frame};
    DeliveryScope scope(m_pump);
    raiseEvent(EventActFrame, args); // the host may destroy us in here: touch nothing after
}

void Mp3Enc::deliverFailure(quint64 generation, int number, const QString &text)
{
    if (generation != m_generation)
        return;
    QVariantList args{number, text};
    DeliveryScope scope(m_pump);
    raiseEvent(EventFailure, args);
}

void Mp3Enc::deliverEnded(quint64 generation, const QString &failure, const QString &notice)
{
    if (generation != m_generation)
        return;
    m_lastError = failure;
    m_lastNotice = notice;
    if (m_current && m_current->thread.joinable())
        m_current->thread.join(); // it has nothing left to do but return
    m_current.reset();
    m_running = false;
    DeliveryScope scope(m_pump);
    raiseEvent(EventThreadEnded); // the host may Open and Encode the next file in here
}

#include "mp3enc.moc"
