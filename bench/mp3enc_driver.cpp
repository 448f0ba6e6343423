// Benchmark driver for the encoder component. Creates the component through the registry, as
// the converter does, and converts the pairs it reads from standard input one after another.
//   mp3enc_driver gen <out.wav> <seconds> <seed>    music-like 44.1 kHz stereo 16-bit WAV
//   mp3enc_driver genfloat <out.wav> <seconds> <seed>   the same as 32-bit float
//   mp3enc_driver uncache <file>                    drops the file from the page cache
//   mp3enc_driver encode <kbps> [threads]           stdin: "<in>\t<out>" lines; prints wall, cpu s
//   mp3enc_driver stop <in> <out> <after ms> [<in> <out>]...
//                                                    prints how long Stop took, in ms, with the
//                                                    further pairs handed over to encode ahead
// Every mode ends with a line "maxrss <kB>", the peak resident memory of the process.
#include "bench/cpuclock.h"
#include "runtime/comerror.h"
#include "runtime/objectfactory.h"
#include "runtime/regsvr.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <iostream>
#include <random>
#include <sndfile.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

class Site final : public rt::ControlSite
{
public:
    QString displayName() const override { return QStringLiteral("Mp3"); }
    bool userMode() const override { return true; }
    void propertyChanged(const QString &) override {}
    void fireEvent(rt::DispId id, QVariantList &args) override
    {
        if (id == 2) {
            ended = true;
            loop.quit();
        }
        if (id == 3)
            fprintf(stderr, "Failure %s\n", qPrintable(args.value(1).toString()));
    }
    bool ended = false;
    QEventLoop loop; // runs as the converter's would: asleep until an event arrives
};

// Chords of decaying harmonic notes over a bass line, a little noise for cymbals: enough
// spectral movement that the encoder works as it does on music.
int generate(const char *path, double seconds, unsigned seed, int subtype = SF_FORMAT_PCM_16)
{
    constexpr int Rate = 44100;
    SF_INFO info{};
    info.samplerate = Rate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | subtype;
    SNDFILE *file = sf_open(path, SFM_WRITE, &info);
    if (!file)
        return 1;
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    const double scale[] = {0, 2, 4, 5, 7, 9, 11, 12};
    const auto frames = sf_count_t(seconds * Rate);
    const int beat = Rate / 4; // 240 beats per minute of eighths
    std::vector<short> block(size_t(beat) * 2);
    double freqs[4] = {220, 277, 330, 110};
    for (sf_count_t done = 0; done < frames;) {
        for (int v = 0; v < 3; ++v)
            freqs[v] = 220.0 * std::pow(2.0, scale[random() % 8] / 12.0 + (random() % 2));
        freqs[3] = 55.0 * std::pow(2.0, scale[random() % 8] / 12.0);
        const double hat = (random() % 2) ? 0.08 : 0.02;
        const auto n = int(std::min<sf_count_t>(beat, frames - done));
        for (int i = 0; i < n; ++i) {
            const double t = double(done + i) / Rate, local = double(i) / Rate;
            const double decay = std::exp(-6.0 * local);
            double l = 0, r = 0;
            for (int v = 0; v < 4; ++v) {
                double s = 0;
                for (int h = 1; h <= 5; ++h)
                    s += std::sin(2 * M_PI * freqs[v] * h * t) / (h * h);
                l += s * (v % 2 ? 0.6 : 1.0);
                r += s * (v % 2 ? 1.0 : 0.6);
            }
            const double n1 = noise(random) * hat * std::exp(-30.0 * local);
            block[2 * size_t(i)] = short(std::lround(7000 * decay * l + 9000 * n1));
            block[2 * size_t(i) + 1] = short(std::lround(7000 * decay * r + 9000 * n1));
        }
        if (sf_writef_short(file, block.data(), n) != n)
            return 1;
        done += n;
    }
    return sf_close(file) == 0 ? 0 : 1;
}

// User and system time of the whole process, every thread included.
std::unique_ptr<rt::Control> createEncoder(Site *site)
{
    QString error;
    const QString library = QDir(QCoreApplication::applicationDirPath()).filePath("Mp3Enc.ocx");
    if (!rt::registerLibrary(library, false, &error))
        throw rt::ComError(rt::ErrCannotCreateObject, error);
    return rt::createObject(QStringLiteral("MP3ENCLib.Mp3Enc"), site);
}

int encode(int kbps, int threads)
{
    Site site;
    auto encoder = createEncoder(&site);
    encoder->put(QStringLiteral("BitRate"), kbps * 1000);
    if (threads >= 0)
        encoder->put(QStringLiteral("Threads"), threads);
    std::string line;
    while (std::getline(std::cin, line)) {
        const QStringList pair = QString::fromStdString(line).split(u'\t');
        if (pair.size() != 2)
            continue;
        QElapsedTimer timer;
        timer.start();
        const double cpuBefore = cpuclock::process();
        site.ended = false;
        encoder->call(QStringLiteral("Open"), {pair[0], pair[1]});
        encoder->call(QStringLiteral("Encode"));
        if (!site.ended)
            site.loop.exec();
        printf("seconds %.6f cpu %.6f\n", timer.nsecsElapsed() / 1e9,
               cpuclock::process() - cpuBefore);
        fflush(stdout);
    }
    return 0;
}

int stopAfter(const QString &in, const QString &out, int afterMs, const QStringList &ahead)
{
    Site site;
    auto encoder = createEncoder(&site);
    encoder->call(QStringLiteral("Open"), {in, out});
    encoder->call(QStringLiteral("Encode"));
    for (qsizetype i = 0; i + 1 < ahead.size(); i += 2)
        encoder->call(QStringLiteral("Prefetch"), {ahead[i], ahead[i + 1]});
    QDeadlineTimer deadline(afterMs);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QElapsedTimer timer;
    timer.start();
    encoder->call(QStringLiteral("Stop"));
    printf("stop_ms %.3f\n", timer.nsecsElapsed() / 1e6);
    return 0;
}

// A cold start for the next reader: written back, then dropped from the page cache.
int uncache(const char *path)
{
    const int fd = ::open(path, O_RDONLY);
    if (fd < 0)
        return 1;
    const bool ok = ::fdatasync(fd) == 0 && ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
    ::close(fd);
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    int status = 2;
    if (args.size() == 5 && args[1] == "gen") {
        status = generate(argv[2], args[3].toDouble(), args[4].toUInt());
    } else if (args.size() == 5 && args[1] == "genfloat") {
        status = generate(argv[2], args[3].toDouble(), args[4].toUInt(), SF_FORMAT_FLOAT);
    } else if (args.size() == 3 && args[1] == "uncache") {
        status = uncache(argv[2]);
    } else {
        QTemporaryDir home; // a registry of its own
        qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
        try {
            if ((args.size() == 3 || args.size() == 4) && args[1] == "encode")
                status = encode(args[2].toInt(), args.size() == 4 ? args[3].toInt() : -1);
            else if (args.size() >= 5 && args.size() % 2 == 1 && args[1] == "stop")
                status = stopAfter(args[2], args[3], args[4].toInt(), args.mid(5));
            else
                fprintf(stderr, "usage: see the top of mp3enc_driver.cpp\n");
        } catch (const rt::ComError &e) {
            fprintf(stderr, "error %d: %s\n", e.number(), qPrintable(e.description()));
            status = 1;
        }
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    printf("maxrss %ld\n", usage.ru_maxrss);
    return status;
}
