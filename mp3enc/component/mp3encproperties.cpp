// The component's face: its members, properties and the calls that only read a file.
#include "mp3enc/calc/reasons.h"
#include "mp3enc/component/mp3enc.h"
#include "mp3enc/component/pairchecks.h"
#include "mp3enc/encode/encodejob.h"
#include "mp3enc/encode/lameencoder.h"
#include "mp3enc/input/sndfilereader.h"
#include "mp3enc/tags/audiotags.h"
#include "mp3enc/tags/cuesheetblock.h"
#include "mp3enc/tags/gainframes.h"
#include "mp3enc/tags/id3tag.h"
#include "mp3enc/tags/retag.h"
#include "runtime/filename.h"

#include <QHash>
#include <fcntl.h>
#include <limits>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

using pairchecks::openInput;
using pairchecks::refuse;

namespace {

constexpr int MinBitRate = 8000;
constexpr int MaxBitRate = 320000;
constexpr int MaxVbrQuality = 9;
constexpr int MaxThreads = 256;

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

// One member as the host's type library lists it; the Last* properties are read-only.
rt::MemberInfo member(rt::DispId id, const char *name, rt::MemberKind kind, QStringList parameters,
                      const char *help)
{
    rt::MemberInfo info;
    info.id = id;
    info.name = QLatin1String(name);
    info.kind = kind;
    info.canGet = kind == rt::MemberKind::Property;
    info.canPut = info.canGet && id != Mp3Enc::IdLastError && id != Mp3Enc::IdLastNotice &&
                  id != Mp3Enc::IdLastOutput && id != Mp3Enc::IdEncoderVersion &&
                  id != Mp3Enc::IdTrackGain && id != Mp3Enc::IdTrackPeak;
    info.parameters = std::move(parameters);
    info.help = QLatin1String(help);
    return info;
}

// The members of ReplayGain 2.0: the choice, the last file's figures and its album's.
QList<rt::MemberInfo> replayGainMembers()
{
    using enum rt::MemberKind;
    return {
        member(Mp3Enc::IdReplayGain, "ReplayGain", Property, {},
               "ReplayGain 2.0 frames for files opened later: 0 none, 1 the track's gain and "
               "peak, 2 also its album's (AddToAlbum, WriteAlbumGain)"),
        member(Mp3Enc::IdTrackGain, "TrackGain", Property, {},
               "The last file converted's ReplayGain track gain in dB; empty when not measured"),
        member(Mp3Enc::IdTrackPeak, "TrackPeak", Property, {},
               "The last file converted's true peak, 1.0 full scale; empty when not measured"),
        member(Mp3Enc::IdAddToAlbum, "AddToAlbum", Method, {QStringLiteral("Album")},
               "The last file converted belongs to this album; false when it was not measured"),
        member(Mp3Enc::IdWriteAlbumGain, "WriteAlbumGain", Method, {QStringLiteral("Album")},
               "Writes the album's gain and peak into every MP3 added to it, and forgets it; "
               "returns the MP3s that could not be rewritten, with the reasons"),
        member(Mp3Enc::IdMeasureForAlbum, "MeasureForAlbum", Method,
               {QStringLiteral("Album"), QStringLiteral("InputFile"), QStringLiteral("Mp3File"),
                QStringLiteral("FirstFrame"), QStringLiteral("FrameCount")},
               "An MP3 kept as it is belongs to this album: its input (or the part of it) is "
               "measured as the encoder would hear it, not encoded, on a thread of its own; "
               "AlbumMeasured follows when the album's measures have all ended"),
        member(Mp3Enc::IdForgetAlbum, "ForgetAlbum", Method, {QStringLiteral("Album")},
               "Drops what was measured of an album whose gain will not be written"),
    };
}

// What a batch tells the encoder so that it can share the cores out.
QList<rt::MemberInfo> schedulingMembers()
{
    using enum rt::MemberKind;
    return {
        member(Mp3Enc::IdFilesToCome, "FilesToCome", Property, {},
               "Files the host will open after those it opened or handed over, as far as it "
               "knows: while any are to come, files are encoded side by side in one piece; the "
               "last files are cut where a core would otherwise idle"),
    };
}

// The events it raises.
QList<rt::MemberInfo> eventMembers()
{
    using enum rt::MemberKind;
    return {
        member(Mp3Enc::EventActFrame, "ActFrame", Event, {QStringLiteral("ActFrame")},
               "One more MP3 frame is written"),
        member(Mp3Enc::EventThreadEnded, "ThreadEnded", Event, {}, "The encode has ended"),
        member(Mp3Enc::EventFailure, "Failure", Event,
               {QStringLiteral("ErrCode"), QStringLiteral("ErrStr")},
               "The encode failed; ThreadEnded follows"),
        member(Mp3Enc::EventAlbumMeasured, "AlbumMeasured", Event,
               {QStringLiteral("Album"), QStringLiteral("Problem")},
               "Every MeasureForAlbum of the album has ended; Problem names the MP3 whose input "
               "could not be measured and why, or is empty"),
    };
}

} // namespace

QList<rt::MemberInfo> Mp3Enc::members() const
{
    using enum rt::MemberKind;
    QList<rt::MemberInfo> list = {
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
        member(IdRetag, "Retag", Method,
               {QStringLiteral("InputFile"), QStringLiteral("Mp3File"),
                QStringLiteral("NewMp3File"), QStringLiteral("Tags")},
               "Rewrite the tags of an MP3 made from the input as the input's tags now give them "
               "(with tags over them), without encoding, under a new name if given; returns "
               "why not, or an empty text"),
        member(IdFrontCover, "FrontCover", Method, {QStringLiteral("InputFile")},
               "The front cover the input carries, as its bytes; empty when it has none"),
        member(IdEncoderVersion, "EncoderVersion", Property, {},
               "The version of the MP3 encoder library, as its MP3s depend on it"),
        member(IdTags, "Tags", Method, {QStringLiteral("InputFile")},
               "The tags an input's MP3 would carry, by field: title, artist, album, "
               "albumartist, date, track, disc, genre"),
        member(IdPrefetch, "Prefetch", Method,
               {QStringLiteral("InputFile"), QStringLiteral("OutputFile")},
               "A pair the host will open later, which may be encoded ahead on idle cores and is "
               "written when Open and Encode reach it"),
    };
    // The ReplayGain members, the scheduling hint, then the events, in the order the host's type
    // library lists them.
    list += replayGainMembers();
    list += schedulingMembers();
    list += eventMembers();
    return list;
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
    case IdEncoderVersion:
        return LameEncoder::version();
    case IdLastOutput: {
        std::lock_guard lock(m_placedMutex);
        return m_placed;
    }
    case IdReplayGain:
        return m_replayGain;
    case IdFilesToCome:
        return m_filesToCome;
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
    case IdFilesToCome:
        m_filesToCome =
            toIntIn(value, 0, std::numeric_limits<int>::max(), QStringLiteral("后面的文件数"));
        m_filesToComeGiven = true;
        m_pool.setFilesToCome(m_filesToCome);
        break;
    default:
        refuse(rt::ErrNoSuchMember, QStringLiteral("编码组件没有这个属性"));
    }
}

QVariant Mp3Enc::invoke(rt::DispId id, const QVariantList &args)
{
    // The methods and how many arguments each takes.
    static const QHash<rt::DispId, qsizetype> Arguments = {
        {IdEncode, 0},        {IdStop, 0},           {IdOpen, 2},
        {IdGetFrameCount, 0}, {IdPrefetch, 2},       {IdTags, 1},
        {IdOpenPart, 5},      {IdPrefetchPart, 5},   {IdCueSheet, 1},
        {IdAudioLength, 1},   {IdRetag, 4},          {IdFrontCover, 1},
        {IdAddToAlbum, 1},    {IdWriteAlbumGain, 1}, {IdMeasureForAlbum, 5},
        {IdForgetAlbum, 1}};
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
    case IdFrontCover:
        return FrontCover(toText(args[0]));
    case IdRetag:
        return Retag(toText(args[0]), toText(args[1]), toText(args[2]), args[3].toMap());
    case IdAddToAlbum:
        return m_albumGain.addLast(toText(args[0]));
    case IdWriteAlbumGain:
        refuseWhileEncoding("WriteAlbumGain"); // the album's last MP3 must be in place
        if (m_measuring.contains(toText(args[0])))
            pairchecks::refuse(rt::ErrInvalidCall,
                               QStringLiteral("WriteAlbumGain之前专辑的响度还没有测完"));
        return m_albumGain.write(toText(args[0])).join(u'\n');
    case IdMeasureForAlbum:
        MeasureForAlbum(
            toText(args[0]),
            {toText(args[1]), toText(args[2]), toFrames(args[3]), toFrames(args[4]), {}});
        break;
    case IdForgetAlbum:
        m_measuring.remove(toText(args[0]));
        m_albumGain.forget(toText(args[0]));
        break;
    default:
        return GetFrameCount();
    }
    return QVariant::fromValue<qint16>(0);
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

QByteArray Mp3Enc::FrontCover(const QString &inputFile) const
{
    // The picture the MP3 carries, when the input calls it its front cover.
    const AudioTags tags = readAudioTags(*openInput(inputFile));
    return tags.cover.front ? tags.cover.data : QByteArray();
}

QString Mp3Enc::Retag(const QString &inputFile, const QString &mp3File, const QString &newMp3File,
                      const QVariantMap &tags) const
{
    Id3Tags id3 = renderId3Tags(withTags(readAudioTags(*openInput(inputFile)), tags));
    // The gain measured when the MP3 was encoded holds as long as its audio does.
    QString unread;
    const std::optional<QByteArray> standing = HeadId3v2(mp3File, &unread);
    if (!standing)
        return unread;
    if (const QList<GainFrame> gains = gainFramesOf(*standing); !gains.isEmpty()) {
        QString why;
        const std::optional<QByteArray> kept =
            withGainFrames(id3.v2.isEmpty() ? emptyId3v2Tag() : id3.v2, gains, std::nullopt, &why);
        if (!kept)
            return reasons::internalError(why);
        id3.v2 = *kept;
    }
    const int error =
        ReplaceId3Tags(mp3File, id3.v2, id3.v1, newMp3File == mp3File ? QString() : newMp3File);
    return error == 0 ? QString() : RetagFailure(error);
}

EncodeSettings Mp3Enc::settings() const
{
    return {m_rateMode,        m_vbrQuality, m_bitRate,  m_downMix,
            m_allowDownSample, m_threads,    m_ifExists, m_replayGain};
}
