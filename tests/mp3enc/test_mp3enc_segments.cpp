// Long files encoded in segments on several threads: the joined file must be what the lame
// command writes in every way a player sees (frames, size, info tag, exact length), with no
// error spike where two encoders meet, and nothing left behind when the encode is stopped or
// fails.
#include "mp3enc/calc/framelist.h"
#include "mp3enc/encode/corepool.h"
#include "mp3enc/encode/encodejob.h"
#include "mp3enc/input/channelmixer.h"
#include "mp3enc/input/sndfilereader.h"
#include "mp3enc/segments/parallelencode.h"
#include "mp3enc/tags/infotag.h"
#include "runtime/comerror.h"
#include "tests/mp3enc/audiocheck.h"
#include "tests/mp3enc/encoderfixture.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <numeric>
#include <sndfile.h>
#include <stop_token>
#include <thread>

namespace {

// A third of a 15 s segment: far less than running the earlier encoder over all of it.
constexpr std::int64_t MaxSerialFrames = 192;

struct Job
{
    std::unique_ptr<EncodeJob> job;
    LameEncoder::Settings settings;
};

// What Mp3Enc::Open sets up, with the segment options of the test; at `mode`, `kbps` is the
// average or the constant rate.
Job openJob(const QString &wav, const QString &mp3, int kbps, bool allowDownSample,
            SegmentOptions options, LameEncoder::Mode mode = LameEncoder::Mode::Constant,
            int vbrQuality = 4)
{
    Job result;
    auto reader = std::make_unique<SndFileReader>();
    if (!reader->open(wav))
        return result;
    LameEncoder::Settings &s = result.settings;
    s.sampleRate = reader->sampleRate();
    s.channels = reader->channels() == 1 ? 1 : 2;
    s.frames = std::uint64_t(reader->frames());
    s.mode = mode;
    s.kbps = kbps;
    s.vbrQuality = vbrQuality;
    s.outSampleRate = allowDownSample ? 0 : reader->sampleRate();
    auto encoder = std::make_unique<LameEncoder>();
    QString error;
    if (!encoder->init(s, &error))
        return result;
    result.job = std::make_unique<EncodeJob>(std::move(reader), std::move(encoder), mp3);
    result.job->allowSegments(s, std::move(options));
    return result;
}

SegmentOptions threads(int n)
{
    SegmentOptions options;
    options.threads = n;
    return options;
}

EncodeResult run(
    EncodeJob &job, const EncodeJob::Progress &progress = [](int) {})
{
    std::stop_source stop;
    const EncodeResult result = job.run(stop.get_token(), progress);
    return result.status == EncodeResult::Done ? job.commit() : result;
}

// The input as the encoder hears it: mixed down to the MP3's channels, full scale 1.0.
audiocheck::Pcm heard(const QString &wav)
{
    audiocheck::Pcm pcm;
    SndFileReader reader;
    if (!reader.open(wav))
        return pcm;
    ChannelMixer mixer(reader.channels(), reader.channelMap());
    const auto n = int(reader.frames());
    std::vector<int> interleaved(std::size_t(n) * std::size_t(reader.channels()));
    std::vector<int> left(static_cast<std::size_t>(n)), right(static_cast<std::size_t>(n));
    if (reader.read(interleaved.data(), n) != n)
        return pcm;
    mixer.split(interleaved.data(), n, left.data(), right.data());
    pcm.channels = mixer.outputChannels();
    pcm.sampleRate = reader.sampleRate();
    for (int i = 0; i < n; ++i) {
        pcm.samples.push_back(float(left[std::size_t(i)] / 2147483648.0));
        if (pcm.channels == 2)
            pcm.samples.push_back(float(right[std::size_t(i)] / 2147483648.0));
    }
    return pcm;
}

// The input as the encoder hears it, at `rate`: where that is lower than the input's, as ffmpeg
// resamples it (no samples, and rate 0, if ffmpeg fails).
audiocheck::Pcm heardAt(const QString &wav, int rate, const QString &dir, bool *lowered)
{
    audiocheck::Pcm pcm = heard(wav);
    *lowered = pcm.sampleRate != rate;
    if (!*lowered)
        return pcm;
    const QString resampled = QDir(dir).filePath(QStringLiteral("resampled.wav"));
    QFile::remove(resampled);
    if (!runTool(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), wav,
                  QStringLiteral("-ar"), QString::number(rate), QStringLiteral("-c:a"),
                  QStringLiteral("pcm_f32le"), resampled}))
        return {};
    return audiocheck::readWav(resampled);
}

const unsigned char *bytes(const QByteArray &a)
{
    return reinterpret_cast<const unsigned char *>(a.constData());
}

std::size_t tagSize(const QByteArray &mp3)
{
    mp3frame::Header h;
    if (mp3.size() < 200 || !mp3frame::parseHeader(bytes(mp3), &h))
        return 0;
    const QByteArray word = mp3.mid(h.mainDataOffset(), 4);
    return word == "Info" || word == "Xing" ? std::size_t(h.frameBytes) : 0;
}

// The same header, side information and main data up to its last bit; the filler after it may
// differ.
bool sameFrameData(const FrameList &a, const FrameList &b, std::size_t k)
{
    const int bits = a[k].side.mainDataBits;
    if (bits != b[k].side.mainDataBits ||
        a[k].header.mainDataOffset() != b[k].header.mainDataOffset() ||
        std::memcmp(a.head(k), b.head(k), std::size_t(a[k].header.mainDataOffset())) != 0 ||
        std::memcmp(a.data(k), b.data(k), std::size_t(bits / 8)) != 0)
        return false;
    const unsigned rest = 0xFF00u >> (bits % 8) & 0xFFu;
    return rest == 0 || (a.data(k)[bits / 8] & rest) == (b.data(k)[bits / 8] & rest);
}

} // namespace

class TestMp3EncSegments final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void joinedLikeLame_data();
    void joinedLikeLame();
    void variableRatesJoined_data();
    void variableRatesJoined();
    void fallBacks_data();
    void fallBacks();
    void denseMaterialJoins();
    void stopLeavesNothing();
    void stopReachesLoudnessPass();
    void failureLeavesNothing();
    void inputReplacedOrDeleted_data();
    void inputReplacedOrDeleted();
    void threadsProperty();
    void cutWhereACoreIdles_data();
    void cutWhereACoreIdles();
    void sideBySide_data();
    void sideBySide();

private:
    QString input(int rate, int channels, double seconds, int subtype = SF_FORMAT_PCM_16,
                  double pauseAt = -1);
    QString reference(const QString &wav, int kbps, bool allowDownSample, int channels);
    void compareWithReference(const QString &ours, const QString &theirs, const QString &wav,
                              const ParallelEncode &parallel);

    QTemporaryDir m_dir;
    QString m_out; // only outputs: what is left in it after a failure is a leftover
};

void TestMp3EncSegments::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_out = m_dir.filePath(QStringLiteral("输出 目录"));
    QVERIFY(QDir().mkpath(m_out));
}

QString TestMp3EncSegments::input(int rate, int channels, double seconds, int subtype,
                                  double pauseAt)
{
    const QString path = m_dir.filePath(QStringLiteral("歌 %1 %2 %3 %4 %5.wav")
                                            .arg(rate)
                                            .arg(channels)
                                            .arg(seconds)
                                            .arg(subtype)
                                            .arg(pauseAt));
    if (!QFile::exists(path) &&
        !audiocheck::writeBusyWav(path, seconds, rate, channels, subtype, pauseAt))
        return {};
    return path;
}

// The lame command's file where it reads the input, else the one-piece encode (byte for byte
// the command's where both apply).
QString TestMp3EncSegments::reference(const QString &wav, int kbps, bool allowDownSample,
                                      int channels)
{
    const QString mp3 = m_dir.filePath(QStringLiteral("reference.mp3"));
    QFile::remove(mp3);
    if (channels <= 2) {
        QStringList args{QStringLiteral("--quiet"), QStringLiteral("-b"), QString::number(kbps)};
        if (!allowDownSample) {
            SndFileReader reader;
            if (!reader.open(wav))
                return {};
            args << QStringLiteral("--resample") << QString::number(reader.sampleRate() / 1000.0);
        }
        return runTool(QStringLiteral("lame"), args << wav << mp3) ? mp3 : QString();
    }
    Job serial = openJob(wav, mp3, kbps, allowDownSample, threads(1));
    return serial.job && run(*serial.job).status == EncodeResult::Done ? mp3 : QString();
}

void TestMp3EncSegments::compareWithReference(const QString &ours, const QString &theirs,
                                              const QString &wav, const ParallelEncode &parallel)
{
    // Clean for both decoders.
    QCOMPARE(audiocheck::decoderErrors(ours), QString());

    // Same frames, same size.
    const QByteArray a = audiocheck::readAll(ours), b = audiocheck::readAll(theirs);
    QCOMPARE(a.size(), b.size());
    const std::size_t tag = tagSize(a);
    QCOMPARE(tag, tagSize(b));
    FrameList fa, fb;
    QVERIFY(fa.parse(bytes(a), std::size_t(a.size()),
                     tag ? FrameList::TagFirst : FrameList::StreamStart));
    QVERIFY(fb.parse(bytes(b), std::size_t(b.size()),
                     tag ? FrameList::TagFirst : FrameList::StreamStart));
    QCOMPARE(fa.size(), fb.size());

    // The tag: the reference's, its radio gain too, but for the checksums of other bytes.
    if (tag) {
        const int info = fa[0].header.mainDataOffset();
        QCOMPARE(a.left(info + 152).toHex(), b.left(info + 152).toHex());
        const std::uint16_t music = infotag::crc16(bytes(a) + tag, std::size_t(a.size()) - tag);
        QCOMPARE(std::uint8_t(a[info + 152]), std::uint8_t(music >> 8));
        QCOMPARE(std::uint8_t(a[info + 153]), std::uint8_t(music & 0xFF));
        const std::uint16_t self = infotag::crc16(bytes(a), std::size_t(info) + 154);
        QCOMPARE(std::uint8_t(a[info + 154]), std::uint8_t(self >> 8));
        QCOMPARE(std::uint8_t(a[info + 155]), std::uint8_t(self & 0xFF));
    }

    // Exactly the input's length, and no worse than the reference anywhere near a seam. Where
    // the rate was lowered, both are measured against the input as ffmpeg resamples it.
    const audiocheck::Pcm o = audiocheck::decodeMp3(ours, m_dir.path());
    const audiocheck::Pcm r = audiocheck::decodeMp3(theirs, m_dir.path());
    bool lowered = false;
    const audiocheck::Pcm x = heardAt(wav, o.sampleRate, m_dir.path(), &lowered);
    QCOMPARE(x.sampleRate, o.sampleRate);
    QCOMPARE(o.frames(), r.frames());
    QCOMPARE(audiocheck::ffmpegFrames(ours, o.channels),
             audiocheck::ffmpegFrames(theirs, o.channels));
    if (tag) { // without one, nothing tells the decoders of the delay and the padding
        QVERIFY2(std::abs(o.frames() - x.frames()) <= (lowered ? 2 : 0),
                 qPrintable(QStringLiteral("%1 frames for %2").arg(o.frames()).arg(x.frames())));
        QCOMPARE(audiocheck::ffmpegFrames(ours, o.channels), o.frames());
    }
    const double snrOurs = audiocheck::snr(o, x), snrTheirs = audiocheck::snr(r, x);
    QVERIFY2(snrOurs > snrTheirs - 0.1,
             qPrintable(QStringLiteral("SNR %1 dB, lame %2 dB").arg(snrOurs).arg(snrTheirs)));
    constexpr int Block = 576;
    const std::vector<double> eo = audiocheck::blockErrors(o, x, Block);
    const std::vector<double> er = audiocheck::blockErrors(r, x, Block);
    const int spf = fa[0].header.samplesPerFrame;
    for (const std::int64_t seam : parallel.seams()) {
        const std::int64_t at = (seam * spf - 576) / Block; // the seam in the gapless decode
        for (std::int64_t k = std::max<std::int64_t>(0, at - 8 * spf / Block);
             k < std::min<std::int64_t>(std::int64_t(eo.size()), at + 8 * spf / Block); ++k) {
            // Independent quantisation stays within 1.5 times the reference's error per block
            // here; joined after a one-frame pre-roll and without the window check, 2.9 times.
            const double floor = 1e-6;
            const double ratio = (eo[std::size_t(k)] + floor) / (er[std::size_t(k)] + floor);
            QVERIFY2(ratio < 2.0, qPrintable(QStringLiteral("error %1 x the reference's at "
                                                            "block %2, seam at frame %3")
                                                 .arg(ratio)
                                                 .arg(k)
                                                 .arg(seam)));
        }
    }
}

void TestMp3EncSegments::joinedLikeLame_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("kbps");
    QTest::addColumn<bool>("allowDownSample");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<bool>("segmented");
    QTest::addColumn<int>("subtype");

    // The converter's bit rates on 44.1 kHz stereo; the low ones only with the rate kept.
    for (int kbps : {32, 56, 64, 96})
        QTest::addRow("44.1 kHz stereo %d, rate kept", kbps)
            << 44100 << 2 << kbps << false << 31.0 << true << int(SF_FORMAT_PCM_16);
    QTest::newRow("44.1 kHz stereo 112")
        << 44100 << 2 << 112 << true << 31.0 << true << int(SF_FORMAT_PCM_16);
    QTest::newRow("44.1 kHz stereo 128, three segments")
        << 44100 << 2 << 128 << true << 46.0 << true << int(SF_FORMAT_PCM_16);
    QTest::newRow("44.1 kHz stereo 256")
        << 44100 << 2 << 256 << true << 31.0 << true << int(SF_FORMAT_PCM_16);
    QTest::newRow("44.1 kHz mono 64, rate kept")
        << 44100 << 1 << 64 << false << 31.0 << true << int(SF_FORMAT_PCM_16);
    QTest::newRow("48 kHz stereo 128")
        << 48000 << 2 << 128 << true << 31.0 << true << int(SF_FORMAT_PCM_16);
    QTest::newRow("32 kHz mono 56")
        << 32000 << 1 << 56 << true << 31.0 << true << int(SF_FORMAT_PCM_16);
    QTest::newRow("22.05 kHz stereo 64")
        << 22050 << 2 << 64 << true << 31.0 << true << int(SF_FORMAT_PCM_16);
    QTest::newRow("16 kHz mono 32, no tag")
        << 16000 << 1 << 32 << true << 31.0 << true << int(SF_FORMAT_PCM_16);
    QTest::newRow("11.025 kHz mono 32")
        << 11025 << 1 << 32 << true << 31.0 << true << int(SF_FORMAT_PCM_16);
    QTest::newRow("5.1 mixed down, 128")
        << 44100 << 6 << 128 << true << 31.0 << true << int(SF_FORMAT_PCM_16);
    // Where the encoder lowers the rate: 16, 24 and 32 kHz from 44.1 kHz, 32 kHz from 48 kHz.
    for (int kbps : {32, 56, 96})
        QTest::addRow("44.1 kHz stereo %d, resampled", kbps)
            << 44100 << 2 << kbps << true << 31.0 << true << int(SF_FORMAT_PCM_16);
    QTest::newRow("48 kHz mono 112, resampled")
        << 48000 << 1 << 112 << true << 31.0 << true << int(SF_FORMAT_PCM_16);
    QTest::newRow("32-bit float 128")
        << 44100 << 2 << 128 << true << 31.0 << true << int(SF_FORMAT_FLOAT);
    QTest::newRow("32-bit float 64, resampled")
        << 44100 << 2 << 64 << true << 31.0 << true << int(SF_FORMAT_FLOAT);
    // A file under 30 s is encoded in one piece.
    QTest::newRow("29 s") << 44100 << 2 << 128 << true << 29.0 << false << int(SF_FORMAT_PCM_16);
}

void TestMp3EncSegments::joinedLikeLame()
{
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(int, kbps);
    QFETCH(bool, allowDownSample);
    QFETCH(double, seconds);
    QFETCH(bool, segmented);
    QFETCH(int, subtype);
    const QString wav = input(rate, channels, seconds, subtype);
    QVERIFY(!wav.isEmpty());
    const QString ours = QDir(m_out).filePath(QStringLiteral("分段 %1.mp3").arg(kbps));
    Job job = openJob(wav, ours, kbps, allowDownSample, threads(2));
    QVERIFY(job.job);
    QCOMPARE(job.job->parallel() != nullptr, segmented);
    QCOMPARE(run(*job.job).status, EncodeResult::Done);
    const QString theirs = reference(wav, kbps, allowDownSample, channels);
    QVERIFY(!theirs.isEmpty());
    if (!segmented) {
        QCOMPARE(fileDigest(ours), fileDigest(theirs));
        return;
    }
    const ParallelEncode &parallel = *job.job->parallel();
    QVERIFY(parallel.joined());
    QCOMPARE(parallel.seams().size() + std::size_t(parallel.extended()),
             parallel.plan().segments.size() - 1);
    compareWithReference(ours, theirs, wav, parallel);
    QVERIFY(QFile::remove(ours));
}

void TestMp3EncSegments::variableRatesJoined_data()
{
    QTest::addColumn<QStringList>("option"); // the lame command's
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<double>("pauseAt");       // a second of silence from here; -1: none
    QTest::addColumn<bool>("lamesThroughout"); // every frame lame's, not only up to the first seam
    const auto v = [](int q) { return QStringList{QStringLiteral("-V"), QString::number(q)}; };
    const auto abr = [](int kbps) {
        return QStringList{QStringLiteral("--abr"), QString::number(kbps)};
    };
    QTest::newRow("-V 2, three segments") << v(2) << 44100 << 2 << 46.0 << -1.0 << false;
    // Five segments, the first seam in silence; the segments' dense frames hold more data than
    // the joined stream would have room for without the frames before them leaving more.
    QTest::newRow("-V 0, silence over a seam") << v(0) << 44100 << 2 << 76.0 << 14.6 << false;
    QTest::newRow("-V 9, rate lowered") << v(9) << 44100 << 2 << 31.0 << -1.0 << false;
    QTest::newRow("-V 4, 48 kHz mono") << v(4) << 48000 << 1 << 31.0 << -1.0 << false;
    QTest::newRow("--abr 192") << abr(192) << 44100 << 2 << 31.0 << -1.0 << false;
    // The average at the largest rate: every frame's data depends on the reservoir its encoder
    // had, so a segment joins only where its encoder has the stream's reservoir.
    QTest::newRow("--abr 320, 48 kHz") << abr(320) << 48000 << 2 << 31.0 << -1.0 << true;
}

// A variable or an average rate in segments: a file a player cannot tell from the lame
// command's. Its frames up to the first seam are lame's, its info tag is lame's in every field
// but those the stream's own bytes give (its seek table within a step of lame's), and it decodes
// cleanly, to the input's length, as close to the input as lame's, seeks where lame's does and
// is as large within 1 %.
void TestMp3EncSegments::variableRatesJoined()
{
    QFETCH(QStringList, option);
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(double, seconds);
    QFETCH(double, pauseAt);
    QFETCH(bool, lamesThroughout);
    const QString wav = input(rate, channels, seconds, SF_FORMAT_PCM_16, pauseAt);
    QVERIFY(!wav.isEmpty());
    const bool average = option.front() == QStringLiteral("--abr");
    const QString ours = QDir(m_out).filePath(QStringLiteral("可变.mp3"));
    Job job = openJob(wav, ours, option.back().toInt(), true, threads(2),
                      average ? LameEncoder::Mode::Average : LameEncoder::Mode::Variable,
                      option.back().toInt());
    QVERIFY(job.job && job.job->parallel());
    QCOMPARE(run(*job.job).status, EncodeResult::Done);
    const ParallelEncode &parallel = *job.job->parallel();
    QVERIFY(parallel.joined());
    // Every seam within its window or a few frames on, none by running an encoder over a segment.
    QCOMPARE(parallel.extended(), 0);
    QCOMPARE(parallel.seams().size(), parallel.plan().segments.size() - 1);
    for (const std::int64_t frames : parallel.serialFrames())
        QVERIFY2(frames <= MaxSerialFrames, qPrintable(QString::number(frames)));
    const QString theirs = m_dir.filePath(QStringLiteral("reference.mp3"));
    QVERIFY(runTool(QStringLiteral("lame"), QStringList(option)
                                                << QStringLiteral("--quiet") << wav << theirs));
    for (const QString &mp3 : {ours, theirs}) {
        QCOMPARE(audiocheck::decoderErrors(mp3), QString());
        QCOMPARE(audiocheck::mp3valProblems(mp3), QString());
    }

    // The frames: as many, lame's up to the first seam, the size within 1 %.
    const QByteArray a = audiocheck::readAll(ours), b = audiocheck::readAll(theirs);
    QVERIFY2(std::abs(a.size() - b.size()) * 100 <= b.size(),
             qPrintable(QStringLiteral("%1 bytes, lame %2").arg(a.size()).arg(b.size())));
    FrameList fa, fb;
    QVERIFY(fa.parse(bytes(a), std::size_t(a.size()), FrameList::TagFirst));
    QVERIFY(fb.parse(bytes(b), std::size_t(b.size()), FrameList::TagFirst));
    QCOMPARE(fa.size(), fb.size());
    const std::int64_t firstSeam =
        parallel.seams().empty() ? std::int64_t(fa.size()) : parallel.seams().front();
    for (std::size_t k = 0; k < std::size_t(firstSeam); ++k) {
        QVERIFY2(
            std::memcmp(fa.head(k), fb.head(k), std::size_t(fa[k].header.mainDataOffset())) == 0 &&
                fa[k].dataBytes == fb[k].dataBytes &&
                std::memcmp(fa.data(k), fb.data(k), std::size_t(fa[k].dataBytes)) == 0,
            qPrintable(QStringLiteral("frame %1 of %2 before the seam").arg(k).arg(firstSeam)));
    }
    for (std::size_t k = std::size_t(firstSeam); lamesThroughout && k < fa.size(); ++k)
        QVERIFY2(
            sameFrameData(fa, fb, k),
            qPrintable(
                QStringLiteral("frame %1 of %2, seam at %3").arg(k).arg(fa.size()).arg(firstSeam)));

    // The tag: lame's fields, but for the stream's size, seek table and checksums.
    mp3frame::Header tagHeader;
    QVERIFY(tagSize(a) > 0 && mp3frame::parseHeader(bytes(a), &tagHeader));
    const int tag = tagHeader.mainDataOffset();
    QCOMPARE(a.left(3).toHex(), b.left(3).toHex());
    QCOMPARE(a.mid(tag, 12).toHex(), b.mid(tag, 12).toHex()); // word, fields, frame count
    QCOMPARE(a.mid(tag + 116, 32).toHex(), b.mid(tag + 116, 32).toHex());
    const auto field = [&](const QByteArray &mp3, int at) {
        return (quint32(quint8(mp3[at])) << 24) | (quint32(quint8(mp3[at + 1])) << 16) |
               (quint32(quint8(mp3[at + 2])) << 8) | quint8(mp3[at + 3]);
    };
    QCOMPARE(field(a, tag + 8 + 4), quint32(a.size()));
    QCOMPARE(field(a, tag + 148), quint32(a.size()));
    const std::uint16_t music =
        infotag::crc16(bytes(a) + tagSize(a), std::size_t(a.size()) - tagSize(a));
    QCOMPARE(quint16((quint8(a[tag + 152]) << 8) | quint8(a[tag + 153])), music);
    const std::uint16_t self = infotag::crc16(bytes(a), std::size_t(tag) + 154);
    QCOMPARE(quint16((quint8(a[tag + 154]) << 8) | quint8(a[tag + 155])), self);
    for (int i = 1; i < 100; ++i) {
        const int mine = quint8(a[tag + 16 + i]), lames = quint8(b[tag + 16 + i]);
        QVERIFY2(
            mine >= quint8(a[tag + 15 + i]) && std::abs(mine - lames) <= 1,
            qPrintable(
                QStringLiteral("seek table at %1 %: %2, lame %3").arg(i).arg(mine).arg(lames)));
    }

    // The decode: the input's length, error no more than lame's (0.05 dB over the file, 0.5 dB
    // in any two seconds), measured against the input as ffmpeg resamples it where the rate was
    // lowered.
    const audiocheck::Pcm o = audiocheck::decodeMp3(ours, m_dir.path());
    const audiocheck::Pcm r = audiocheck::decodeMp3(theirs, m_dir.path());
    bool lowered = false;
    const audiocheck::Pcm x = heardAt(wav, o.sampleRate, m_dir.path(), &lowered);
    QCOMPARE(x.sampleRate, o.sampleRate);
    QCOMPARE(o.frames(), r.frames());
    QVERIFY2(std::abs(o.frames() - x.frames()) <= (lowered ? 2 : 0),
             qPrintable(QStringLiteral("%1 frames for %2").arg(o.frames()).arg(x.frames())));
    QCOMPARE(audiocheck::ffmpegFrames(ours, o.channels), o.frames());
    const std::vector<double> eo = audiocheck::blockErrors(o, x, o.sampleRate);
    const std::vector<double> er = audiocheck::blockErrors(r, x, o.sampleRate);
    QCOMPARE(eo.size(), er.size());
    const auto db = [](double ours, double lames) {
        constexpr double Floor = 1e-6; // silence: no error to speak of
        return 10.0 * std::log10((ours + Floor) / (lames + Floor));
    };
    const double whole =
        db(std::accumulate(eo.begin(), eo.end(), 0.0), std::accumulate(er.begin(), er.end(), 0.0));
    QVERIFY2(whole <= 0.05, qPrintable(QStringLiteral("%1 dB over lame's").arg(whole)));
    for (std::size_t k = 1; k < eo.size(); ++k) {
        const double window = db(eo[k - 1] + eo[k], er[k - 1] + er[k]);
        QVERIFY2(window <= 0.5,
                 qPrintable(QStringLiteral("%1 dB over lame's at %2 s").arg(window).arg(k - 1)));
    }

    // Seeking by the tag's table lands where it lands in lame's file.
    const double duration = double(o.frames()) / o.sampleRate;
    for (const double part : {0.25, 0.5, 0.75}) {
        const double mine = audiocheck::ffmpegSeekLanding(ours, part * duration, o.sampleRate);
        const double lames = audiocheck::ffmpegSeekLanding(theirs, part * duration, o.sampleRate);
        QVERIFY2(
            std::abs(mine - lames) <= 0.5,
            qPrintable(QStringLiteral("at %1: %2 s, lame %3 s").arg(part).arg(mine).arg(lames)));
    }
    QVERIFY(QFile::remove(ours));
}

void TestMp3EncSegments::fallBacks_data()
{
    QTest::addColumn<int>("refusedAfter"); // frames past segment 1's window start; -1: all
    QTest::newRow("window refused: a few steps on") << SegmentPlan::Window + 9;
    QTest::newRow("whole segment refused") << -1;
}

// Where no frame of a window joins, the earlier encoder runs on in steps of a few frames until
// one does, or over the whole of the next segment when none does; when a segment's bytes are
// not what the join expects, the file is encoded in one piece, exactly as the lame command does,
// leaving nothing of the first attempt behind.
void TestMp3EncSegments::fallBacks()
{
    QFETCH(int, refusedAfter);
    const QString wav = input(44100, 2, 46.0);
    const QString mp3 = QDir(m_out).filePath(QStringLiteral("再试.mp3"));
    const QString theirs = reference(wav, 128, true, 2);
    QVERIFY(!theirs.isEmpty());

    SegmentOptions refuse = threads(2);
    std::int64_t refusedUntil = 0;
    refuse.refuseSeam = [&](std::size_t segment, std::int64_t frame) {
        return segment == 1 && (refusedAfter < 0 || frame < refusedUntil);
    };
    Job ranOn = openJob(wav, mp3, 128, true, refuse);
    QVERIFY(ranOn.job && ranOn.job->parallel());
    const ParallelEncode &parallel = *ranOn.job->parallel();
    refusedUntil = parallel.plan().segments[1].windowStart + refusedAfter;
    QCOMPARE(run(*ranOn.job).status, EncodeResult::Done);
    QVERIFY(parallel.joined());
    const std::vector<std::int64_t> &ranSerially = parallel.serialFrames();
    if (refusedAfter < 0) {
        QCOMPARE(parallel.extended(), 1);
        QCOMPARE(parallel.seams().size(), std::size_t(1));
        QVERIFY(parallel.seams()[0] >= parallel.plan().segments[2].windowStart);
    } else {
        QCOMPARE(parallel.extended(), 0);
        QVERIFY(parallel.seams()[0] >= refusedUntil);
        // Serial work: the frames past the window up to the seam, in whole steps.
        QVERIFY2(ranSerially[0] >= refusedAfter - SegmentPlan::Window && ranSerially[0] <= 32,
                 qPrintable(QString::number(ranSerially[0])));
    }
    compareWithReference(mp3, theirs, wav, parallel);
    if (refusedAfter >= 0)
        return;
    const QStringList before = folderEntries(m_out);

    SegmentOptions spoil = threads(2);
    spoil.spoilSegment = [](std::size_t segment) { return segment == 2; };
    Job serial = openJob(wav, mp3, 128, true, spoil);
    QVERIFY(serial.job && serial.job->parallel());
    int last = 0;
    QCOMPARE(run(*serial.job, [&](int frame) { last = frame; }).status, EncodeResult::Done);
    QVERIFY(!serial.job->parallel()->joined());
    QCOMPARE(last, serial.job->frameCount());
    QCOMPARE(fileDigest(mp3), fileDigest(theirs));
    QCOMPARE(folderEntries(m_out), before);
    QFile::remove(mp3);
}

// Dense material: every seam joins, none by running the earlier encoder over a whole segment.
// Where no frame of a window joins, the earlier encoder runs on for a few steps until one does.
void TestMp3EncSegments::denseMaterialJoins()
{
    const QString wav = m_dir.filePath(QStringLiteral("粉红噪声.wav"));
    QVERIFY(QFile::exists(wav) || audiocheck::writePinkNoiseWav(wav, 91.0, 44100, 2));
    const QString mp3 = QDir(m_out).filePath(QStringLiteral("密集.mp3"));
    Job job = openJob(wav, mp3, 128, true, threads(2));
    QVERIFY(job.job && job.job->parallel());
    QCOMPARE(run(*job.job).status, EncodeResult::Done);
    const ParallelEncode &parallel = *job.job->parallel();
    QVERIFY(parallel.joined());
    QCOMPARE(parallel.extended(), 0);
    QCOMPARE(parallel.seams().size(), parallel.plan().segments.size() - 1);
    QStringList serial;
    for (const std::int64_t frames : parallel.serialFrames()) {
        serial << QString::number(frames);
        QVERIFY2(frames <= MaxSerialFrames, qPrintable(serial.join(u' ')));
    }
    qInfo("frames run on serially at each seam: %s", qPrintable(serial.join(u' ')));
    const QString theirs = reference(wav, 128, true, 2);
    QVERIFY(!theirs.isEmpty());
    compareWithReference(mp3, theirs, wav, parallel);
    QFile::remove(mp3);
}

// Stopped while segments are being encoded and joined: every worker ends, the run says so, and
// no file or temporary is left.
void TestMp3EncSegments::stopLeavesNothing()
{
    const QString wav = input(44100, 2, 46.0);
    const QStringList before = folderEntries(m_out);
    // Before the start, at the first frame (the loudness pass still running), mid-file, and while
    // the earlier encoder runs on in search of a seam (every frame of segment 1 refused).
    for (const auto &[stopAt, refuse] :
         {std::pair{0, false}, {1, false}, {900, false}, {700, true}}) {
        const QString mp3 = QDir(m_out).filePath(QStringLiteral("停止.mp3"));
        SegmentOptions options = threads(2);
        if (refuse)
            options.refuseSeam = [](std::size_t segment, std::int64_t) { return segment == 1; };
        Job job = openJob(wav, mp3, 128, true, options);
        QVERIFY(job.job && job.job->parallel());
        std::stop_source stop;
        if (stopAt == 0)
            stop.request_stop();
        const EncodeResult result = job.job->run(stop.get_token(), [&](int frame) {
            if (frame >= stopAt)
                stop.request_stop();
        });
        QCOMPARE(result.status, EncodeResult::Stopped);
        QCOMPARE(folderEntries(m_out), before);
    }
}

// Every frame written, the join waits for the loudness pass of a resampled file (held back here):
// a stop then ends the run at once, not when the pass would have ended, and leaves nothing.
void TestMp3EncSegments::stopReachesLoudnessPass()
{
    const QString wav = input(44100, 2, 46.0);
    const QStringList before = folderEntries(m_out);
    std::stop_source stop;
    SegmentOptions options = threads(2);
    std::mutex held;
    std::condition_variable_any released;
    options.beforeLoudnessBlock = [&] {
        std::unique_lock lock(held);
        released.wait(lock, stop.get_token(), [] { return false; }); // until the stop
    };
    Job job = openJob(wav, QDir(m_out).filePath(QStringLiteral("响度.mp3")), 96, true, options);
    QVERIFY(job.job && job.job->parallel());
    const int total = job.job->frameCount();
    std::atomic<bool> allWritten{false};
    EncodeResult result;
    std::thread running([&] {
        result = job.job->run(stop.get_token(),
                              [&](int frame) { allWritten = allWritten || frame >= total; });
    });
    QTRY_VERIFY_WITH_TIMEOUT(allWritten.load(), 120000);
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // into the wait for the pass
    QElapsedTimer clock;
    clock.start();
    stop.request_stop();
    running.join();
    QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(result.status, EncodeResult::Stopped);
    QCOMPARE(folderEntries(m_out), before);
}

// The input shrinks between Open and Encode: the segments' readers fail, the run reports it and
// leaves nothing.
void TestMp3EncSegments::failureLeavesNothing()
{
    const QString original = input(44100, 2, 46.0);
    const QString wav = m_dir.filePath(QStringLiteral("会变短.wav"));
    QFile::remove(wav);
    QVERIFY(QFile::copy(original, wav));
    const QStringList before = folderEntries(m_out);
    Job job = openJob(wav, QDir(m_out).filePath(QStringLiteral("失败.mp3")), 128, true, threads(2));
    QVERIFY(job.job && job.job->parallel());
    QFile file(wav);
    QVERIFY(file.resize(file.size() / 2));
    const EncodeResult result = run(*job.job);
    QCOMPARE(result.status, EncodeResult::Failed);
    QCOMPARE(result.errorNumber, int(rt::ErrDeviceIO));
    QVERIFY(!result.errorText.isEmpty());
    QCOMPARE(folderEntries(m_out), before);
}

void TestMp3EncSegments::inputReplacedOrDeleted_data()
{
    QTest::addColumn<bool>("replace");
    QTest::addColumn<int>("atFrame"); // 0: between Open and Encode
    for (int at : {0, 1, 600})
        QTest::addRow("replaced at frame %d", at) << true << at;
    for (int at : {0, 600})
        QTest::addRow("deleted at frame %d", at) << false << at;
}

// Every segment reads the file Open opened. Saved over (an editor renames its new file over the
// old one) or deleted at any moment, the input still gives exactly the MP3 it gives untouched.
// Six segments, so some are opened only after the change whenever it comes.
void TestMp3EncSegments::inputReplacedOrDeleted()
{
    QFETCH(bool, replace);
    QFETCH(int, atFrame);
    const QString original = input(44100, 2, 91.0);
    const QString untouched = m_dir.filePath(QStringLiteral("未动.mp3"));
    if (!QFile::exists(untouched)) {
        Job job = openJob(original, untouched, 128, true, threads(2));
        QVERIFY(job.job && job.job->parallel());
        QCOMPARE(run(*job.job).status, EncodeResult::Done);
    }
    // Another recording of the same length and channels.
    const QString other = m_dir.filePath(QStringLiteral("另一个.wav"));
    QVERIFY(QFile::exists(other) || testsupport::writeWav(other, 91 * 44100, 2));
    const QString wav = m_dir.filePath(QStringLiteral("被改动.wav"));
    QFile::remove(wav);
    QVERIFY(QFile::copy(original, wav));

    const QString mp3 = QDir(m_out).filePath(QStringLiteral("改动.mp3"));
    Job job = openJob(wav, mp3, 128, true, threads(2));
    QVERIFY(job.job && job.job->parallel());
    bool done = false;
    const auto change = [&] {
        done = true;
        if (!replace)
            return QFile::remove(wav);
        const QString saved = wav + QStringLiteral(".new");
        return QFile::copy(other, saved) && ::rename(QFile::encodeName(saved).constData(),
                                                     QFile::encodeName(wav).constData()) == 0;
    };
    if (atFrame == 0)
        QVERIFY(change());
    bool changed = atFrame == 0;
    QCOMPARE(run(*job.job,
                 [&](int frame) {
                     if (!done && frame >= atFrame)
                         changed = change();
                 })
                 .status,
             EncodeResult::Done);
    QVERIFY(changed);
    QVERIFY(job.job->parallel()->joined());
    QCOMPARE(fileDigest(mp3), fileDigest(untouched));
    QFile::remove(mp3);
}

// Through the component: Threads is 0 (every core) unless set; 1 gives the lame command's bytes
// for a long file too; the events are those of a one-piece encode.
void TestMp3EncSegments::threadsProperty()
{
    const QString wav = input(44100, 2, 46.0);
    const QString theirs = reference(wav, 128, true, 2);
    QVERIFY(!theirs.isEmpty());
    for (int n : {1, 0}) {
        EncoderFixture encoder;
        QVERIFY(encoder.ok());
        QCOMPARE(encoder.control->get(QStringLiteral("Threads")).toInt(), 0);
        encoder.control->put(QStringLiteral("Threads"), n);
        QCOMPARE(encoder.control->get(QStringLiteral("Threads")).toInt(), n);
        const QString mp3 = QDir(m_out).filePath(QStringLiteral("组件 %1.mp3").arg(n));
        QVERIFY(encoder.convert(wav, mp3));
        QCOMPARE(encoder.site.count(RecordingSite::Failure), 0);
        QCOMPARE(encoder.site.count(RecordingSite::ThreadEnded), 1);
        const auto frames = encoder.control->call(QStringLiteral("GetFrameCount")).toInt();
        QCOMPARE(encoder.site.events.at(encoder.site.events.size() - 2).args.value(0).toInt(),
                 frames);
        const QByteArray ours = audiocheck::readAll(mp3), lame = audiocheck::readAll(theirs);
        QCOMPARE(ours.size(), lame.size());
        // Every core: in segments unless the machine has only one.
        QCOMPARE(ours == lame, n == 1 || std::thread::hardware_concurrency() <= 1);
        QFile::remove(mp3);
    }
    EncoderFixture encoder;
    QVERIFY(encoder.ok());
    for (const QVariant &bad : {QVariant(-1), QVariant(100000), QVariant(QStringLiteral("x"))}) {
        bool refused = false;
        try {
            encoder.control->put(QStringLiteral("Threads"), bad);
        } catch (const rt::ComError &) {
            refused = true;
        }
        QVERIFY(refused);
    }
    QCOMPARE(encoder.control->get(QStringLiteral("Threads")).toInt(), 0);
}

// Whether a file starting now is cut: only where the rest of the batch, shared out on the other
// cores, would end well before the file in one piece.
void TestMp3EncSegments::cutWhereACoreIdles_data()
{
    QTest::addColumn<int>("cores");
    QTest::addColumn<int>("frames");            // the file starting
    QTest::addColumn<QList<int>>("othersLeft"); // what each other file still has to encode
    QTest::addColumn<int>("toCome");            // files not handed over yet
    QTest::addColumn<bool>("cut");
    QTest::newRow("alone") << 2 << 1000 << QList<int>{} << 0 << true;
    QTest::newRow("alone, one core") << 1 << 1000 << QList<int>{} << 0 << false;
    QTest::newRow("files to come") << 2 << 1000 << QList<int>{} << 2 << false;
    QTest::newRow("four cores, a file to come") << 4 << 1000 << QList<int>{} << 1 << true;
    QTest::newRow("a short file to come") << 2 << 1000 << QList<int>{50} << 1 << true;
    QTest::newRow("an even file beside it") << 2 << 1000 << QList<int>{1000} << 0 << false;
    QTest::newRow("a short file beside it") << 2 << 1000 << QList<int>{300} << 0 << true;
    QTest::newRow("short files enough") << 2 << 1000 << QList<int>{300, 300, 400} << 0 << false;
    QTest::newRow("four cores, two even files") << 4 << 1000 << QList<int>{1000, 1000} << 0 << true;
    QTest::newRow("four cores, three even files")
        << 4 << 1000 << QList<int>{1000, 1000, 1000} << 0 << false;
}

void TestMp3EncSegments::cutWhereACoreIdles()
{
    QFETCH(int, cores);
    QFETCH(int, frames);
    QFETCH(QList<int>, othersLeft);
    QFETCH(int, toCome);
    QFETCH(bool, cut);
    CorePool pool(cores);
    pool.setFilesToCome(toCome);
    std::vector<std::unique_ptr<CoreTicket>> others;
    for (int left : othersLeft) {
        others.push_back(std::make_unique<CoreTicket>());
        others.back()->frames = 2 * left;
        others.back()->done = left;
        pool.enter(*others.back());
    }
    CoreTicket finished; // ended: no longer work for the other cores
    finished.frames = 100;
    pool.enter(finished);
    pool.finish(finished);
    CoreTicket starting;
    starting.frames = frames;
    pool.enter(starting);
    QCOMPARE(pool.worthCutting(starting, 0.1), cut);
    for (auto &ticket : others)
        pool.leave(*ticket);
    pool.leave(finished);
    pool.leave(starting);
}

// A batch through the component as the converter drives it: while files follow, each is encoded
// in one piece on a core of its own, exactly as the lame command writes it.
void TestMp3EncSegments::sideBySide_data()
{
    QTest::addColumn<QList<double>>("seconds"); // the batch, in list order
    QTest::addColumn<int>("toCome");            // files the host has not handed over
    QTest::addColumn<QList<bool>>("onePiece");
    QTest::newRow("two even files") << QList<double>{46, 46} << 0 << QList<bool>{true, true};
    QTest::newRow("more to come") << QList<double>{46} << 3 << QList<bool>{true};
    QTest::newRow("a long file, a short one")
        << QList<double>{92, 6} << 0 << QList<bool>{false, true};
}

void TestMp3EncSegments::sideBySide()
{
    QFETCH(QList<double>, seconds);
    QFETCH(int, toCome);
    QFETCH(QList<bool>, onePiece);
    if (std::thread::hardware_concurrency() < 2)
        QSKIP("one core: every file is encoded in one piece");
    EncoderFixture encoder;
    QVERIFY(encoder.ok());
    QStringList wavs, mp3s;
    for (qsizetype i = 0; i < seconds.size(); ++i) {
        wavs << input(44100, 2, seconds[i]);
        mp3s << QDir(m_out).filePath(QStringLiteral("并排 %1.mp3").arg(i));
    }
    const int count = int(wavs.size());
    encoder.control->put(QStringLiteral("FilesToCome"), count - 1 + toCome);
    encoder.control->call(QStringLiteral("Open"), {wavs[0], mp3s[0]});
    encoder.control->call(QStringLiteral("Encode"));
    for (int i = 1; i < count; ++i)
        encoder.control->call(QStringLiteral("Prefetch"), {wavs[i], mp3s[i]});
    encoder.control->put(QStringLiteral("FilesToCome"), toCome);
    QVERIFY(QTest::qWaitFor([&] { return encoder.site.ended(); }, 60000));
    for (int i = 1; i < count; ++i) {
        QCOMPARE(encoder.site.count(RecordingSite::Failure), 0);
        encoder.site.events.clear();
        QVERIFY(encoder.convert(wavs[i], mp3s[i]));
    }
    QCOMPARE(encoder.site.count(RecordingSite::Failure), 0);
    for (int i = 0; i < count; ++i) {
        const QString theirs = reference(wavs[i], 128, true, 2);
        QVERIFY(!theirs.isEmpty());
        const QByteArray ours = audiocheck::readAll(mp3s[i]);
        QCOMPARE(ours.size(), audiocheck::readAll(theirs).size());
        QCOMPARE(ours == audiocheck::readAll(theirs), onePiece[i]);
        QFile::remove(mp3s[i]);
    }
}

QTEST_GUILESS_MAIN(TestMp3EncSegments)
#include "test_mp3enc_segments.moc"
