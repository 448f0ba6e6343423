// Every kind of input the encoder reads: a lossless one gives exactly the lame command's file for
// the same samples as a WAV, a lossy one its exact length through the float path a float WAV
// takes, a long one is split on every core as a WAV is; an MP3 is refused.
#include "mp3enc/encode/encodejob.h"
#include "mp3enc/input/sndfilereader.h"
#include "mp3enc/segments/parallelencode.h"
#include "runtime/comerror.h"
#include "tests/mp3enc/encoderfixture.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>
#include <sndfile.h>
#include <stop_token>
#include <vector>

namespace {

// Decodes any lossless input to a WAV of `bits` bits: flac's own decoder for FLAC, ffmpeg for
// the rest.
bool decodeToWav(const QString &input, const QString &wav, int bits)
{
    QFile::remove(wav);
    if (input.endsWith(QLatin1String(".flac")))
        return runTool(QStringLiteral("flac"), {QStringLiteral("-d"), QStringLiteral("-s"),
                                                QStringLiteral("-o"), wav, input});
    return runTool(QStringLiteral("ffmpeg"),
                   {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), input,
                    QStringLiteral("-c:a"), QStringLiteral("pcm_s%1le").arg(bits), wav});
}

// The input as libsndfile decodes it, written as a 32-bit float WAV.
bool writeFloatCopy(const QString &input, const QString &wav)
{
    SF_INFO in{};
    SNDFILE *source = sf_open(QFile::encodeName(input).constData(), SFM_READ, &in);
    if (!source)
        return false;
    std::vector<float> samples(std::size_t(in.frames) * std::size_t(in.channels));
    const sf_count_t frames = sf_readf_float(source, samples.data(), in.frames);
    sf_close(source);
    SF_INFO out{};
    out.samplerate = in.samplerate;
    out.channels = in.channels;
    out.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE *copy = sf_open(QFile::encodeName(wav).constData(), SFM_WRITE, &out);
    if (!copy)
        return false;
    const bool written = sf_writef_float(copy, samples.data(), frames) == frames;
    return sf_close(copy) == 0 && frames > 0 && written;
}

// The frames a full decode gives, whatever the header says.
qint64 decodedFrames(const QString &path)
{
    SF_INFO info{};
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file)
        return -1;
    std::vector<float> block(4096 * std::size_t(info.channels));
    qint64 frames = 0;
    for (sf_count_t n; (n = sf_readf_float(file, block.data(), 4096)) > 0;)
        frames += n;
    sf_close(file);
    return frames;
}

// Ogg's CRC-32: polynomial 0x04C11DB7, not reflected, over the page with its CRC field zero.
quint32 oggCrc(const QByteArray &page)
{
    quint32 crc = 0;
    for (const char c : page) {
        crc ^= quint32(quint8(c)) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 0x80000000u ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

// Lowers the granule position of the stream's first audio page by `samples`, so that libsndfile
// counts more samples than its decoder gives, as it does for some released Vorbis files (whose
// first audio page has a negative granule position).
bool shiftFirstAudioPage(const QString &path, int samples)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    QByteArray all = file.readAll();
    for (qsizetype at = 0; (at = all.indexOf("OggS", at)) >= 0 && all.size() >= at + 27;) {
        const int segments = quint8(all[at + 26]);
        qsizetype size = 27 + segments;
        for (int i = 0; i < segments; ++i)
            size += quint8(all[at + 27 + i]);
        const qint64 granule = qFromLittleEndian<qint64>(all.constData() + at + 6);
        if (granule > 0) {
            qToLittleEndian(granule - samples, all.data() + at + 6);
            qToLittleEndian(quint32(0), all.data() + at + 22);
            qToLittleEndian(oggCrc(all.mid(at, size)), all.data() + at + 22);
            return file.seek(0) && file.write(all) == all.size();
        }
        at += size;
    }
    return false;
}

// ffmpeg's FLAC of `wav`, once into a file (its stream information then gives the length) and
// once into a pipe, as a stream that is written as it goes leaves it: no sample count.
bool writeFlacPair(const QString &wav, const QString &ordinary, const QString &streamed)
{
    const QStringList common{QStringLiteral("-v"),
                             QStringLiteral("error"),
                             QStringLiteral("-y"),
                             QStringLiteral("-i"),
                             wav,
                             QStringLiteral("-f"),
                             QStringLiteral("flac")};
    if (!runTool(QStringLiteral("ffmpeg"), common + QStringList{ordinary}))
        return false;
    QProcess process;
    process.setStandardOutputFile(streamed);
    process.start(QStringLiteral("ffmpeg"), common + QStringList{QStringLiteral("pipe:1")});
    return process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

} // namespace

class TestMp3EncFormats final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

    // Converts through the component, as the converter does; the MP3, or "" after a failure.
    QString convert(const QString &input, int threads = 1)
    {
        const QString mp3 = input + QStringLiteral(".mp3");
        EncoderFixture encoder;
        if (!encoder.ok())
            return {};
        encoder.control->put(QStringLiteral("Threads"), threads);
        if (!encoder.convert(input, mp3) || encoder.site.count(RecordingSite::Failure) != 0)
            return {};
        // The last ActFrame is the frame count, also where the length was an estimate.
        const auto &events = encoder.site.events;
        const int count = encoder.control->call(QStringLiteral("GetFrameCount")).toInt();
        if (events.size() < 2 || events[events.size() - 2].args.value(0).toInt() != count) {
            qWarning("the last ActFrame is not the frame count %d", count);
            return {};
        }
        return mp3;
    }

    // The frame count Open gives, which LAME was told: -1 when Open refuses the file.
    static int openedFrameCount(const QString &input)
    {
        EncoderFixture encoder;
        try {
            encoder.control->call(QStringLiteral("Open"), {input, input + QStringLiteral(".mp3")});
            return encoder.control->call(QStringLiteral("GetFrameCount")).toInt();
        } catch (const rt::ComError &e) {
            qWarning("refused: %s", qPrintable(e.description()));
            return -1;
        }
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void lossless_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("ending");
        QTest::addColumn<int>("bits");
        QTest::newRow("FLAC 16") << (SF_FORMAT_FLAC | SF_FORMAT_PCM_16) << "flac" << 16;
        QTest::newRow("FLAC 24") << (SF_FORMAT_FLAC | SF_FORMAT_PCM_24) << "flac" << 24;
        QTest::newRow("AIFF 16") << (SF_FORMAT_AIFF | SF_FORMAT_PCM_16) << "aiff" << 16;
        QTest::newRow("AIFC little-endian 16")
            << (SF_FORMAT_AIFF | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE) << "aifc" << 16;
        QTest::newRow("W64 16") << (SF_FORMAT_W64 | SF_FORMAT_PCM_16) << "w64" << 16;
        QTest::newRow("RF64 24") << (SF_FORMAT_RF64 | SF_FORMAT_PCM_24) << "rf64" << 24;
        QTest::newRow("CAF 16") << (SF_FORMAT_CAF | SF_FORMAT_PCM_16) << "caf" << 16;
        QTest::newRow("AU 16") << (SF_FORMAT_AU | SF_FORMAT_PCM_16) << "au" << 16;
    }

    // Frame for frame the lame command's file for the samples another decoder gets from it.
    void lossless()
    {
        QFETCH(int, format);
        QFETCH(QString, ending);
        QFETCH(int, bits);
        const QString input =
            path(QStringLiteral("无损 %1.%2").arg(QTest::currentDataTag(), ending));
        QVERIFY(testsupport::writeWav(input, 44100 * 2 + 77, 2, 44100, format));
        const QString wav = input + QStringLiteral(".wav");
        QVERIFY(decodeToWav(input, wav, bits));
        const QString lame = wav + QStringLiteral(".mp3");
        QVERIFY(runTool(QStringLiteral("lame"), {QStringLiteral("--quiet"), QStringLiteral("-b"),
                                                 QStringLiteral("128"), wav, lame}));
        const QString ours = convert(input);
        QVERIFY(!ours.isEmpty());
        QCOMPARE(fileDigest(ours), fileDigest(lame));
    }

    // A long FLAC is split on every core like the WAV of its samples, and joined into the same
    // file.
    void longFlacSplits()
    {
        const QString flac = path(QStringLiteral("长.flac"));
        QVERIFY(
            testsupport::writeWav(flac, 44100 * 31, 2, 44100, SF_FORMAT_FLAC | SF_FORMAT_PCM_16));
        const QString wav = flac + QStringLiteral(".wav");
        QVERIFY(decodeToWav(flac, wav, 16));
        QByteArray digests[2];
        for (const QString &input : {flac, wav}) {
            auto reader = std::make_unique<SndFileReader>();
            QVERIFY(reader->open(input));
            LameEncoder::Settings settings;
            settings.sampleRate = reader->sampleRate();
            settings.channels = 2;
            settings.frames = std::uint64_t(reader->frames());
            auto lame = std::make_unique<LameEncoder>();
            QString error;
            QVERIFY(lame->init(settings, &error));
            const QString mp3 = input + QStringLiteral(".mp3");
            EncodeJob job(std::move(reader), std::move(lame), mp3);
            SegmentOptions options;
            options.threads = 2;
            job.allowSegments(settings, options);
            QVERIFY(job.parallel());
            std::stop_source stop;
            QCOMPARE(job.run(stop.get_token(), [](int) {}).status, EncodeResult::Done);
            QCOMPARE(job.commit().status, EncodeResult::Done);
            QVERIFY(job.parallel()->joined());
            digests[input == wav] = fileDigest(mp3);
        }
        QCOMPARE(digests[0], digests[1]);
    }

    void flacWithoutLength_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<int>("threads");
        QTest::addColumn<QByteArray>("behind"); // appended to the streamed file
        QTest::addColumn<int>("cut");           // bytes cut off its end
        QTest::newRow("in one piece") << 2 << 1 << QByteArray() << 0;
        QTest::newRow("long, split on every core") << 31 << 2 << QByteArray() << 0;
        QTest::newRow("ID3v1 tag behind") << 2 << 1 << "TAG" + QByteArray(125, 'x') << 0;
        QTest::newRow("cut inside its last frame") << 2 << 1 << QByteArray() << 300;
    }

    // A FLAC written to a pipe states no length: its MP3 is the one the same stream gives with
    // its length stated (LAME told the exact length up front), and as long as its decode.
    void flacWithoutLength()
    {
        QFETCH(int, seconds);
        QFETCH(int, threads);
        QFETCH(QByteArray, behind);
        QFETCH(int, cut);
        const QString name = path(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(testsupport::writeWav(name + QStringLiteral(".wav"), 44100 * seconds + 77, 2));
        const QString ordinary = name + QStringLiteral(" 有长度.flac");
        const QString streamed = name + QStringLiteral(" 流.flac");
        QVERIFY(writeFlacPair(name + QStringLiteral(".wav"), ordinary, streamed));
        QFile file(streamed);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.resize(file.size() - cut));
        QVERIFY(file.seek(file.size()) && file.write(behind) == behind.size());
        file.close();

        if (cut == 0)
            QCOMPARE(openedFrameCount(streamed), openedFrameCount(ordinary));
        const QString ours = convert(streamed, threads);
        QVERIFY(!ours.isEmpty());
        QCOMPARE(decode(ours, m_dir.path()).frames, decodedFrames(streamed));
        if (cut == 0)
            QCOMPARE(fileDigest(ours), fileDigest(convert(ordinary, threads)));
    }

    void lossy_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("rate");
        QTest::addColumn<QString>("ending");
        QTest::addColumn<int>("shift"); // of the first audio page's granule position
        QTest::newRow("Ogg Vorbis") << (SF_FORMAT_OGG | SF_FORMAT_VORBIS) << 44100 << "ogg" << 0;
        QTest::newRow("Opus") << (SF_FORMAT_OGG | SF_FORMAT_OPUS) << 48000 << "opus" << 0;
        QTest::newRow("Ogg Vorbis, counted longer than it decodes")
            << (SF_FORMAT_OGG | SF_FORMAT_VORBIS) << 44100 << "ogg" << 2000;
    }

    // Decoded to the input's exact length (gapless), and the file a float WAV of the same
    // decode gives.
    void lossy()
    {
        QFETCH(int, format);
        QFETCH(int, rate);
        QFETCH(QString, ending);
        QFETCH(int, shift);
        const QString input = path(QStringLiteral("有损 %1.%2").arg(shift).arg(ending));
        QVERIFY(testsupport::writeWav(input, rate * 2 + 333, 2, rate, format));
        if (shift) {
            QVERIFY(shiftFirstAudioPage(input, shift));
            SF_INFO info{};
            SNDFILE *file = sf_open(QFile::encodeName(input).constData(), SFM_READ, &info);
            QVERIFY(file);
            sf_close(file);
            QVERIFY(info.frames > decodedFrames(input)); // what libsndfile believes
        }
        const qint64 frames = decodedFrames(input);
        const QString ours = convert(input);
        QVERIFY(!ours.isEmpty());
        QCOMPARE(decode(ours, m_dir.path()).frames, frames);
        const QString floatWav = input + QStringLiteral(".float.wav");
        QVERIFY(writeFloatCopy(input, floatWav));
        const QString viaFloat = convert(floatWav);
        QVERIFY(!viaFloat.isEmpty());
        QCOMPARE(fileDigest(ours), fileDigest(viaFloat));
    }

    // An MP3 would only lose more on its way back to MP3: refused at Open like any non-audio.
    void mp3Refused()
    {
        const QString wav = path(QStringLiteral("源.wav"));
        QVERIFY(testsupport::writeWav(wav, 44100));
        const QString mp3 = path(QStringLiteral("已经.mp3"));
        QVERIFY(runTool(QStringLiteral("lame"), {QStringLiteral("--quiet"), wav, mp3}));
        EncoderFixture encoder;
        QVERIFY(encoder.ok());
        int error = 0;
        try {
            encoder.control->call(QStringLiteral("Open"), {mp3, mp3 + QStringLiteral(".mp3")});
        } catch (const rt::ComError &e) {
            error = e.number();
        }
        QCOMPARE(error, 321);
    }
};

QTEST_GUILESS_MAIN(TestMp3EncFormats)
#include "test_mp3enc_formats.moc"
