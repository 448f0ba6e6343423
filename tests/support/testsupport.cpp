#include "tests/support/testsupport.h"

#include "runtime/regsvr.h"

#include <QDir>
#include <QProcess>
#include <QtTest>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <ftw.h>
#include <sndfile.h>
#include <unistd.h>
#include <vector>

namespace testsupport {

IsolatedDataHome::IsolatedDataHome()
    : m_previous(qgetenv("XDG_DATA_HOME")),
      m_hadPrevious(qEnvironmentVariableIsSet("XDG_DATA_HOME"))
{
    qputenv("XDG_DATA_HOME", m_dir.path().toLocal8Bit());
}

IsolatedDataHome::~IsolatedDataHome()
{
    if (m_hadPrevious)
        qputenv("XDG_DATA_HOME", m_previous);
    else
        qunsetenv("XDG_DATA_HOME");
}

bool touchBytes(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    return fd >= 0 && ::close(fd) == 0;
}

void removeTree(const QString &folder)
{
    ::nftw(
        QFile::encodeName(folder).constData(),
        [](const char *path, const struct stat *, int, FTW *) { return std::remove(path), 0; }, 16,
        FTW_DEPTH | FTW_PHYS);
}

QString binDir()
{
    return QStringLiteral(BATCHMP3_BIN_DIR);
}

bool registerBuiltComponent(const QString &fileName)
{
    QString error;
    if (!rt::registerLibrary(QDir(binDir()).filePath(fileName), false, &error)) {
        qWarning("cannot register %s: %s", qPrintable(fileName), qPrintable(error));
        return false;
    }
    return true;
}

bool writeWav(const QString &path, int frames, int channels, int sampleRate, int format)
{
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = format ? format : (SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    SNDFILE *file = sf_open(path.toLocal8Bit().constData(), SFM_WRITE, &info);
    if (!file)
        return false;
    // A few partials with a slow tremolo: enough spectral content to exercise the encoder.
    constexpr int Block = 4096;
    std::vector<float> buffer(size_t(Block) * channels);
    for (int done = 0; done < frames;) {
        const int n = std::min(Block, frames - done);
        for (int i = 0; i < n; ++i) {
            const double t = double(done + i) / sampleRate;
            const double env = 0.6 + 0.4 * std::sin(2 * M_PI * 0.5 * t);
            for (int c = 0; c < channels; ++c) {
                const double f = 220.0 * (1 + c * 0.25);
                const double v = env * (0.5 * std::sin(2 * M_PI * f * t) +
                                        0.25 * std::sin(2 * M_PI * 2.01 * f * t) +
                                        0.1 * std::sin(2 * M_PI * 3.02 * f * t));
                buffer[size_t(i) * channels + c] = float(0.8 * v);
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

qint64 decodedFrames(const QString &mp3, const QString &scratch)
{
    const QString wav = scratch + QStringLiteral("/decoded.wav");
    QProcess mpg123;
    mpg123.start(QStringLiteral("mpg123"), {QStringLiteral("-q"), QStringLiteral("-w"), wav, mp3});
    if (!mpg123.waitForFinished(60000) || mpg123.exitCode() != 0)
        return -1;
    SF_INFO info{};
    SNDFILE *file = sf_open(QFile::encodeName(wav).constData(), SFM_READ, &info);
    if (!file)
        return -1;
    sf_close(file);
    QFile::remove(wav);
    return info.frames;
}

} // namespace testsupport
