#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

// Signals that make the encoder work hard, and measures of how a decode differs from them.
namespace audiocheck {

// Tones, a noise floor and drum-like bursts (which force short blocks) for `seconds` seconds,
// as 16-bit samples or another libsndfile subtype; from `pauseAt` seconds on, if given, a second
// of silence.
bool writeBusyWav(const QString &path, double seconds, int sampleRate, int channels,
                  int subtype = 0x0002 /* SF_FORMAT_PCM_16 */, double pauseAt = -1);
// Pink noise at a quarter of full scale: dense material, on which an encoder started mid-file
// keeps a fuller bit reservoir than the whole-file encode for a long time.
bool writePinkNoiseWav(const QString &path, double seconds, int sampleRate, int channels);

struct Pcm
{
    std::vector<float> samples; // interleaved
    int channels = 0;
    int sampleRate = 0;
    qint64 frames() const { return channels ? qint64(samples.size()) / channels : 0; }
};
// Reads any WAV, or decodes an MP3 with mpg123 (gapless) into `scratch` first.
Pcm readWav(const QString &path);
Pcm decodeMp3(const QString &mp3, const QString &scratch);
// How many frames ffmpeg decodes from an MP3 (it reads the info tag's delay and padding too).
qint64 ffmpegFrames(const QString &mp3, int channels);

// Where ffmpeg's decode of an MP3 at `sampleRate` starts when asked to start at `seconds`
// ("-ss"), in seconds of its decode from the start; NaN when ffmpeg fails or its samples are not
// found there.
double ffmpegSeekLanding(const QString &mp3, double seconds, int sampleRate);
// What ffmpeg and mpg123 complain of while decoding an MP3; empty for a clean file.
QString decoderErrors(const QString &mp3);
// What mp3val finds wrong with an MP3 (a missing tag is not wrong); empty for a clean file.
QString mp3valProblems(const QString &mp3);

// Squared error of `a` against `reference` per block of `block` frames.
std::vector<double> blockErrors(const Pcm &a, const Pcm &reference, int block);
// Signal to noise ratio of `a` against `reference`, in dB.
double snr(const Pcm &a, const Pcm &reference);

QByteArray readAll(const QString &path);
// What a tool writes on its error output; "failed" when it does not run to a clean exit.
QString toolErrors(const QString &program, const QStringList &args);

} // namespace audiocheck
