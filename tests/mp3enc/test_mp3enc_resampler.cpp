// Our resampling for the analysis against LAME itself. This test links LAME's static library with
// ReplayGain entry points of its own, which record every call LAME's encode loop makes to its
// analysis, and compares them with the calls resampler::Stream makes for the same input: call by
// call, sample by sample, bit for bit, through the flush; and the frames LAME encoded.
#include "mp3enc/calc/replaygain.h"
#include "mp3enc/input/resampler.h"

#include <QtTest>
#include <cmath>
#include <cstring>
#include <lame/lame.h>
#include <numbers>
#include <random>
#include <vector>

namespace {

// The calls one analysis heard: each call's samples, left and right.
struct Heard
{
    int rate = 0;
    std::vector<std::vector<float>> left, right;

    void add(const float *l, const float *r, std::size_t n, int channels)
    {
        left.emplace_back(l, l + n);
        right.emplace_back(channels == 2 ? r : l, (channels == 2 ? r : l) + n);
    }
};

Heard heardByLame;

} // namespace

// LAME's ReplayGain entry points, in place of the library's own: LAME only ever passes them its
// analysis state, which they ignore.
extern "C" {
int InitGainAnalysis(void *, long sampleRate)
{
    heardByLame = {};
    heardByLame.rate = int(sampleRate);
    return 1;
}

int AnalyzeSamples(void *, const float *left, const float *right, size_t n, int channels)
{
    heardByLame.add(left, right, n, channels);
    return 1;
}

float GetTitleGain(void *)
{
    return replaygain::NotEnoughSamples;
}
}

namespace {

// Full-scale 32-bit samples, not multiples of 2^16: tones under a swell, and noise; the right
// channel differs.
std::vector<std::vector<int>> generate(int rate, int channels, int frames)
{
    std::minstd_rand noise(11);
    std::vector<std::vector<int>> samples{std::size_t(channels)};
    for (int i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        for (int ch = 0; ch < channels; ++ch) {
            const double hz = ch == 0 ? 440.0 : 2999.0;
            const double swell = 0.1 + 0.5 * (1 + std::sin(2 * std::numbers::pi * 0.7 * t));
            const double hiss = double(noise() % 2001) / 1000.0 - 1.0;
            const double v = swell * (0.6 * std::sin(2 * std::numbers::pi * hz * t) + 0.2 * hiss);
            samples[std::size_t(ch)].push_back(int(std::lround(v * 0x7FFF0000)));
        }
    }
    return samples;
}

// Encodes with LAME, `chunk` samples a call; returns the frames it encoded and its scale.
bool encodeWithLame(const std::vector<std::vector<int>> &in, int rate, int outRate, int kbps,
                    std::size_t chunk, std::int64_t *frames, float *scale)
{
    lame_global_flags *lame = lame_init();
    const auto channels = int(in.size());
    lame_set_write_id3tag_automatic(lame, 0);
    lame_set_bWriteVbrTag(lame, 0);
    lame_set_findReplayGain(lame, 1);
    lame_set_in_samplerate(lame, rate);
    lame_set_out_samplerate(lame, outRate);
    lame_set_num_channels(lame, channels);
    lame_set_brate(lame, kbps);
    bool ok = lame_init_params(lame) >= 0 && lame_get_out_samplerate(lame) == outRate;
    std::vector<unsigned char> mp3(1 << 20);
    for (std::size_t from = 0; ok && from < in[0].size(); from += chunk) {
        const auto n = int(std::min(chunk, in[0].size() - from));
        ok = lame_encode_buffer_int(lame, in[0].data() + from, in.back().data() + from, n,
                                    mp3.data(), int(mp3.size())) >= 0;
    }
    ok = ok && lame_encode_flush(lame, mp3.data(), int(mp3.size())) >= 0;
    *frames = lame_get_frameNum(lame);
    *scale = lame_get_scale(lame);
    lame_close(lame);
    return ok;
}

Heard resampleOurs(const std::vector<std::vector<int>> &in, int rate, int outRate, float scale,
                   std::size_t chunk, std::int64_t *frames)
{
    const auto channels = int(in.size());
    Heard heard;
    heard.rate = outRate;
    resampler::Stream stream(rate, outRate, channels, [&](const float *l, const float *r, int n) {
        heard.add(l, r, std::size_t(n), channels);
    });
    std::vector<float> left(chunk), right(chunk);
    for (std::size_t from = 0; from < in[0].size(); from += chunk) {
        const std::size_t n = std::min(chunk, in[0].size() - from);
        for (std::size_t i = 0; i < n; ++i) {
            left[i] = replaygain::lameSample(in[0][from + i], scale);
            right[i] = replaygain::lameSample(in.back()[from + i], scale);
        }
        stream.encode(left.data(), right.data(), int(n));
    }
    stream.flush();
    *frames = stream.frames();
    return heard;
}

// Where two lists of calls first differ, or empty.
QString firstDifference(const Heard &lame, const Heard &ours)
{
    if (lame.rate != ours.rate)
        return QStringLiteral("rate %1 against %2").arg(lame.rate).arg(ours.rate);
    for (std::size_t c = 0; c < std::min(lame.left.size(), ours.left.size()); ++c) {
        if (lame.left[c].size() != ours.left[c].size())
            return QStringLiteral("call %1: %2 samples against %3")
                .arg(c)
                .arg(lame.left[c].size())
                .arg(ours.left[c].size());
        const std::size_t bytes = lame.left[c].size() * sizeof(float);
        if (bytes > 0 && (std::memcmp(lame.left[c].data(), ours.left[c].data(), bytes) != 0 ||
                          std::memcmp(lame.right[c].data(), ours.right[c].data(), bytes) != 0))
            return QStringLiteral("call %1: other samples").arg(c);
    }
    if (lame.left.size() != ours.left.size())
        return QStringLiteral("%1 calls against %2").arg(lame.left.size()).arg(ours.left.size());
    return {};
}

} // namespace

class TestMp3EncResampler final : public QObject
{
    Q_OBJECT

private slots:
    void matchesLame_data();
    void matchesLame();
};

void TestMp3EncResampler::matchesLame_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("outRate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("kbps");
    QTest::addColumn<int>("chunk"); // input samples a lame_encode_buffer_int call
    QTest::addColumn<int>("frames");

    // Our encoder's blocks, and the lame command's frame's worth of input.
    QTest::newRow("44.1 to 16 kHz") << 44100 << 16000 << 2 << 32 << 2304 << 132300 + 77;
    QTest::newRow("44.1 to 16 kHz, command") << 44100 << 16000 << 2 << 32 << 576 << 132300 + 77;
    QTest::newRow("44.1 to 24 kHz") << 44100 << 24000 << 2 << 64 << 2304 << 132300 + 77;
    QTest::newRow("44.1 to 32 kHz") << 44100 << 32000 << 2 << 96 << 2304 << 132300 + 77;
    QTest::newRow("44.1 to 8 kHz") << 44100 << 8000 << 2 << 32 << 2304 << 132300 + 77;
    QTest::newRow("48 to 44.1 kHz") << 48000 << 44100 << 2 << 112 << 2304 << 144000 + 5;
    QTest::newRow("48 to 32 kHz, command") << 48000 << 32000 << 2 << 96 << 1152 << 144000 + 5;
    QTest::newRow("22.05 to 8 kHz") << 22050 << 8000 << 2 << 32 << 2304 << 66150 + 3;
    // Whole ratios: the filter has an even order.
    QTest::newRow("mono, 44.1 to 22.05 kHz") << 44100 << 22050 << 1 << 32 << 2304 << 132300 + 9;
    QTest::newRow("48 to 16 kHz") << 48000 << 16000 << 2 << 32 << 2304 << 144000 + 5;
    QTest::newRow("96 to 48 kHz") << 96000 << 48000 << 2 << 192 << 2304 << 288000 + 1;
    QTest::newRow("192 to 48 kHz") << 192000 << 48000 << 2 << 192 << 2304 << 576000 + 1;
    QTest::newRow("88.2 to 44.1 kHz") << 88200 << 44100 << 2 << 192 << 2304 << 264600 + 1;
    // Raised rates, and calls so small the resampler often makes nothing.
    QTest::newRow("6 to 8 kHz") << 6000 << 8000 << 2 << 32 << 2304 << 18000 + 11;
    QTest::newRow("mono, 6 to 8 kHz, 7 a call") << 6000 << 8000 << 1 << 32 << 7 << 18000 + 11;
    QTest::newRow("44.1 to 16 kHz, 1 a call") << 44100 << 16000 << 2 << 32 << 1 << 22050;
    QTest::newRow("nothing but the flush") << 44100 << 16000 << 2 << 32 << 2304 << 0;
}

void TestMp3EncResampler::matchesLame()
{
    QFETCH(int, rate);
    QFETCH(int, outRate);
    QFETCH(int, channels);
    QFETCH(int, kbps);
    QFETCH(int, chunk);
    QFETCH(int, frames);

    const std::vector<std::vector<int>> in = generate(rate, channels, frames);
    std::int64_t lameFrames = 0;
    float scale = 0;
    QVERIFY(encodeWithLame(in, rate, outRate, kbps, std::size_t(chunk), &lameFrames, &scale));
    QVERIFY(resampler::isNeeded(rate, outRate));
    QVERIFY(!heardByLame.left.empty());
    std::int64_t ourFrames = 0;
    const Heard ours = resampleOurs(in, rate, outRate, scale, std::size_t(chunk), &ourFrames);
    QCOMPARE(firstDifference(heardByLame, ours), QString());
    QCOMPARE(ourFrames, lameFrames);
}

QTEST_GUILESS_MAIN(TestMp3EncResampler)
#include "test_mp3enc_resampler.moc"
