#pragma once

#include <QByteArray>
#include <cstdint>
#include <optional>
#include <vector>

// A native FLAC file's metadata blocks, read by us rather than by a tag library: only their
// places are kept, so a large block (a picture) is read when it is wanted and not before.
struct FlacBlocks
{
    struct Block
    {
        std::int64_t offset = 0; // of the block's data, past its 4-byte header
        std::int64_t length = 0;
        std::uint32_t pictureType = 0; // of a picture block; 3 the front cover
    };

    bool id3v2 = false;            // an ID3v2 tag comes first
    std::int64_t totalSamples = 0; // 0: the stream info does not say (a streamed file)
    int sampleRate = 0;
    int channels = 0;
    std::optional<Block> comment; // the Vorbis comment block
    std::optional<Block> cueSheet;
    std::vector<Block> pictures;
    std::int64_t audioOffset = 0; // where the first frame starts
};

// The blocks of the FLAC file open as `fd`, after an ID3v2 tag if one comes first; nothing when
// the file is no native FLAC or its blocks run past its end.
std::optional<FlacBlocks> readFlacBlocks(int fd);
// The data of `block`; empty when it cannot be read whole.
QByteArray readFlacBlock(int fd, const FlacBlocks::Block &block);

// A picture as FLAC stores it, in a picture block or (base64) in a comment's
// METADATA_BLOCK_PICTURE field.
struct FlacPicture
{
    std::uint32_t type = 0; // 3 the front cover
    QByteArray mimeType;
    QByteArray description; // UTF-8, as stored
    QByteArray data;
};
// Nothing when the lengths in `block` run past its end. Takes the block, so the picture's bytes
// are not copied.
std::optional<FlacPicture> parseFlacPicture(QByteArray block);
