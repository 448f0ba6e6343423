// Benchmark driver: where one file's encode spends its CPU time, part by part, for
// scaling_bench.py's model of more cores than this machine has.
//   parts_driver encode <in> <out.mp3> <kbps> <threads>
//       the file as the converter encodes it (the rate LAME picks for kbps); threads 1 is one
//       piece. Prints "wall", "cpu" (the process), "segments", and per segment i the lines
//       "segment i s", "join i s" and "runon i s" (CPU seconds), then "loudness" and
//       "loudness_reading".
//   parts_driver loudness <in> <kbps>
//       the loudness pass alone, on one thread: "wall", "cpu", "reading" and "gain".
#include "bench/cpuclock.h"
#include "mp3enc/calc/parttimes.h"
#include "mp3enc/encode/encodejob.h"
#include "mp3enc/encode/lameencoder.h"
#include "mp3enc/encode/loudness.h"
#include "mp3enc/input/sndfilereader.h"
#include "mp3enc/segments/parallelencode.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <stop_token>

namespace {

struct Opened
{
    std::unique_ptr<SndFileReader> reader;
    std::unique_ptr<LameEncoder> encoder;
    LameEncoder::Settings settings;
};

// As the component opens a pair.
bool open(const QString &in, int kbps, Opened &opened)
{
    opened.reader = std::make_unique<SndFileReader>();
    if (!opened.reader->open(in)) {
        fprintf(stderr, "cannot read %s\n", qPrintable(in));
        return false;
    }
    LameEncoder::Settings &s = opened.settings;
    s.sampleRate = opened.reader->sampleRate();
    s.channels = opened.reader->channels() == 1 ? 1 : 2;
    s.frames = std::uint64_t(opened.reader->frames());
    s.kbps = kbps;
    opened.encoder = std::make_unique<LameEncoder>();
    QString error;
    if (!opened.encoder->init(s, &error)) {
        fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    return true;
}

void print(const char *name, const std::vector<double> &seconds)
{
    for (std::size_t i = 0; i < seconds.size(); ++i)
        printf("%s %zu %.6f\n", name, i, seconds[i]);
}

int encode(const QString &in, const QString &out, int kbps, int threads)
{
    Opened opened;
    if (!open(in, kbps, opened))
        return 1;
    PartTimes times;
    SegmentOptions options;
    options.threads = threads;
    options.times = &times;
    const float scale = opened.encoder->scale();
    EncodeJob job(std::move(opened.reader), std::move(opened.encoder), out);
    job.allowSegments(opened.settings, options);
    QElapsedTimer timer;
    timer.start();
    const double cpuBefore = cpuclock::process();
    std::stop_source stop;
    EncodeResult result = job.run(stop.get_token(), [](int) {});
    if (result.status == EncodeResult::Done)
        result = job.commit();
    if (result.status != EncodeResult::Done) {
        fprintf(stderr, "failed: %s\n", qPrintable(result.errorText));
        return 1;
    }
    printf("wall %.6f\ncpu %.6f\n", double(timer.nsecsElapsed()) / 1e9,
           cpuclock::process() - cpuBefore);
    const ParallelEncode *parallel = job.parallel();
    printf("segments %zu\njoined %d\nscale %.4f\n", parallel ? parallel->plan().segments.size() : 0,
           parallel && parallel->joined() ? 1 : 0, double(scale));
    print("segment", times.segments);
    print("join", times.joins);
    print("runon", times.runOns);
    printf("loudness %.6f\nloudness_reading %.6f\n", times.loudness, times.loudnessReading);
    return 0;
}

int loudness(const QString &in, int kbps)
{
    Opened opened;
    if (!open(in, kbps, opened))
        return 1;
    QElapsedTimer timer;
    timer.start();
    const double cpuBefore = cpuclock::process();
    const std::atomic<bool> stop{false};
    double reading = 0;
    QString error;
    const auto gain = radioGainOf(*opened.reader, opened.encoder->scale(),
                                  opened.encoder->outSampleRate(), stop, &error, {}, &reading);
    if (!gain) {
        fprintf(stderr, "failed: %s\n", qPrintable(error));
        return 1;
    }
    printf("wall %.6f\ncpu %.6f\nreading %.6f\ngain %u\n", double(timer.nsecsElapsed()) / 1e9,
           cpuclock::process() - cpuBefore, reading, unsigned(*gain));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 6 && args[1] == "encode")
        return encode(args[2], args[3], args[4].toInt(), args[5].toInt());
    if (args.size() == 4 && args[1] == "loudness")
        return loudness(args[2], args[3].toInt());
    fprintf(stderr, "usage: see the top of parts_driver.cpp\n");
    return 2;
}
