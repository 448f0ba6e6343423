#include "mp3enc/loudness.h"

#include "mp3enc/channelmixer.h"
#include "mp3enc/replaygain.h"
#include "mp3enc/sndfilereader.h"

#include <vector>

std::optional<std::uint16_t> radioGainOf(const SndFileReader &input, float scale,
                                         const std::atomic<bool> &stop)
{
    SndFileReader reader;
    if (!reader.openSame(input))
        return std::nullopt;
    if (input.floatPeak())
        reader.setFloatPeak(*input.floatPeak());
    reader.setCancel(&stop);
    const ChannelMixer mixer(reader.channels(), reader.channelMap());
    const int channels = mixer.outputChannels();
    replaygain::Analysis analysis(reader.sampleRate());
    constexpr int Block = 4608;
    std::vector<int> interleaved(std::size_t(Block) * std::size_t(reader.channels()));
    std::vector<int> left(Block), right(Block);
    std::vector<float> l(Block), r(Block);
    for (std::int64_t done = 0; done < reader.frames();) {
        const auto want = int(std::min<std::int64_t>(Block, reader.frames() - done));
        if (reader.read(interleaved.data(), want) != want || stop.load(std::memory_order_relaxed))
            return std::nullopt;
        mixer.split(interleaved.data(), want, left.data(), right.data());
        for (int i = 0; i < want; ++i) {
            l[std::size_t(i)] = replaygain::lameSample(left[std::size_t(i)], scale);
            r[std::size_t(i)] = replaygain::lameSample(right[std::size_t(i)], scale);
        }
        analysis.analyze(l.data(), r.data(), std::size_t(want), channels);
        done += want;
    }
    analysis.finish();
    if (!replaygain::Analysis::isSupportedRate(reader.sampleRate()))
        return std::uint16_t(0);
    return replaygain::radioGainField(replaygain::titleGain(analysis.histogram()));
}
