#pragma once

#include "mp3enc/calc/encoderesult.h"

#include <QString>
#include <cstddef>
#include <vector>

class TempOutput;
struct Id3Tags;

// The MP3 file in the order it is laid down: the ID3v2 tag, the frames, the ID3v1 tag, and last
// the info-tag frame written over the first frame (which follows the ID3v2 tag), once the whole
// stream is known. The one-piece and the split encode both write through it.
class Mp3Layout
{
public:
    Mp3Layout(TempOutput &out, const Id3Tags &id3) : m_out(out), m_id3(id3) {}

    // Creates the file for `outputPath`, the ID3v2 tag at its start.
    bool begin(const QString &outputPath);
    bool frames(const void *data, std::size_t size);
    bool frames(const std::vector<unsigned char> &bytes)
    {
        return frames(bytes.data(), bytes.size());
    }
    // The ID3v1 tag behind the frames, and `infoTag` (none: empty) over the first frame.
    bool finish(const std::vector<unsigned char> &infoTag);

    TempOutput &out() { return m_out; }
    const Id3Tags &tags() const { return m_id3; }
    // What a write that returned false means for the file.
    EncodeResult failed() const;

private:
    TempOutput &m_out;
    const Id3Tags &m_id3;
};

// The result of a failed write to `out`: a full disk named as such, a protected file as Open
// refuses one.
EncodeResult writeFailedResult(const TempOutput &out);
