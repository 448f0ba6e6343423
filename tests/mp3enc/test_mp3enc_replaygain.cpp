// The radio gain the analysis computes, against the one the lame command writes into its info tag
// for the same samples; and the same histogram however the samples are handed over. Where LAME
// resamples, the same through our copy of its resampler, also against LAME fed as our encoder
// feeds it.
#include "mp3enc/calc/mp3frame.h"
#include "mp3enc/calc/replaygain.h"
#include "mp3enc/encode/blockfeeder.h"
#include "mp3enc/encode/lameencoder.h"
#include "mp3enc/encode/loudness.h"
#include "mp3enc/input/resampler.h"
#include "mp3enc/input/sndfilereader.h"
#include "tests/mp3enc/encoderfixture.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <cmath>
#include <numbers>
#include <optional>
#include <random>
#include <sndfile.h>
#include <vector>

namespace {

enum class Signal
{
    Silence,
    QuietSine,
    LoudSine,
    Noise,
    Music // tones and noise under a slow swell, so the blocks spread over many levels
};

// Interleaved 16-bit samples; the right channel differs from the left.
std::vector<short> generate(Signal signal, int rate, int channels, int frames)
{
    std::minstd_rand noise(7);
    const auto hiss = [&noise] { return double(noise() % 20001) / 10000.0 - 1.0; };
    std::vector<short> samples;
    samples.reserve(std::size_t(frames * channels));
    for (int i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        const auto tone = [t](double hz) { return std::sin(2 * std::numbers::pi * hz * t); };
        for (int ch = 0; ch < channels; ++ch) {
            const double hz = ch == 0 ? 997.0 : 1499.0;
            double v = 0;
            switch (signal) {
            case Signal::Silence:
                break;
            case Signal::QuietSine:
                v = 300 * tone(hz);
                break;
            case Signal::LoudSine:
                v = 32000 * tone(hz);
                break;
            case Signal::Noise:
                v = 20000 * hiss();
                break;
            case Signal::Music: {
                const double swell = 0.02 + std::pow(0.5 + 0.5 * tone(0.4 + 0.3 * ch), 2);
                v = swell * (9000 * tone(hz / 4) + 5000 * tone(hz) + 3000 * hiss());
                break;
            }
            }
            samples.push_back(short(std::lround(v)));
        }
    }
    return samples;
}

bool writeWav(const QString &path, const std::vector<short> &samples, int rate, int channels)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file)
        return false;
    const sf_count_t frames = sf_count_t(samples.size()) / channels;
    const bool written = sf_writef_short(file, samples.data(), frames) == frames;
    return sf_close(file) == 0 && written;
}

// The WAV as the encoder reads it, in full-scale 32-bit samples, then as LAME takes them in.
std::vector<std::vector<float>> lameInput(const QString &path, float scale)
{
    SF_INFO info{};
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file)
        return {};
    std::vector<int> interleaved(std::size_t(info.frames * info.channels));
    sf_readf_int(file, interleaved.data(), info.frames);
    sf_close(file);
    std::vector<std::vector<float>> channels(std::size_t(info.channels));
    for (std::size_t i = 0; i < interleaved.size(); ++i)
        channels[i % channels.size()].push_back(replaygain::lameSample(interleaved[i], scale));
    return channels;
}

// The first frame's header and the radio gain field of the info tag inside it, where LAME wrote
// one: it writes none in a frame too small to hold it.
struct LameTag
{
    mp3frame::Header header;
    bool tagged = false;
    std::uint16_t radioGain = 0;
};

bool parseLameTag(const QByteArray &bytes, LameTag *tag)
{
    constexpr int RadioGainAt = 135; // from the "Info" word
    constexpr int EncoderAt = 120;
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData());
    if (bytes.size() < 4 || !mp3frame::parseHeader(data, &tag->header))
        return false;
    const qsizetype info = bytes.indexOf("Info");
    tag->tagged = info >= 0 && info + RadioGainAt + 2 <= tag->header.frameBytes &&
                  bytes.mid(info + EncoderAt, 4) == "LAME";
    if (tag->tagged)
        tag->radioGain =
            std::uint16_t(data[info + RadioGainAt] << 8 | data[info + RadioGainAt + 1]);
    return true;
}

bool readLameTag(const QString &mp3, LameTag *tag)
{
    QFile file(mp3);
    return file.open(QIODevice::ReadOnly) && parseLameTag(file.read(2880), tag);
}

// The tag field's gain in tenths of a dB, as LAME reports it.
int tenthsOf(std::uint16_t field)
{
    constexpr int Magnitude = 0x1FF, Negative = 0x200;
    return field & Negative ? -(field & Magnitude) : field & Magnitude;
}

// Runs the lame command at `kbps`, letting it pick the rate; the radio gain it reports at the end,
// in tenths of a dB, which it reports even where no tag carries it.
std::optional<int> encodeWithCommand(const QString &wav, const QString &mp3, int kbps)
{
    QProcess lame;
    lame.setProcessChannelMode(QProcess::MergedChannels);
    lame.start(QStringLiteral("lame"), {QStringLiteral("-b"), QString::number(kbps), wav, mp3});
    if (!lame.waitForFinished(60000) || lame.exitStatus() != QProcess::NormalExit ||
        lame.exitCode() != 0)
        return std::nullopt;
    static const QRegularExpression report(QStringLiteral("ReplayGain: ([-+]?\\d+\\.\\d)dB"));
    const QRegularExpressionMatch match = report.match(QString::fromLocal8Bit(lame.readAll()));
    if (!match.hasMatch())
        return std::nullopt;
    return int(std::lround(match.captured(1).toDouble() * 10));
}

float lameScale(int rate, int channels, int kbps)
{
    LameEncoder encoder;
    QString error;
    LameEncoder::Settings settings;
    settings.sampleRate = rate;
    settings.outSampleRate = rate;
    settings.channels = channels;
    settings.kbps = kbps;
    return encoder.init(settings, &error) ? encoder.scale() : 0.0f;
}

using Channels = std::vector<std::vector<float>>;

void feed(replaygain::Analysis &analysis, const Channels &in, std::size_t from, std::size_t n)
{
    const float *right = in.size() > 1 ? in[1].data() + from : nullptr;
    analysis.analyze(in[0].data() + from, right, n, int(in.size()));
}

replaygain::Histogram onePass(int rate, const Channels &in)
{
    replaygain::Analysis analysis(rate);
    feed(analysis, in, 0, in[0].size());
    analysis.finish();
    return analysis.histogram();
}

replaygain::Histogram inOddChunks(int rate, const Channels &in)
{
    constexpr std::size_t Chunks[] = {1, 7, 1151, 2, 4097, 333, 10, 576};
    replaygain::Analysis analysis(rate);
    for (std::size_t from = 0, i = 0; from < in[0].size(); ++i) {
        const std::size_t n = std::min(Chunks[i % std::size(Chunks)], in[0].size() - from);
        feed(analysis, in, from, n);
        from += n;
    }
    analysis.finish();
    return analysis.histogram();
}

// Three stretches cut at block boundaries, each started with its predecessor's filter history.
replaygain::Histogram inStretches(int rate, const Channels &in)
{
    const std::size_t total = in[0].size();
    const auto block = std::size_t(replaygain::Analysis::blockLength(rate));
    const std::size_t cuts[] = {0, total / 3 / block * block, total * 2 / 3 / block * block, total};
    replaygain::Histogram sum;
    replaygain::History history;
    for (int i = 0; i < 3; ++i) {
        replaygain::Analysis stretch(rate, std::int64_t(cuts[i]), history);
        feed(stretch, in, cuts[i], cuts[i + 1] - cuts[i]);
        if (i == 2)
            stretch.finish();
        sum += stretch.histogram();
        history = stretch.history();
    }
    return sum;
}

// What LAME analyses where it resamples, fed `chunk` input samples a call.
struct Resampled
{
    std::uint16_t radioGain = 0;
    std::int64_t frames = 0;
};

Resampled resampled(int rate, int outRate, const Channels &in, std::size_t chunk)
{
    const int channels = int(in.size());
    replaygain::Analysis analysis(outRate);
    resampler::Stream stream(rate, outRate, channels, [&](const float *l, const float *r, int n) {
        analysis.analyzeCall(l, r, std::size_t(n), channels);
    });
    for (std::size_t from = 0; from < in[0].size(); from += chunk) {
        const std::size_t n = std::min(chunk, in[0].size() - from);
        stream.encode(in[0].data() + from, in.back().data() + from, int(n));
    }
    stream.flush();
    return {replaygain::radioGainField(replaygain::titleGain(analysis.histogram())),
            stream.frames()};
}

// LAME itself, fed the WAV in our encoder's blocks at the rate it picks for `kbps`.
struct LibraryEncode
{
    int outRate = 0;
    float scale = 0;
    std::int64_t frames = 0;
    int radioGain = 0; // tenths of a dB
    LameTag tag;
};

bool encodeWithLibrary(const QString &wav, int kbps, LibraryEncode *result)
{
    SndFileReader reader;
    LameEncoder encoder;
    QString error;
    LameEncoder::Settings settings;
    if (!reader.open(wav))
        return false;
    settings.sampleRate = reader.sampleRate();
    settings.channels = reader.channels();
    settings.frames = std::uint64_t(reader.frames());
    settings.kbps = kbps;
    if (!encoder.init(settings, &error))
        return false;
    BlockFeeder feeder(reader, encoder);
    std::vector<unsigned char> mp3;
    for (std::int64_t done = 0; done < reader.frames(); done += feeder.blockFrames()) {
        const auto want = int(std::min<std::int64_t>(feeder.blockFrames(), reader.frames() - done));
        if (feeder.feed(want, mp3).status != EncodeResult::Done)
            return false;
    }
    if (!encoder.flush(mp3))
        return false;
    const std::vector<unsigned char> tag = encoder.lametagFrame();
    result->outRate = encoder.outSampleRate();
    result->scale = encoder.scale();
    result->frames = encoder.frameNumber();
    result->radioGain = encoder.radioGain();
    return tag.empty() || parseLameTag(QByteArray(reinterpret_cast<const char *>(tag.data()),
                                                  qsizetype(tag.size())),
                                       &result->tag);
}

} // namespace

Q_DECLARE_METATYPE(Signal)

class TestMp3EncReplayGain final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void matchesLame_data();
    void matchesLame();
    void resampledMatchesLame_data();
    void resampledMatchesLame();

private:
    QTemporaryDir m_dir;
};

void TestMp3EncReplayGain::matchesLame_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("kbps");
    QTest::addColumn<Signal>("signal");
    QTest::addColumn<int>("frames");

    // Lengths end mid-frame, so LAME's last input call is a short one.
    QTest::newRow("silence") << 44100 << 2 << 128 << Signal::Silence << 88200 + 333;
    QTest::newRow("quiet sine") << 44100 << 2 << 128 << Signal::QuietSine << 132300 + 777;
    QTest::newRow("loud sine") << 44100 << 2 << 128 << Signal::LoudSine << 132300 + 777;
    QTest::newRow("noise, scale 0.98") << 44100 << 2 << 224 << Signal::Noise << 132300 + 5;
    QTest::newRow("mono") << 44100 << 1 << 64 << Signal::Music << 176400 + 1001;
    QTest::newRow("nothing to measure") << 48000 << 2 << 128 << Signal::Music << 0;
    QTest::newRow("one block") << 48000 << 2 << 128 << Signal::LoudSine << 1000;
    QTest::newRow("8 kHz") << 8000 << 2 << 32 << Signal::Music << 40000 + 123;
    QTest::newRow("11.025 kHz") << 11025 << 2 << 48 << Signal::Music << 55125 + 123;
    QTest::newRow("12 kHz") << 12000 << 1 << 32 << Signal::Music << 60000 + 123;
    QTest::newRow("16 kHz") << 16000 << 2 << 64 << Signal::Music << 80000 + 123;
    QTest::newRow("22.05 kHz") << 22050 << 2 << 96 << Signal::Music << 110250 + 123;
    QTest::newRow("24 kHz") << 24000 << 2 << 64 << Signal::Music << 120000 + 123;
    QTest::newRow("32 kHz, scale 0.97") << 32000 << 2 << 192 << Signal::Music << 160000 + 123;
    QTest::newRow("44.1 kHz") << 44100 << 2 << 128 << Signal::Music << 220500 + 123;
    QTest::newRow("48 kHz, scale 1") << 48000 << 2 << 256 << Signal::Music << 240000 + 123;
}

void TestMp3EncReplayGain::matchesLame()
{
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(int, kbps);
    QFETCH(Signal, signal);
    QFETCH(int, frames);

    const QString wav = m_dir.filePath(QStringLiteral("%1.wav").arg(QTest::currentDataTag()));
    const QString mp3 = m_dir.filePath(QStringLiteral("%1.mp3").arg(QTest::currentDataTag()));
    QVERIFY(writeWav(wav, generate(signal, rate, channels, frames), rate, channels));
    QVERIFY(runTool(QStringLiteral("lame"),
                    {QStringLiteral("--quiet"), QStringLiteral("-b"), QString::number(kbps),
                     QStringLiteral("--resample"), QString::number(rate / 1000.0), wav, mp3}));
    LameTag tag;
    QVERIFY(readLameTag(mp3, &tag));
    QVERIFY(tag.tagged);
    QCOMPARE(tag.header.sampleRate, rate);
    QCOMPARE(tag.header.channels, channels);

    const float scale = lameScale(rate, channels, kbps);
    QVERIFY(scale > 0);
    Channels in = lameInput(wav, scale);
    QCOMPARE(int(in.size()), channels);
    const replaygain::Histogram histogram = onePass(rate, in);
    QCOMPARE(replaygain::radioGainField(replaygain::titleGain(histogram)), tag.radioGain);
    QVERIFY(inOddChunks(rate, in) == histogram);
    QVERIFY(inStretches(rate, in) == histogram);
}

void TestMp3EncReplayGain::resampledMatchesLame_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("kbps");
    QTest::addColumn<Signal>("signal");
    QTest::addColumn<int>("frames");
    QTest::addColumn<int>("outRate"); // the rate LAME picks for the bit rate
    QTest::addColumn<bool>("tagged"); // whether its frames can hold the info tag

    QTest::newRow("44.1 to 16 kHz")
        << 44100 << 2 << 32 << Signal::Music << 220500 + 123 << 16000 << false;
    QTest::newRow("44.1 to 16 kHz, tagged")
        << 44100 << 2 << 40 << Signal::Music << 220500 + 123 << 16000 << true;
    QTest::newRow("44.1 to 24 kHz")
        << 44100 << 2 << 56 << Signal::Music << 220500 + 123 << 24000 << false;
    QTest::newRow("44.1 to 24 kHz, noise")
        << 44100 << 2 << 64 << Signal::Noise << 132300 + 777 << 24000 << true;
    QTest::newRow("44.1 to 32 kHz")
        << 44100 << 2 << 96 << Signal::Music << 220500 + 123 << 32000 << true;
    QTest::newRow("48 to 44.1 kHz")
        << 48000 << 2 << 112 << Signal::Music << 240000 + 77 << 44100 << true;
    // Whole ratios: the filter has an even order.
    QTest::newRow("48 to 24 kHz") << 48000 << 2 << 64 << Signal::Music << 240000 + 77 << 24000
                                  << true;
    QTest::newRow("mono, 44.1 to 22.05 kHz")
        << 44100 << 1 << 32 << Signal::Music << 176400 + 1001 << 22050 << false;
    QTest::newRow("mono, 44.1 to 32 kHz")
        << 44100 << 1 << 48 << Signal::QuietSine << 176400 + 1001 << 32000 << true;
    // LAME keeps 8 kHz even at 128 kbps; it raises a rate MP3 does not have.
    QTest::newRow("6 to 8 kHz") << 6000 << 2 << 32 << Signal::Music << 30000 + 11 << 8000 << true;
    // So short that the blocks the flush's tail fills weigh in.
    QTest::newRow("short") << 44100 << 2 << 40 << Signal::LoudSine << 3000 << 16000 << true;
}

void TestMp3EncReplayGain::resampledMatchesLame()
{
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(int, kbps);
    QFETCH(Signal, signal);
    QFETCH(int, frames);
    QFETCH(int, outRate);
    QFETCH(bool, tagged);

    const QString wav = m_dir.filePath(QStringLiteral("rs %1.wav").arg(QTest::currentDataTag()));
    const QString mp3 = m_dir.filePath(QStringLiteral("rs %1.mp3").arg(QTest::currentDataTag()));
    QVERIFY(writeWav(wav, generate(signal, rate, channels, frames), rate, channels));
    const std::optional<int> reported = encodeWithCommand(wav, mp3, kbps);
    QVERIFY(reported);
    LameTag tag;
    QVERIFY(readLameTag(mp3, &tag));
    QCOMPARE(tag.header.sampleRate, outRate);
    QCOMPARE(tag.header.channels, channels);
    QCOMPARE(tag.tagged, tagged);
    LibraryEncode library;
    QVERIFY(encodeWithLibrary(wav, kbps, &library));
    QCOMPARE(library.outRate, outRate);
    QCOMPARE(library.tag.tagged, tagged);
    QVERIFY(resampler::isNeeded(rate, outRate));

    // The lame command hands LAME one output frame's worth of input a call.
    const Channels in = lameInput(wav, library.scale);
    const auto commandChunk = std::size_t(mp3frame::samplesPerFrame(outRate));
    const std::uint16_t command = resampled(rate, outRate, in, commandChunk).radioGain;
    QCOMPARE(tenthsOf(command), *reported);
    if (tagged)
        QCOMPARE(command, tag.radioGain);
    // Our encoder hands it blocks; the one pass over the file cuts it the same way.
    const Resampled ours =
        resampled(rate, outRate, in, std::size_t(BlockFeeder::blockFramesFor(channels)));
    QCOMPARE(tenthsOf(ours.radioGain), library.radioGain);
    if (tagged)
        QCOMPARE(ours.radioGain, library.tag.radioGain);
    QCOMPARE(ours.frames, library.frames);
    SndFileReader reader;
    QVERIFY(reader.open(wav));
    const std::atomic<bool> stop{false};
    QCOMPARE(radioGainOf(reader, library.scale, outRate, stop), std::optional(ours.radioGain));
}

QTEST_GUILESS_MAIN(TestMp3EncReplayGain)
#include "test_mp3enc_replaygain.moc"
