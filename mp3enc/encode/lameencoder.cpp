#include "mp3enc/encode/lameencoder.h"

#include "mp3enc/calc/mp3frame.h"

#include <algorithm>
#include <lame/lame.h>

QString LameEncoder::version()
{
    return QString::fromLatin1(get_lame_version());
}

LameEncoder::LameEncoder() : m_lame(lame_init())
{}

std::int64_t LameEncoder::Settings::inputSampleAt(std::int64_t frame) const
{
    const int rate = outSampleRate ? outSampleRate : sampleRate;
    return frame * mp3frame::samplesPerFrame(rate) * sampleRate / rate;
}

LameEncoder::~LameEncoder()
{
    if (m_lame)
        lame_close(m_lame);
}

namespace {

// What the lame command sets for "-b N", "-V N" and "--abr N", and nothing else, so the bytes
// match.
bool setMode(lame_global_flags *lame, const LameEncoder::Settings &s)
{
    switch (s.mode) {
    case LameEncoder::Mode::Constant:
        return lame_set_brate(lame, s.kbps) == 0;
    case LameEncoder::Mode::Variable:
        return lame_set_VBR(lame, vbr_default) == 0 &&
               lame_set_VBR_quality(lame, float(s.vbrQuality)) == 0;
    case LameEncoder::Mode::Average:
        return lame_set_VBR(lame, vbr_abr) == 0 &&
               lame_set_VBR_mean_bitrate_kbps(lame, s.kbps) == 0;
    }
    return false;
}

QString modeText(const LameEncoder::Settings &s)
{
    switch (s.mode) {
    case LameEncoder::Mode::Variable:
        return QStringLiteral("variable rate quality %1").arg(s.vbrQuality);
    case LameEncoder::Mode::Average:
        return QStringLiteral("an average of %1 kbit/s").arg(s.kbps);
    case LameEncoder::Mode::Constant:
        break;
    }
    return QStringLiteral("%1 kbit/s").arg(s.kbps);
}

} // namespace

bool LameEncoder::init(const Settings &s, QString *error)
{
    if (!m_lame) {
        *error = QStringLiteral("the MP3 encoder could not be initialised");
        return false;
    }
    lame_set_write_id3tag_automatic(m_lame, 0);
    const bool set = lame_set_num_samples(m_lame, static_cast<unsigned long>(s.frames)) == 0 &&
                     lame_set_in_samplerate(m_lame, s.sampleRate) == 0 &&
                     lame_set_num_channels(m_lame, s.channels) == 0 && setMode(m_lame, s) &&
                     lame_set_findReplayGain(m_lame, s.replayGain ? 1 : 0) == 0 &&
                     lame_set_bWriteVbrTag(m_lame, s.infoTag ? 1 : 0) == 0 &&
                     (s.outSampleRate == 0 || s.ratePicked ||
                      lame_set_out_samplerate(m_lame, s.outSampleRate) == 0);
    // lame_init_params may accept what a setter refused, so both results count.
    if (!set || lame_init_params(m_lame) < 0 || lame_get_num_channels(m_lame) != s.channels) {
        *error = QStringLiteral("the MP3 encoder refuses %1 channel(s) at %2 Hz and %3")
                     .arg(s.channels)
                     .arg(s.sampleRate)
                     .arg(modeText(s));
        return false;
    }
    return true;
}

int LameEncoder::totalFrames() const
{
    return lame_get_totalframes(m_lame);
}

int LameEncoder::frameNumber() const
{
    return lame_get_frameNum(m_lame);
}

int LameEncoder::outSampleRate() const
{
    return lame_get_out_samplerate(m_lame);
}

// What one call can hand back for `inputFrames` more input frames. lame.h's rule of thumb,
// 1.25 * samples + 7200, counts input samples and falls short when LAME resamples upwards
// (1 kHz input becomes 8 kHz): count the output's frames at their largest size instead, with
// room for what LAME still holds from earlier calls.
size_t LameEncoder::worstCaseBytes(int inputFrames) const
{
    const double outPerIn =
        double(lame_get_out_samplerate(m_lame)) / double(lame_get_in_samplerate(m_lame));
    const int frameSamples = lame_get_framesize(m_lame);
    const auto outSamples = size_t(double(inputFrames) * outPerIn) + 1;
    const size_t mp3Frames = outSamples / size_t(frameSamples) + 4;
    const size_t perFrame =
        size_t(mp3frame::frameBytes(maxKbps(), lame_get_out_samplerate(m_lame))) +
        1; // a padding byte
    return std::max(size_t(inputFrames) * 5 / 4, mp3Frames * perFrame) + 7200;
}

int LameEncoder::encoderPadding() const
{
    return lame_get_encoder_padding(m_lame);
}

int LameEncoder::kbps() const
{
    return lame_get_brate(m_lame);
}

bool LameEncoder::variableRate() const
{
    return lame_get_VBR(m_lame) != vbr_off;
}

bool LameEncoder::averageRate() const
{
    return lame_get_VBR(m_lame) == vbr_abr;
}

int LameEncoder::minKbps() const
{
    return variableRate() ? lame_get_VBR_min_bitrate_kbps(m_lame) : kbps();
}

int LameEncoder::maxKbps() const
{
    return variableRate() ? lame_get_VBR_max_bitrate_kbps(m_lame) : kbps();
}

float LameEncoder::scale() const
{
    return lame_get_scale(m_lame);
}

bool LameEncoder::encode(const int *left, const int *right, int frames,
                         std::vector<unsigned char> &out)
{
    const size_t room = worstCaseBytes(frames);
    const size_t used = out.size();
    out.resize(used + room);
    const int n = lame_encode_buffer_int(m_lame, left, right, frames, out.data() + used, int(room));
    out.resize(used + size_t(n > 0 ? n : 0));
    return n >= 0;
}

bool LameEncoder::flush(std::vector<unsigned char> &out)
{
    // The samples LAME still holds: at most a few frames of input.
    const size_t room = worstCaseBytes(4 * lame_get_framesize(m_lame));
    const size_t used = out.size();
    out.resize(used + room);
    const int n = lame_encode_flush(m_lame, out.data() + used, int(room));
    out.resize(used + size_t(n > 0 ? n : 0));
    return n >= 0;
}

int LameEncoder::radioGain() const
{
    return lame_get_RadioGain(m_lame);
}

std::vector<unsigned char> LameEncoder::lametagFrame() const
{
    std::vector<unsigned char> tag(2880); // the largest frame MP3 allows
    const size_t n = lame_get_lametag_frame(m_lame, tag.data(), tag.size());
    tag.resize(n <= tag.size() ? n : 0);
    return tag;
}
