#include "tests/mp3enc/audiocheck.h"

#include "tests/mp3enc/encoderfixture.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <sndfile.h>

namespace audiocheck {

bool writeBusyWav(const QString &path, double seconds, int sampleRate, int channels, int subtype,
                  double pauseAt)
{
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | subtype;
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file)
        return false;
    std::mt19937 random(12345);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    const auto frames = qint64(seconds * sampleRate);
    const qint64 beat = sampleRate * 37 / 100; // off the frame grid on purpose
    std::vector<float> buffer;
    for (qint64 done = 0; done < frames;) {
        const qint64 n = std::min<qint64>(beat, frames - done);
        const double f = 110.0 * std::pow(2.0, double(random() % 24) / 12.0);
        buffer.assign(std::size_t(n * channels), 0.0f);
        for (qint64 i = 0; i < n; ++i) {
            const double t = double(done + i) / sampleRate, local = double(i) / sampleRate;
            const double hit = std::exp(-40.0 * local);
            const bool paused = pauseAt >= 0 && t >= pauseAt && t < pauseAt + 1.0;
            for (int c = 0; c < channels; ++c) {
                if (paused)
                    continue;
                const double tone = std::sin(2 * M_PI * f * (1 + 0.01 * c) * t) +
                                    0.3 * std::sin(2 * M_PI * 3.01 * f * t);
                const double v = 0.3 * tone * std::exp(-3.0 * local) + 0.05 * noise(random) +
                                 0.5 * hit * noise(random);
                buffer[std::size_t(i * channels + c)] = float(std::clamp(v, -0.99, 0.99));
            }
        }
        if (sf_writef_float(file, buffer.data(), n) != n) {
            sf_close(file);
            return false;
        }
        done += n;
    }
    return sf_close(file) == 0;
}

bool writePinkNoiseWav(const QString &path, double seconds, int sampleRate, int channels)
{
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file)
        return false;
    std::mt19937 random(4242);
    std::uniform_real_distribution<double> white(-1.0, 1.0);
    // Paul Kellet's filter: white noise through seven first-order sections, -3 dB an octave.
    std::vector<std::array<double, 7>> state(std::size_t(channels), std::array<double, 7>{});
    const auto frames = qint64(seconds * sampleRate);
    std::vector<float> buffer(std::size_t(4096 * channels));
    for (qint64 done = 0; done < frames;) {
        const qint64 n = std::min<qint64>(4096, frames - done);
        for (qint64 i = 0; i < n * channels; ++i) {
            auto &b = state[std::size_t(i % channels)];
            const double w = white(random);
            b[0] = 0.99886 * b[0] + w * 0.0555179;
            b[1] = 0.99332 * b[1] + w * 0.0750759;
            b[2] = 0.96900 * b[2] + w * 0.1538520;
            b[3] = 0.86650 * b[3] + w * 0.3104856;
            b[4] = 0.55000 * b[4] + w * 0.5329522;
            b[5] = -0.7616 * b[5] - w * 0.0168980;
            const double pink = b[0] + b[1] + b[2] + b[3] + b[4] + b[5] + b[6] + w * 0.5362;
            b[6] = w * 0.115926;
            buffer[std::size_t(i)] = float(std::clamp(0.25 * pink / 3.0, -0.99, 0.99));
        }
        if (sf_writef_float(file, buffer.data(), n) != n) {
            sf_close(file);
            return false;
        }
        done += n;
    }
    return sf_close(file) == 0;
}

Pcm readWav(const QString &path)
{
    Pcm pcm;
    SF_INFO info{};
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file)
        return pcm;
    pcm.channels = info.channels;
    pcm.sampleRate = info.samplerate;
    pcm.samples.resize(std::size_t(info.frames * info.channels));
    if (sf_readf_float(file, pcm.samples.data(), info.frames) != info.frames)
        pcm = {};
    sf_close(file);
    return pcm;
}

Pcm decodeMp3(const QString &mp3, const QString &scratch)
{
    const QString wav = QDir(scratch).filePath(QStringLiteral("decoded.wav"));
    QFile::remove(wav);
    if (!runTool(QStringLiteral("mpg123"), {QStringLiteral("-q"), QStringLiteral("-w"), wav, mp3}))
        return {};
    return readWav(wav);
}

qint64 ffmpegFrames(const QString &mp3, int channels)
{
    QProcess process;
    process.start(QStringLiteral("ffmpeg"),
                  {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), mp3,
                   QStringLiteral("-f"), QStringLiteral("s16le"), QStringLiteral("-")});
    qint64 bytes = 0;
    while (process.waitForReadyRead(60000))
        bytes += process.readAllStandardOutput().size();
    process.waitForFinished(60000);
    bytes += process.readAllStandardOutput().size();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return -1;
    return bytes / (2 * channels);
}

namespace {

// 16-bit stereo samples as ffmpeg decodes `mp3`, from `seconds` on if not negative, for at most
// `length` seconds if positive.
std::vector<qint16> ffmpegSamples(const QString &mp3, double seconds, double length)
{
    QStringList args{QStringLiteral("-v"), QStringLiteral("error")};
    if (seconds >= 0)
        args << QStringLiteral("-ss") << QString::number(seconds, 'f', 3);
    args << QStringLiteral("-i") << mp3;
    if (length > 0)
        args << QStringLiteral("-t") << QString::number(length, 'f', 3);
    args << QStringLiteral("-ac") << QStringLiteral("2") << QStringLiteral("-f")
         << QStringLiteral("s16le") << QStringLiteral("-");
    QProcess process;
    process.start(QStringLiteral("ffmpeg"), args);
    QByteArray bytes;
    while (process.waitForReadyRead(60000))
        bytes += process.readAllStandardOutput();
    process.waitForFinished(60000);
    bytes += process.readAllStandardOutput();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return {};
    std::vector<qint16> samples(std::size_t(bytes.size()) / 2);
    std::memcpy(samples.data(), bytes.constData(), samples.size() * 2);
    return samples;
}

} // namespace

double ffmpegSeekLanding(const QString &mp3, double seconds, int sampleRate)
{
    // The same decoder gives the same samples once a frame or two past the seek has refilled its
    // state: a stretch from well into the seeked decode is found exactly in the whole one.
    constexpr std::size_t Skip = 2 * 8192, Match = 2 * 512;
    const std::vector<qint16> whole = ffmpegSamples(mp3, -1, 0);
    const std::vector<qint16> seeked = ffmpegSamples(mp3, seconds, 1.0);
    if (seeked.size() < Skip + Match || whole.size() < Match)
        return std::nan("");
    const qint16 *wanted = seeked.data() + Skip;
    for (std::size_t at = 0; at + Match <= whole.size(); at += 2) {
        if (std::equal(wanted, wanted + Match, whole.data() + at))
            return double((qint64(at) - qint64(Skip)) / 2) / sampleRate;
    }
    return std::nan("");
}

QString decoderErrors(const QString &mp3)
{
    return toolErrors(QStringLiteral("ffmpeg"),
                      {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), mp3,
                       QStringLiteral("-f"), QStringLiteral("null"), QStringLiteral("-")}) +
           toolErrors(QStringLiteral("mpg123"), {QStringLiteral("-q"), QStringLiteral("-t"), mp3});
}

QString mp3valProblems(const QString &mp3)
{
    QProcess process;
    process.start(QStringLiteral("mp3val"), {mp3});
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return QStringLiteral("mp3val failed");
    QStringList problems;
    for (const QString &line :
         QString::fromLocal8Bit(process.readAllStandardOutput()).split(u'\n')) {
        if ((line.startsWith(QStringLiteral("WARNING")) ||
             line.startsWith(QStringLiteral("ERROR"))) &&
            !line.endsWith(QStringLiteral("No supported tags in the file")))
            problems << line;
    }
    return problems.join(u'\n');
}

std::vector<double> blockErrors(const Pcm &a, const Pcm &reference, int block)
{
    std::vector<double> errors;
    if (a.channels != reference.channels)
        return errors;
    const std::size_t step = std::size_t(block * a.channels);
    const std::size_t size = std::min(a.samples.size(), reference.samples.size());
    for (std::size_t at = 0; at + step <= size; at += step) {
        double sum = 0;
        for (std::size_t i = at; i < at + step; ++i) {
            const double d = double(a.samples[i]) - double(reference.samples[i]);
            sum += d * d;
        }
        errors.push_back(sum);
    }
    return errors;
}

double snr(const Pcm &a, const Pcm &reference)
{
    double signal = 0, noise = 0;
    const std::size_t size = std::min(a.samples.size(), reference.samples.size());
    for (std::size_t i = 0; i < size; ++i) {
        signal += double(reference.samples[i]) * reference.samples[i];
        const double d = double(a.samples[i]) - double(reference.samples[i]);
        noise += d * d;
    }
    return 10.0 * std::log10(signal / std::max(noise, 1e-30));
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString toolErrors(const QString &program, const QStringList &args)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return QStringLiteral("failed: ") + QString::fromLocal8Bit(process.readAllStandardError());
    return QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
}

} // namespace audiocheck
