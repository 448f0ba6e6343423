// ReplayGain 2.0 frames: their text, the figures against an independent scanner's for the same
// signal, an album of three tracks, and that nothing is written unless asked for.
#include "mp3enc/encode/lameencoder.h"
#include "mp3enc/encode/loudnessmeter.h"
#include "mp3enc/encode/truepeak.h"
#include "mp3enc/tags/gainframes.h"
#include "mp3enc/tags/infotag.h"
#include "mp3enc/tags/retag.h"
#include "tests/mp3enc/encoderfixture.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <ebur128.h>
#include <random>
#include <sndfile.h>
#include <sys/stat.h>
#include <vector>

namespace {

// A sine of `amplitude` (1 full scale), 16-bit, every channel alike; with `swellHz`, its level
// swells and fades (between a tenth and all of `amplitude`) that many times a second.
bool writeSine(const QString &path, int channels, int rate, double hz, double amplitude,
               int seconds, double swellHz = 0)
{
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = rate;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *file = sf_open(path.toLocal8Bit().constData(), SFM_WRITE, &info);
    if (!file)
        return false;
    const sf_count_t frames = sf_count_t(rate) * seconds;
    std::vector<short> samples(std::size_t(frames * channels));
    for (sf_count_t n = 0; n < frames; ++n) {
        const double t = double(n) / rate;
        const double level = swellHz ? 0.55 - 0.45 * std::cos(2 * M_PI * swellHz * t) : 1.0;
        const double value = amplitude * level * std::sin(2 * M_PI * hz * t);
        for (int c = 0; c < channels; ++c)
            samples[std::size_t(n * channels + c)] = short(std::lround(value * 32767));
    }
    const bool written = sf_writef_short(file, samples.data(), frames) == frames;
    return sf_close(file) == 0 && written;
}

// The library's own gain and true peak for interleaved samples (1.0 full scale) heard as one
// stream; none when its state cannot be made.
std::optional<GainFigures> libraryWhole(const std::vector<float> &interleaved, int channels,
                                        int rate)
{
    ebur128_state *library =
        ebur128_init(unsigned(channels), unsigned(rate),
                     EBUR128_MODE_I | EBUR128_MODE_HISTOGRAM | EBUR128_MODE_TRUE_PEAK);
    if (!library)
        return std::nullopt;
    ebur128_add_frames_float(library, interleaved.data(),
                             interleaved.size() / std::size_t(channels));
    GainFigures figures;
    ebur128_loudness_global(library, &figures.gain);
    figures.gain = LoudnessMeter::ReferenceLufs - figures.gain;
    for (int c = 0; c < channels; ++c) {
        double peak = 0;
        ebur128_true_peak(library, unsigned(c), &peak);
        figures.peak = std::max(figures.peak, peak);
    }
    ebur128_destroy(&library);
    return figures;
}

// The same for the whole of `wav` as LAME hears it, scaled by its default factor.
std::optional<GainFigures> libraryFigures(const QString &wav)
{
    LameEncoder lame;
    LameEncoder::Settings settings;
    if (!lame.init(settings, nullptr))
        return std::nullopt;
    SF_INFO info{};
    SNDFILE *file = sf_open(wav.toLocal8Bit().constData(), SFM_READ, &info);
    if (!file)
        return std::nullopt;
    std::vector<float> samples(std::size_t(info.frames * info.channels));
    const bool read = sf_readf_float(file, samples.data(), info.frames) == info.frames;
    sf_close(file);
    if (!read)
        return std::nullopt;
    for (float &sample : samples)
        sample *= lame.scale();
    return libraryWhole(samples, info.channels, info.samplerate);
}

QJsonObject probedTags(const QString &mp3)
{
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"),
                  {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                   QStringLiteral("format_tags"), QStringLiteral("-of"), QStringLiteral("json"),
                   mp3});
    if (!ffprobe.waitForFinished(30000))
        return {};
    return QJsonDocument::fromJson(ffprobe.readAllStandardOutput())
        .object()
        .value(QStringLiteral("format"))
        .toObject()
        .value(QStringLiteral("tags"))
        .toObject();
}

double decibels(const QJsonObject &tags, const char *name)
{
    QString text = tags.value(QLatin1String(name)).toString();
    return text.endsWith(QLatin1String(" dB")) ? text.chopped(3).toDouble() : NAN;
}

// The info tag's radio gain in dB (the field's sign bit and 0.1 dB steps), NaN when the tag is
// missing or its own checksum is wrong.
double infoTagGain(const QString &mp3)
{
    QFile file(mp3);
    if (!file.open(QIODevice::ReadOnly))
        return NAN;
    const QByteArray bytes = file.readAll();
    const auto byte = [&bytes](qsizetype at) { return int(static_cast<unsigned char>(bytes[at])); };
    qsizetype start = 0;
    if (bytes.startsWith("ID3"))
        start = 10 + (byte(6) << 21 | byte(7) << 14 | byte(8) << 7 | byte(9));
    const qsizetype info = std::max(bytes.indexOf("Info", start), bytes.indexOf("Xing", start));
    if (info < 0 || info > start + 64 || bytes.size() < info + 156)
        return NAN;
    const auto tag = reinterpret_cast<const unsigned char *>(bytes.constData() + start);
    if (infotag::crc16(tag, std::size_t(info - start + 154)) !=
        (byte(info + 154) << 8 | byte(info + 155)))
        return NAN;
    const int field = byte(info + 135) << 8 | byte(info + 136);
    return (field & 0x200 ? -0.1 : 0.1) * (field & 0x1FF);
}

QStringList gainNames(const QJsonObject &tags)
{
    QStringList names;
    for (const QString &key : tags.keys()) {
        if (key.startsWith(QLatin1String("REPLAYGAIN"), Qt::CaseInsensitive))
            names.append(key);
    }
    return names;
}

} // namespace

class TestMp3EncGain final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

    // `wav` to `mp3` by a fresh encoder at 128 kbps with ReplayGain `mode` (none: untouched).
    void convert(const QString &wav, const QString &mp3, std::optional<int> mode, int threads,
                 EncoderFixture &encoder)
    {
        QVERIFY(encoder.ok());
        encoder.control->put(QStringLiteral("Threads"), threads);
        if (mode)
            encoder.control->put(QStringLiteral("ReplayGain"), *mode);
        QVERIFY(encoder.convert(wav, mp3));
        QCOMPARE(encoder.site.count(RecordingSite::Failure), 0);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        if (QStandardPaths::findExecutable(QStringLiteral("ffprobe")).isEmpty())
            QSKIP("ffprobe (ffmpeg) is needed to read the frames back");
    }

    void frameText_data()
    {
        QTest::addColumn<double>("gain");
        QTest::addColumn<double>("peak");
        QTest::addColumn<QString>("expectedGain");
        QTest::addColumn<QString>("expectedPeak");
        QTest::newRow("quieter") << -7.0213 << 0.9888311 << "-7.02 dB"
                                 << "0.988831";
        QTest::newRow("louder, sign shown") << 12.346 << 0.05 << "+12.35 dB"
                                            << "0.050000";
        QTest::newRow("zero is plus") << 0.0 << 1.0 << "+0.00 dB"
                                      << "1.000000";
        QTest::newRow("rounds to zero: no minus zero") << -0.004 << 1.2345674 << "+0.00 dB"
                                                       << "1.234567";
    }
    void frameText()
    {
        QFETCH(double, gain);
        QFETCH(double, peak);
        QFETCH(QString, expectedGain);
        QFETCH(QString, expectedPeak);
        QCOMPARE(gainText(gain), expectedGain);
        QCOMPARE(peakText(peak), expectedPeak);
    }

    // The screened true peak is the library's own, read over every sample, to the last bit: for
    // peaks between samples, a late loud stretch, the worst sign pattern, each oversampling
    // factor and blocks shorter than the filter. Where it should, the screen spares most frames.
    void truePeakAsTheLibrary_data()
    {
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("rate");
        QTest::addColumn<QString>("signal");
        QTest::addColumn<int>("block");
        QTest::addColumn<bool>("mostlySpared");
        QTest::newRow("music-like, stereo 44.1 kHz") << 2 << 44100 << "music" << 1152 << true;
        QTest::newRow("peaks between samples") << 2 << 44100 << "quarter" << 1152 << true;
        QTest::newRow("loud only at the end, blocks of 5") << 1 << 48000 << "late" << 5 << true;
        QTest::newRow("a crest past a spared stretch") << 1 << 44100 << "crest" << 1152 << true;
        QTest::newRow("the same across blocks") << 1 << 44100 << "crest" << 1004 << true;
        QTest::newRow("random signs, blocks of 4096") << 2 << 44100 << "signs" << 4096 << false;
        QTest::newRow("96 kHz: twice oversampled") << 2 << 96000 << "music" << 1000 << true;
        QTest::newRow("192 kHz: the sample peak") << 1 << 192000 << "quarter" << 1152 << true;
        QTest::newRow("8 kHz mono, one frame a block") << 1 << 8000 << "music" << 1 << true;
    }
    void truePeakAsTheLibrary()
    {
        QFETCH(int, channels);
        QFETCH(int, rate);
        QFETCH(QString, signal);
        QFETCH(int, block);
        QFETCH(bool, mostlySpared);
        const std::size_t frames = std::size_t(rate) * 3;
        // The signs that peak halfway between frames 1007 and 1008: its quieter half is spared
        // by the screen (the sample at 100 is louder than it could make any), and is heard only
        // as the delay line of the louder half.
        const auto crest = [](std::size_t n) {
            if (n == 100)
                return 0.8f;
            if (n < 1002 || n >= 1014)
                return 0.0f;
            const bool early = n < 1008;
            const std::size_t away = early ? 1007 - n : n - 1008;
            return (away % 2 ? -1.0f : 1.0f) * (early ? 0.42f : 0.55f);
        };
        std::mt19937 random(7);
        std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
        std::vector<float> samples(frames * std::size_t(channels));
        for (std::size_t n = 0; n < frames; ++n) {
            const double t = double(n) / rate;
            for (int c = 0; c < channels; ++c) {
                float &x = samples[n * std::size_t(channels) + std::size_t(c)];
                if (signal == "music") // an accent, then a quieter passage
                    x = float((0.2 + 0.6 * std::exp(-std::pow((t - 0.5) / 0.1, 2))) *
                              (0.7 * std::sin(2 * M_PI * (110 + 55 * c) * t) +
                               0.3 * std::sin(2 * M_PI * 2500 * t))) +
                        0.02f * noise(random);
                else if (signal == "quarter") // every sample a quarter turn from the crest
                    x = float(0.5 * std::sin(M_PI / 2 * double(n) + M_PI / 4));
                else if (signal == "late")
                    x = noise(random) * (n > frames * 9 / 10 ? 0.9f : 0.05f);
                else if (signal == "crest") // one loud sample; later, a crest between samples
                    x = crest(n);
                else
                    x = noise(random) < 0 ? -0.5f : 0.5f;
            }
        }
        TruePeak screened(channels, rate);
        ebur128_state *library =
            ebur128_init(unsigned(channels), unsigned(rate), EBUR128_MODE_TRUE_PEAK);
        QVERIFY(library);
        for (std::size_t at = 0; at < frames; at += std::size_t(block)) {
            const std::size_t n = std::min(frames - at, std::size_t(block));
            screened.add(samples.data() + at * std::size_t(channels), n);
            ebur128_add_frames_float(library, samples.data() + at * std::size_t(channels), n);
        }
        double expected = 0;
        for (int c = 0; c < channels; ++c) {
            double peak = 0;
            QCOMPARE(ebur128_true_peak(library, unsigned(c), &peak), int(EBUR128_SUCCESS));
            expected = std::max(expected, peak);
        }
        ebur128_destroy(&library);
        QCOMPARE(screened.peak(), expected);
        QVERIFY(screened.peak() >= screened.samplePeak());
        QCOMPARE(screened.framesInterpolated() < frames / 4, mostlySpared);
    }

    // A stream measured in parts has the true peak the library gives the whole stream, and its
    // loudness within what a later part's first block, its filter started from rest, can move
    // it: with bass (the slowest of the filters), a swell across a cut (the true peak's delay
    // line), parts shorter than a block's span, and blocks of any size.
    void measuredInParts_data()
    {
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("rate");
        QTest::addColumn<QList<int>>("cuts"); // in block steps
        QTest::addColumn<int>("block");
        QTest::newRow("stereo 44.1 kHz, three parts") << 2 << 44100 << QList<int>{37, 82} << 2304;
        QTest::newRow("mono 48 kHz, blocks of 7") << 1 << 48000 << QList<int>{55} << 7;
        QTest::newRow("a part of seven steps") << 2 << 22050 << QList<int>{40, 47, 90} << 1000;
        QTest::newRow("8 kHz, first cut at four steps") << 1 << 8000 << QList<int>{4, 60} << 333;
        QTest::newRow("96 kHz: twice oversampled") << 2 << 96000 << QList<int>{61} << 4096;
    }
    void measuredInParts()
    {
        QFETCH(int, channels);
        QFETCH(int, rate);
        QFETCH(QList<int>, cuts);
        QFETCH(int, block);
        QVERIFY(LoudnessMeter::measuresInParts(rate));
        const std::int64_t step = LoudnessMeter::blockStep(rate);
        const std::int64_t frames = std::int64_t(rate) * 12;
        const auto width = std::size_t(channels);
        std::mt19937 random(11);
        std::normal_distribution<double> noise;
        std::vector<float> left(static_cast<std::size_t>(frames)), right(left.size());
        double rumble = 0;
        for (std::int64_t n = 0; n < frames; ++n) {
            const double t = double(n) / rate;
            rumble = 0.995 * rumble + 0.02 * noise(random);
            const double level = 0.05 + 0.3 * std::abs(std::sin(2 * M_PI * t / 3.7));
            left[std::size_t(n)] = float(level * (std::sin(2 * M_PI * 41 * t) + rumble));
            right[std::size_t(n)] = float(level * (0.6 * std::sin(2 * M_PI * 63 * t) + rumble));
        }
        // A smooth swell across the last cut, the loudest of the stream: a part that started
        // there with an empty delay line would hear a step, and a peak above it.
        const std::int64_t cut = cuts.last() * step;
        for (std::int64_t away = -60; away < 60; ++away) {
            const double edge = std::min(1.0, double(60 - std::abs(away)) / 30);
            left[std::size_t(cut + away)] = float(0.9 * (0.5 - 0.5 * std::cos(M_PI * edge)));
        }
        for (float &x : left)
            x *= 32768.0f; // the meter's full scale
        for (float &x : right)
            x *= 32768.0f;

        std::vector<float> interleaved(std::size_t(frames) * width);
        for (std::size_t n = 0; n < std::size_t(frames); ++n) {
            interleaved[n * width] = left[n] / 32768.0f;
            if (channels == 2)
                interleaved[n * width + 1] = right[n] / 32768.0f;
        }
        const std::optional<GainFigures> library = libraryWhole(interleaved, channels, rate);
        QVERIFY(library);
        const double loudness = LoudnessMeter::ReferenceLufs - library->gain;
        const double peak = library->peak;

        std::unique_ptr<LoudnessMeter> whole;
        for (qsizetype i = 0; i <= cuts.size(); ++i) {
            const std::int64_t settle = i == 0 ? 0 : step;
            const std::int64_t from = i == 0 ? 0 : cuts[i - 1] * step - settle;
            const std::int64_t to = i < cuts.size() ? cuts[i] * step + 3 * step : frames;
            auto part = std::make_unique<LoudnessMeter>(channels, rate, int(settle));
            for (std::int64_t at = from; at < to; at += block) {
                const int n = int(std::min<std::int64_t>(block, to - at));
                part->add(left.data() + at, right.data() + at, n);
            }
            QCOMPARE(part->framesMeasured(), to - from - settle);
            if (whole)
                whole->absorb(std::move(part));
            else
                whole = std::move(part);
        }
        // Well under the frame's last digit; a block counted twice or left out at a cut moves
        // these signals by more.
        QVERIFY2(std::abs(*whole->loudness() - loudness) <= 0.01,
                 qPrintable(QString::number(*whole->loudness() - loudness)));
        QCOMPARE(whole->peak(), peak);
        QVERIFY2(peak >= 0.9 && peak < 0.905, qPrintable(QString::number(peak))); // the swell's
    }

    // An older writer's frames, in any case, go; the other frames stay byte for byte.
    void framesReplaced_data()
    {
        QTest::addColumn<int>("version");
        QTest::newRow("ID3v2.3") << 3;
        QTest::newRow("ID3v2.4") << 4;
    }
    void framesReplaced()
    {
        QFETCH(int, version);
        const auto frame = [version](const char *id, const QByteArray &body) {
            const int n = int(body.size());
            return QByteArray(id) + char(n >> 21 & 0x7F) + char(n >> 14 & 0x7F) +
                   char(n >> 7 & 0x7F) + char(n & 0x7F) + QByteArray(2, '\0') + body;
        };
        const QByteArray title = frame("TIT2", QByteArray("\0Song", 5));
        const QByteArray body = title +
                                frame("TXXX", QByteArray("\0replaygain_track_gain\0-3 dB", 28)) +
                                frame("TXXX", QByteArray("\0REPLAYGAIN_REFERENCE_LOUDNESS\0"
                                                         "89 dB",
                                                         36));
        const QByteArray tag = QByteArray("ID3") + char(version) + QByteArray(2, '\0') +
                               QByteArray("\0\0\1\0", 4) + body +
                               QByteArray(128 - body.size(), '\0');
        const QList<GainFrame> frames{{QStringLiteral("REPLAYGAIN_TRACK_GAIN"), "-1.00 dB"}};
        const std::optional<QByteArray> fresh = withGainFrames(tag, frames, tag.size());
        QVERIFY(fresh);
        QCOMPARE(fresh->size(), tag.size());
        QCOMPARE(fresh->mid(10, title.size()), title);
        QCOMPARE(gainFramesOf(*fresh), frames);
    }

    // A new tag in front of the same audio bytes, through a temporary: the mode kept, nothing
    // left beside it; a write-protected file, or a tag the rule refuses, left as it was.
    void retagged_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("refuse"); // `make` gives nothing
        QTest::addColumn<bool>("replaced");
        QTest::newRow("rewritten, mode kept") << 0640 << false << true;
        QTest::newRow("write-protected") << 0444 << false << false;
        QTest::newRow("refused by the new tag's maker") << 0644 << true << false;
    }
    void retagged()
    {
        QFETCH(int, mode);
        QFETCH(bool, refuse);
        QFETCH(bool, replaced);
        const QString wav = path(QStringLiteral("retag.wav"));
        const QString mp3 = path(QStringLiteral("retag.mp3"));
        QVERIFY(writeSine(wav, 2, 44100, 1000, 0.5, 2));
        EncoderFixture encoder;
        convert(wav, mp3, 1, 1, encoder);
        QFile file(mp3);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();
        QVERIFY(::chmod(QFile::encodeName(mp3).constData(), mode_t(mode)) == 0);
        const QByteArray tag = emptyId3v2Tag();
        QString error;
        const bool done = retag::replaceId3v2(
            mp3,
            [&](const QByteArray &old) -> std::optional<QByteArray> {
                if (refuse) {
                    error = QStringLiteral("refused");
                    return std::nullopt;
                }
                return old.isEmpty() ? std::nullopt : std::optional<QByteArray>(tag);
            },
            &error);
        QCOMPARE(done, replaced);
        QCOMPARE(error.isEmpty(), replaced);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray after = file.readAll();
        const qsizetype oldTag = before.size() - (after.size() - tag.size());
        QCOMPARE(after == before, !replaced);
        if (replaced) {
            QCOMPARE(after.left(tag.size()), tag);
            QCOMPARE(after.mid(tag.size()), before.mid(oldTag));
        }
        struct stat st = {};
        QVERIFY(::stat(QFile::encodeName(mp3).constData(), &st) == 0);
        QCOMPARE(int(st.st_mode & 07777), mode);
        QCOMPARE(
            QDir(m_dir.path()).entryList({QStringLiteral(".retag*")}, QDir::Hidden | QDir::Files),
            QStringList());
        ::chmod(QFile::encodeName(mp3).constData(), 0644);
    }

    void trackAgainstScanner_data()
    {
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("rate");
        QTest::addColumn<double>("hz");
        QTest::addColumn<double>("amplitude");
        QTest::addColumn<int>("seconds");
        QTest::addColumn<int>("threads");
        QTest::addColumn<double>("swellHz");
        // loudgain 0.6.8 (libebur128 1.2.6) on the MP3s of these signals, 128 kbps.
        QTest::addColumn<double>("scannerGain");
        QTest::addColumn<double>("scannerPeak");
        QTest::newRow("stereo 44.1 kHz, one piece")
            << 2 << 44100 << 1000.0 << 0.5 << 12 << 1 << 0.0 << -11.54 << 0.483040;
        // Loudness that varies block to block, in bass: a block counted twice or left out where
        // the segments meet, or a filter started afresh there, would show.
        QTest::newRow("stereo 44.1 kHz, swelling bass, in segments")
            << 2 << 44100 << 60.0 << 0.5 << 40 << 0 << 0.13 << -4.93 << 0.475382;
        QTest::newRow("mono 48 kHz")
            << 1 << 48000 << 440.0 << 0.25 << 12 << 1 << 0.0 << -1.82 << 0.238022;
        // A third of the rate: no sample within 13 % of the crest, which only a true peak finds.
        QTest::newRow("crests between samples")
            << 2 << 44100 << 14700.0 << 0.5 << 12 << 1 << 0.0 << -14.89 << 0.507697;
    }
    void trackAgainstScanner()
    {
        QFETCH(int, channels);
        QFETCH(int, rate);
        QFETCH(double, hz);
        QFETCH(double, amplitude);
        QFETCH(int, seconds);
        QFETCH(int, threads);
        QFETCH(double, swellHz);
        QFETCH(double, scannerGain);
        QFETCH(double, scannerPeak);
        const QString wav = path(QStringLiteral("track.wav"));
        const QString mp3 = path(QStringLiteral("track.mp3"));
        QVERIFY(writeSine(wav, channels, rate, hz, amplitude, seconds, swellHz));
        EncoderFixture encoder;
        convert(wav, mp3, 1, threads, encoder);
        const QJsonObject tags = probedTags(mp3);
        QCOMPARE(gainNames(tags), QStringList({"REPLAYGAIN_TRACK_GAIN", "REPLAYGAIN_TRACK_PEAK"}));
        QVERIFY2(std::abs(decibels(tags, "REPLAYGAIN_TRACK_GAIN") - scannerGain) <= 0.1,
                 qPrintable(tags.value("REPLAYGAIN_TRACK_GAIN").toString()));
        const double peak = tags.value("REPLAYGAIN_TRACK_PEAK").toString().toDouble();
        QVERIFY2(std::abs(peak / scannerPeak - 1) <= 0.08, qPrintable(QString::number(peak)));
        // The info tag's radio gain is the same track gain, not a second figure of LAME's.
        QVERIFY2(std::abs(infoTagGain(mp3) - decibels(tags, "REPLAYGAIN_TRACK_GAIN")) <= 0.051,
                 qPrintable(QString::number(infoTagGain(mp3))));
        // The property tells the figure the frame holds, unrounded: the library's own for the
        // input heard whole, however the file was cut (for its one seam, within a bin of one
        // block in some 400).
        const double gain = encoder.control->get(QStringLiteral("TrackGain")).toDouble();
        QVERIFY(std::abs(gain - decibels(tags, "REPLAYGAIN_TRACK_GAIN")) <= 0.005);
        const std::optional<GainFigures> whole = libraryFigures(wav);
        QVERIFY(whole);
        QVERIFY2(std::abs(gain - whole->gain) <= 2.5e-4,
                 qPrintable(QString::number(gain - whole->gain, 'g', 3)));
        QCOMPARE(encoder.control->get(QStringLiteral("TrackPeak")).toDouble(), whole->peak);
    }

    // Three tracks of one album, 6 dB apart: each its own track gain, one album gain and peak
    // in all three, as loudgain -a reads the album (-7.95 dB, peak 0.478121).
    void albumOfThree()
    {
        EncoderFixture encoder;
        QVERIFY(encoder.ok());
        encoder.control->put(QStringLiteral("ReplayGain"), 2);
        const QList<double> amplitudes{0.5, 0.25, 0.125};
        QStringList mp3s;
        for (double amplitude : amplitudes) {
            const QString wav = path(QStringLiteral("album %1.wav").arg(amplitude));
            mp3s.append(path(QStringLiteral("album %1.mp3").arg(amplitude)));
            QVERIFY(writeSine(wav, 2, 44100, 1000, amplitude, 8));
            encoder.site.events.clear(); // the fixture waits for this file's end
            QVERIFY(encoder.convert(wav, mp3s.last()));
            QVERIFY(encoder.control->call(QStringLiteral("AddToAlbum"), {"one album"}).toBool());
        }
        // Before the album is written each MP3 has its track's frames alone.
        QCOMPARE(gainNames(probedTags(mp3s.first())).size(), 2);
        QCOMPARE(encoder.control->call(QStringLiteral("WriteAlbumGain"), {"one album"}).toString(),
                 QString());
        double before = NAN;
        for (const QString &mp3 : mp3s) {
            const QJsonObject tags = probedTags(mp3);
            QCOMPARE(gainNames(tags).size(), 4);
            QVERIFY(std::abs(decibels(tags, "REPLAYGAIN_ALBUM_GAIN") - -7.95) <= 0.1);
            QVERIFY(std::abs(tags.value("REPLAYGAIN_ALBUM_PEAK").toString().toDouble() / 0.478121 -
                             1) <= 0.08);
            const double track = decibels(tags, "REPLAYGAIN_TRACK_GAIN");
            if (!std::isnan(before))
                QVERIFY(std::abs(track - before - 6.02) <= 0.1);
            before = track;
        }
    }

    // A kept MP3's input is measured on a thread of the encoder's: the call returns at once, the
    // album is not written before AlbumMeasured, which names a track that could not be measured;
    // a stop drops what was handed over.
    void keptTrackMeasuredAside_data()
    {
        QTest::addColumn<double>("amplitude");
        QTest::addColumn<bool>("stop");
        QTest::addColumn<QString>("problem");
        QTest::newRow("measured") << 0.25 << false << "";
        QTest::newRow("silent") << 0.0 << false << "kept b.mp3：无法测得响度（几乎全是静音）";
        QTest::newRow("stopped") << 0.25 << true << "";
    }
    void keptTrackMeasuredAside()
    {
        QFETCH(double, amplitude);
        QFETCH(bool, stop);
        QFETCH(QString, problem);
        EncoderFixture encoder;
        QVERIFY(encoder.ok());
        encoder.control->put(QStringLiteral("ReplayGain"), 2);
        const QString wav = path(QStringLiteral("kept a.wav"));
        const QString mp3 = path(QStringLiteral("kept a.mp3"));
        const QString keptWav = path(QStringLiteral("kept b.wav"));
        const QString keptMp3 = path(QStringLiteral("kept b.mp3"));
        QFile::remove(keptMp3);
        QVERIFY(writeSine(wav, 2, 44100, 1000, 0.5, 4));
        QVERIFY(writeSine(keptWav, 2, 44100, 1000, amplitude, 4));
        QVERIFY(encoder.convert(wav, mp3));
        QVERIFY(encoder.control->call(QStringLiteral("AddToAlbum"), {"kept"}).toBool());
        QVERIFY(QFile::copy(mp3, keptMp3)); // stands for the MP3 an earlier batch made
        const auto measured = [&encoder] {
            return encoder.site.count(RecordingSite::AlbumMeasured);
        };
        encoder.control->call(QStringLiteral("MeasureForAlbum"), {"kept", keptWav, keptMp3, 0, 0});
        QCOMPARE(measured(), 0);
        bool refused = false; // the album is not whole until the event
        try {
            encoder.control->call(QStringLiteral("WriteAlbumGain"), {"kept"});
        } catch (const std::exception &) {
            refused = true;
        }
        QVERIFY(refused);
        if (stop) {
            encoder.control->call(QStringLiteral("Stop"));
            QCoreApplication::sendPostedEvents();
            QCOMPARE(measured(), 0);
            return;
        }
        QVERIFY(QTest::qWaitFor([&] { return measured() == 1; }, 30000));
        QCOMPARE(encoder.site.events.last().args, QVariantList({"kept", problem}));
        if (!problem.isEmpty())
            return;
        QCOMPARE(encoder.control->call(QStringLiteral("WriteAlbumGain"), {"kept"}).toString(),
                 QString());
        for (const QString &written : {mp3, keptMp3})
            QCOMPARE(gainNames(probedTags(written)).size(), 4);
    }

    // Asked for nothing (or set back to none), the MP3 is the lame command's byte for byte.
    void nothingAskedNothingNew_data()
    {
        QTest::addColumn<std::optional<int>>("mode");
        QTest::newRow("never set") << std::optional<int>();
        QTest::newRow("set to none") << std::optional<int>(0);
    }
    void nothingAskedNothingNew()
    {
        QFETCH(std::optional<int>, mode);
        if (QStandardPaths::findExecutable(QStringLiteral("lame")).isEmpty())
            QSKIP("the lame command is needed");
        const QString wav = path(QStringLiteral("plain.wav"));
        const QString ours = path(QStringLiteral("plain.mp3"));
        const QString theirs = path(QStringLiteral("plain lame.mp3"));
        QVERIFY(writeSine(wav, 2, 44100, 1000, 0.5, 3));
        EncoderFixture encoder;
        convert(wav, ours, mode, 1, encoder);
        QVERIFY(runTool(QStringLiteral("lame"), {"--quiet", "-b", "128", wav, theirs}));
        QCOMPARE(fileDigest(ours), fileDigest(theirs));
        QVERIFY(!encoder.control->get(QStringLiteral("TrackGain")).isValid());
        QVERIFY(!encoder.control->call(QStringLiteral("AddToAlbum"), {"x"}).toBool());
    }
};

QTEST_GUILESS_MAIN(TestMp3EncGain)
#include "test_mp3enc_gain.moc"
