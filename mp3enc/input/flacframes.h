#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

// What a FLAC frame's header says: the frame's place in the stream and its length in samples.
struct FlacFrameHeader
{
    bool variable = false;   // numbered by sample, not by frame
    std::int64_t number = 0; // the frame's number, or its first sample's where `variable`
    int blockSize = 0;       // samples per channel
};

// The header at `p` when it is one: the sync code, no reserved value, a matching CRC-8.
std::optional<FlacFrameHeader> parseFlacFrameHeader(const unsigned char *p, std::size_t available);

// The samples per channel in the frames of the FLAC file open as `fd`, from `audioOffset` (its
// first frame) on, counted from the headers of its first and its last whole frame: what a
// decoder gives for a stream whose information block does not say (written to a pipe). The
// last frame is the one whose CRC-16 holds up to the end of the file (or an ID3v1 tag there),
// or up to a later frame cut short. Reads only the file's tail; nothing when no frame there
// holds up.
std::optional<std::int64_t> countFlacSamples(int fd, std::int64_t audioOffset,
                                             std::int64_t fileLength);
