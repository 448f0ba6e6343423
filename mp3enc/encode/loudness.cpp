#include "mp3enc/encode/loudness.h"

#include "mp3enc/calc/parttimes.h"
#include "mp3enc/calc/reasons.h"
#include "mp3enc/calc/replaygain.h"
#include "mp3enc/encode/blockfeeder.h"
#include "mp3enc/encode/loudnessmeter.h"
#include "mp3enc/input/channelmixer.h"
#include "mp3enc/input/resampler.h"
#include "mp3enc/input/sndfilereader.h"

#include <algorithm>
#include <functional>
#include <vector>

namespace {

using Block = std::function<void(const float *left, const float *right, int n)>;

// Reads the whole input in the encoder's blocks, as LAME takes them in. False when stopped, or
// when the input cannot be read to its end (`*error` then says why). `*reading`, if given, gets
// the CPU time spent outside `block`.
bool readAsLame(SndFileReader &reader, float scale, const std::atomic<bool> &stop,
                const std::function<void()> &beforeBlock, QString *error, double *reading,
                LoudnessMeter *meter, const Block &block)
{
    const ChannelMixer mixer(reader.channels(), reader.channelMap());
    const int frames = BlockFeeder::blockFramesFor(reader.channels());
    const auto size = std::size_t(frames);
    std::vector<int> interleaved(size * std::size_t(reader.channels()));
    std::vector<int> left(size), right(size);
    std::vector<float> l(size), r(size);
    for (std::int64_t done = 0; done < reader.frames();) {
        const auto want = int(std::min<std::int64_t>(frames, reader.frames() - done));
        if (beforeBlock)
            beforeBlock();
        const double readStart = reading ? threadSeconds() : 0;
        const std::int64_t got = reader.read(interleaved.data(), want);
        if (stop.load(std::memory_order_relaxed))
            return false;
        if (got != want) {
            if (error)
                *error =
                    got < 0 ? reasons::readFailed(reader.errorText()) : reasons::InputEndedEarly;
            return false;
        }
        mixer.split(interleaved.data(), want, left.data(), right.data());
        for (std::size_t i = 0; i < std::size_t(want); ++i) {
            l[i] = replaygain::lameSample(left[i], scale);
            r[i] = replaygain::lameSample(right[i], scale);
        }
        if (reading)
            *reading += threadSeconds() - readStart;
        if (meter)
            meter->add(l.data(), r.data(), want);
        block(l.data(), r.data(), want);
        done += want;
    }
    return true;
}

std::uint16_t fieldOf(const replaygain::Analysis &analysis, int rate)
{
    if (!replaygain::Analysis::isSupportedRate(rate))
        return 0;
    return replaygain::radioGainField(replaygain::titleGain(analysis.histogram()));
}

} // namespace

std::optional<std::uint16_t> radioGainOf(const SndFileReader &input, float scale, int outputRate,
                                         const std::atomic<bool> &stop, QString *error,
                                         const std::function<void()> &beforeBlock, double *reading,
                                         LoudnessMeter *meter)
{
    SndFileReader reader;
    if (!reader.openSame(input)) {
        if (error)
            *error = reasons::readFailed(reader.errorText());
        return std::nullopt;
    }
    reader.setCancel(&stop);
    if (meter) {
        if (!readAsLame(reader, scale, stop, beforeBlock, error, reading, meter,
                        [](const float *, const float *, int) {}))
            return std::nullopt;
        return radioGainField(*meter);
    }
    const int channels = ChannelMixer(reader.channels(), reader.channelMap()).outputChannels();
    replaygain::Analysis analysis(outputRate);
    if (!resampler::isNeeded(reader.sampleRate(), outputRate)) {
        if (!readAsLame(reader, scale, stop, beforeBlock, error, reading, meter,
                        [&](const float *l, const float *r, int n) {
                            analysis.analyze(l, r, std::size_t(n), channels);
                        }))
            return std::nullopt;
        analysis.finish();
        return fieldOf(analysis, outputRate);
    }
    resampler::Stream stream(reader.sampleRate(), outputRate, channels,
                             [&](const float *l, const float *r, int n) {
                                 analysis.analyzeCall(l, r, std::size_t(n), channels);
                             });
    if (!readAsLame(reader, scale, stop, beforeBlock, error, reading, meter,
                    [&](const float *l, const float *r, int n) { stream.encode(l, r, n); }))
        return std::nullopt;
    stream.flush();
    return fieldOf(analysis, outputRate);
}

std::uint16_t radioGainField(const LoudnessMeter &meter)
{
    const std::optional<GainFigures> figures = trackFigures(meter);
    return figures ? replaygain::radioGainField(float(figures->gain)) : 0;
}

bool measureAsLame(const SndFileReader &input, float scale, LoudnessMeter &meter,
                   const std::atomic<bool> &stop, QString *error)
{
    SndFileReader reader;
    if (!reader.openSame(input)) {
        if (error)
            *error = reasons::readFailed(reader.errorText());
        return false;
    }
    reader.setCancel(&stop);
    return readAsLame(reader, scale, stop, {}, error, nullptr, &meter,
                      [](const float *, const float *, int) {});
}
