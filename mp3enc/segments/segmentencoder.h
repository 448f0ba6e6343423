#pragma once

#include "mp3enc/calc/encoderesult.h"
#include "mp3enc/calc/framelist.h"
#include "mp3enc/encode/blockfeeder.h"
#include "mp3enc/encode/lameencoder.h"
#include "mp3enc/input/sndfilereader.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// The encoder of one segment: reads the input from a frame of its own, and keeps its state
// after its part is done, so the join can let it run on over the next segment.
class LoudnessMeter;

class SegmentEncoder
{
public:
    // `settings` describe the whole file; `firstFrame` is where this encoder starts. Reads the
    // file `input` has open. The first `silentFrames` frames are fed silence instead (see
    // SegmentPlan::LeadIn).
    EncodeResult open(const SndFileReader &input, const LameEncoder::Settings &settings,
                      std::int64_t firstFrame, bool infoTag, int silentFrames = 0);
    // After open(): `meter` hears the input samples [from, to) as LAME is given them, however
    // far the encoder goes.
    void measure(LoudnessMeter *meter, std::int64_t from, std::int64_t to);
    // Encodes the input up to sample `end`; at the file's end it is flushed as well.
    EncodeResult encodeTo(std::int64_t end, const std::function<bool()> &stopped);
    // Parses what the encoder has written; `*first` is the number of frames[0].
    bool parse(FrameList *frames, std::int64_t *first) const;
    // Forgets the bytes of the frames before `frame` (a frame number from `frames`), keeping
    // memory bounded however far the encoder runs on.
    void dropBefore(std::int64_t frame, const FrameList &frames, std::int64_t first);
    // The info-tag frame for the start of the file; empty when the encoder wrote none.
    std::vector<unsigned char> tag() const { return m_encoder.lametagFrame(); }
    // Samples of silence the encoder put after the input's last, once it reached the end.
    int padding() const { return m_encoder.encoderPadding(); }
    // Some codecs inside WAV files cannot seek: such a file is encoded in one piece.
    bool seekFailed() const { return m_seekFailed; }

private:
    SndFileReader m_reader;
    LameEncoder m_encoder;
    std::unique_ptr<BlockFeeder> m_feeder; // set by open()
    std::int64_t m_position = 0;           // next input sample
    std::int64_t m_silentEnd = 0;          // input samples before it are fed as silence
    std::int64_t m_total = 0;
    std::vector<unsigned char> m_bytes;
    std::int64_t m_firstFrame = 0; // number of the first frame in m_bytes
    bool m_infoTag = false;
    bool m_cut = false; // bytes before m_firstFrame dropped
    bool m_seekFailed = false;
};
