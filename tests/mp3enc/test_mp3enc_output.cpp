// What the encoder writes: the same bytes as the lame command, every WAV flavour, exact lengths.
#include "tests/mp3enc/audiocheck.h"
#include "tests/mp3enc/encoderfixture.h"

#include <QTemporaryDir>
#include <QtTest>
#include <sndfile.h>

class TestMp3EncOutput final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void matchesLameCommand_data();
    void matchesLameCommand();
    void everyModeMatchesLameCommand_data();
    void everyModeMatchesLameCommand();
    void everyWaveFlavour_data();
    void everyWaveFlavour();
    void lowSampleRates_data();
    void lowSampleRates();

private:
    // `wav` at `kbps` through the component into `ours`, through the lame command into `theirs`.
    void encodeBoth(const QString &wav, int kbps, const QString &ours, const QString &theirs);

    QString m_folder;
    QTemporaryDir m_dir;
};

void TestMp3EncOutput::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // Blanks and Chinese in every path the encoder is given.
    m_folder = m_dir.filePath(QStringLiteral("输出 目录"));
    QVERIFY(QDir().mkpath(m_folder));
}

void TestMp3EncOutput::encodeBoth(const QString &wav, int kbps, const QString &ours,
                                  const QString &theirs)
{
    EncoderFixture encoder;
    QVERIFY(encoder.ok());
    encoder.control->put(QStringLiteral("BitRate"), kbps * 1000);
    QVERIFY(encoder.convert(wav, ours));
    QCOMPARE(encoder.site.count(RecordingSite::Failure), 0);
    QVERIFY(runTool(QStringLiteral("lame"), {QStringLiteral("-b"), QString::number(kbps),
                                             QStringLiteral("--quiet"), wav, theirs}));
}

void TestMp3EncOutput::matchesLameCommand_data()
{
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("sampleRate");
    QTest::addColumn<int>("kbps");
    for (int channels : {1, 2}) {
        for (int rate : {44100, 48000}) {
            for (int kbps : {32, 56, 64, 96, 112, 128, 256}) {
                QTest::addRow("%dch %dHz %dkbps", channels, rate, kbps) << channels << rate << kbps;
            }
        }
    }
}

// 16-bit mono and stereo, the converter's seven bit rates: byte for byte "lame -b N".
void TestMp3EncOutput::matchesLameCommand()
{
    QFETCH(int, channels);
    QFETCH(int, sampleRate);
    QFETCH(int, kbps);
    const QString wav =
        QDir(m_folder).filePath(QStringLiteral("歌 曲 %1 %2.wav").arg(channels).arg(sampleRate));
    if (!QFile::exists(wav))
        QVERIFY(testsupport::writeWav(wav, sampleRate * 5 / 2 + 77, channels, sampleRate));
    const QString ours = QDir(m_folder).filePath(QStringLiteral("我们的 %1.mp3").arg(kbps));
    const QString theirs = QDir(m_folder).filePath(QStringLiteral("lame %1.mp3").arg(kbps));

    encodeBoth(wav, kbps, ours, theirs);
    QVERIFY(!QTest::currentTestFailed());

    QFile a(ours), b(theirs);
    QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    const QByteArray ourBytes = a.readAll();
    QCOMPARE(ourBytes.size(), b.size());
    QVERIFY(ourBytes == b.readAll());
    if (kbps >= 64) // the info tag fits the first frame from here up
        QVERIFY(ourBytes.left(400).contains("Info") && ourBytes.left(400).contains("LAME"));
}

void TestMp3EncOutput::everyModeMatchesLameCommand_data()
{
    QTest::addColumn<QStringList>("lameArgs");
    QTest::addColumn<int>("rateMode"); // the component's RateMode
    QTest::addColumn<int>("value");    // its VbrQuality, or BitRate in kbit/s
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("sampleRate");
    for (int q : {0, 2, 9})
        QTest::addRow("-V %d", q) << QStringList{QStringLiteral("-V"), QString::number(q)} << 1 << q
                                  << 2 << 44100;
    QTest::newRow("-V 4 mono 48 kHz")
        << QStringList{QStringLiteral("-V"), QStringLiteral("4")} << 1 << 4 << 1 << 48000;
    for (int kbps : {96, 192})
        QTest::addRow("--abr %d", kbps)
            << QStringList{QStringLiteral("--abr"), QString::number(kbps)} << 2 << kbps << 2
            << 44100;
    for (int kbps : {320, 128})
        QTest::addRow("-b %d", kbps)
            << QStringList{QStringLiteral("-b"), QString::number(kbps)} << 0 << kbps << 2 << 44100;
}

// Music-like input in every rate mode, in one piece: byte for byte the lame command's, the info
// tag (a variable rate's seek table among it) included.
void TestMp3EncOutput::everyModeMatchesLameCommand()
{
    QFETCH(QStringList, lameArgs);
    QFETCH(int, rateMode);
    QFETCH(int, value);
    QFETCH(int, channels);
    QFETCH(int, sampleRate);
    const QString wav =
        QDir(m_folder).filePath(QStringLiteral("音乐 %1 %2.wav").arg(channels).arg(sampleRate));
    if (!QFile::exists(wav))
        QVERIFY(audiocheck::writeBusyWav(wav, 4.3, sampleRate, channels));
    const QString ours = QDir(m_folder).filePath(QStringLiteral("方式.mp3"));
    const QString theirs = QDir(m_folder).filePath(QStringLiteral("方式 lame.mp3"));

    EncoderFixture encoder;
    QVERIFY(encoder.ok());
    encoder.control->put(QStringLiteral("Threads"), 1);
    encoder.control->put(QStringLiteral("RateMode"), rateMode);
    encoder.control->put(rateMode == 1 ? QStringLiteral("VbrQuality") : QStringLiteral("BitRate"),
                         rateMode == 1 ? value : value * 1000);
    QVERIFY(encoder.convert(wav, ours));
    QCOMPARE(encoder.site.count(RecordingSite::Failure), 0);
    QVERIFY(
        runTool(QStringLiteral("lame"), lameArgs << QStringLiteral("--quiet") << wav << theirs));
    const QByteArray ourBytes = audiocheck::readAll(ours);
    QCOMPARE(ourBytes.size(), QFileInfo(theirs).size());
    QVERIFY(ourBytes == audiocheck::readAll(theirs));
    QVERIFY(ourBytes.left(400).contains(rateMode == 0 ? "Info" : "Xing"));
}

void TestMp3EncOutput::everyWaveFlavour_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("sampleRate");
    QTest::addColumn<int>("kbps");
    QTest::addColumn<bool>("allowDownSample");
    QTest::addColumn<int>("outRate"); // what the MP3 must carry

    constexpr int Wav = SF_FORMAT_WAV, Wavex = SF_FORMAT_WAVEX;
    QTest::newRow("8-bit mono") << (Wav | SF_FORMAT_PCM_U8) << 1 << 44100 << 128 << true << 44100;
    QTest::newRow("24-bit stereo")
        << (Wav | SF_FORMAT_PCM_24) << 2 << 44100 << 128 << true << 44100;
    QTest::newRow("32-bit stereo")
        << (Wav | SF_FORMAT_PCM_32) << 2 << 48000 << 192 << true << 48000;
    QTest::newRow("float stereo") << (Wav | SF_FORMAT_FLOAT) << 2 << 44100 << 128 << true << 44100;
    QTest::newRow("double mono") << (Wav | SF_FORMAT_DOUBLE) << 1 << 32000 << 96 << true << 32000;
    QTest::newRow("extensible 24-bit")
        << (Wavex | SF_FORMAT_PCM_24) << 2 << 48000 << 256 << true << 48000;
    QTest::newRow("extensible float")
        << (Wavex | SF_FORMAT_FLOAT) << 1 << 44100 << 64 << true << 44100;
    QTest::newRow("3 channels mixed down")
        << (Wav | SF_FORMAT_PCM_16) << 3 << 44100 << 128 << true << 44100;
    QTest::newRow("5.1 extensible mixed down")
        << (Wavex | SF_FORMAT_PCM_16) << 6 << 48000 << 128 << true << 48000;
    QTest::newRow("8 channels mixed down")
        << (Wavex | SF_FORMAT_PCM_24) << 8 << 44100 << 256 << true << 44100;
    QTest::newRow("22.05 kHz mono")
        << (Wav | SF_FORMAT_PCM_16) << 1 << 22050 << 128 << true << 22050;
    QTest::newRow("8 kHz mono") << (Wav | SF_FORMAT_PCM_16) << 1 << 8000 << 64 << true << 8000;
    QTest::newRow("96 kHz resampled")
        << (Wav | SF_FORMAT_PCM_24) << 2 << 96000 << 128 << true << 48000;
    QTest::newRow("11.025 kHz") << (Wav | SF_FORMAT_PCM_16) << 2 << 11025 << 64 << true << 11025;
    QTest::newRow("low rate, down-sampling allowed")
        << (Wav | SF_FORMAT_PCM_16) << 2 << 44100 << 64 << true << 24000;
    QTest::newRow("low rate, rate kept")
        << (Wav | SF_FORMAT_PCM_16) << 2 << 44100 << 64 << false << 44100;
    QTest::newRow("96 kHz, rate kept as near as MP3 allows")
        << (Wav | SF_FORMAT_PCM_16) << 2 << 96000 << 96 << false << 48000;
}

// Each flavour encodes; the decoded length is the input's, at the MP3's rate. Where the lame
// command reads the same file (one or two channels), the bytes are its bytes too.
void TestMp3EncOutput::everyWaveFlavour()
{
    QFETCH(int, format);
    QFETCH(int, channels);
    QFETCH(int, sampleRate);
    QFETCH(int, kbps);
    QFETCH(bool, allowDownSample);
    QFETCH(int, outRate);
    const QString wav =
        QDir(m_folder).filePath(QStringLiteral("输入 %1.wav").arg(QTest::currentDataTag()));
    const QString mp3 =
        QDir(m_folder).filePath(QStringLiteral("输出 %1.mp3").arg(QTest::currentDataTag()));
    const int frames = sampleRate * 3 / 2 + 301;
    QVERIFY(testsupport::writeWav(wav, frames, channels, sampleRate, format));

    EncoderFixture encoder;
    QVERIFY(encoder.ok());
    encoder.control->put(QStringLiteral("BitRate"), kbps * 1000);
    encoder.control->put(QStringLiteral("AllowDownSample"), allowDownSample);
    QVERIFY(encoder.convert(wav, mp3));
    QCOMPARE(encoder.site.count(RecordingSite::Failure), 0);

    const Decoded decoded = decode(mp3, m_dir.path());
    QCOMPARE(decoded.channels, std::min(channels, 2));
    QCOMPARE(decoded.sampleRate, outRate);
    if (outRate == sampleRate) {
        QCOMPARE(decoded.frames, qint64(frames));
    } else { // resampling may round at either end
        const double expected = double(frames) * outRate / sampleRate;
        QVERIFY2(
            std::abs(decoded.frames - expected) <= 2,
            qPrintable(QStringLiteral("%1 frames, expected %2").arg(decoded.frames).arg(expected)));
    }

    if (channels <= 2) {
        const QString theirs = QDir(m_folder).filePath(QStringLiteral("lame.mp3"));
        QStringList args{QStringLiteral("-b"), QString::number(kbps), QStringLiteral("--quiet")};
        if (!allowDownSample)
            args << QStringLiteral("--resample") << QString::number(outRate / 1000.0);
        QVERIFY(runTool(QStringLiteral("lame"), args << wav << theirs));
        QCOMPARE(fileDigest(mp3), fileDigest(theirs));
    }
}

void TestMp3EncOutput::lowSampleRates_data()
{
    QTest::addColumn<int>("sampleRate");
    QTest::addColumn<int>("kbps");
    for (int rate : {1000, 2000, 4000, 6000, 8000, 11025}) {
        for (int kbps : {32, 128})
            QTest::addRow("%d Hz %d kbps", rate, kbps) << rate << kbps;
    }
}

// Rates below MP3's own are raised by LAME's resampler, which hands back several times more
// bytes per call than the input's length suggests: still the lame command's bytes.
void TestMp3EncOutput::lowSampleRates()
{
    QFETCH(int, sampleRate);
    QFETCH(int, kbps);
    const QString wav = QDir(m_folder).filePath(QStringLiteral("low %1.wav").arg(sampleRate));
    const QString ours = QDir(m_folder).filePath(QStringLiteral("low ours.mp3"));
    const QString theirs = QDir(m_folder).filePath(QStringLiteral("low lame.mp3"));
    if (!QFile::exists(wav))
        QVERIFY(testsupport::writeWav(wav, sampleRate * 7 + 13, 1, sampleRate));

    encodeBoth(wav, kbps, ours, theirs);
    QVERIFY(!QTest::currentTestFailed());
    QCOMPARE(fileDigest(ours), fileDigest(theirs));
    QVERIFY(QFileInfo(ours).size() > 0);
}

QTEST_GUILESS_MAIN(TestMp3EncOutput)
#include "test_mp3enc_output.moc"
