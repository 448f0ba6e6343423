#pragma once

#include "converter/encoder/mp3enc.h"

#include <QString>
#include <array>
#include <optional>

// The profile: every setting that shapes a batch, as one value. A face builds it (the command
// line from its options, the window from its controls), CheckOptions checks it where it comes
// from a user's words, and the engine applies it to the encoder (EncoderSettings) and names
// each MP3 by it. A setting that comes later is a field here, a row of CheckOptions and a step
// of EncoderSettings.

// Every constant rate an MPEG-1 Layer III frame has, in kbit/s.
inline constexpr std::array<int, 14> ConstantKbps = {32,  40,  48,  56,  64,  80,  96,
                                                     112, 128, 160, 192, 224, 256, 320};
// "32、40、…、320", as a user reads the list.
QString ConstantKbpsText();
inline constexpr qint32 DefaultBitRate = 128000;
inline constexpr int MaxVbrQuality = 9;
inline constexpr int MinAbrKbps = 8;
inline constexpr int MaxAbrKbps = 320;
inline constexpr int MaxThreads = 256;
inline constexpr int MaxCoverSize = 10000;

// How the bits are spent, as the lame command's -b, -V and --abr.
struct RateChoice
{
    qint32 mode = Mp3Enc::ConstantRate;
    qint32 bitRate = DefaultBitRate; // bits per second: every frame's, or the average
    int vbrQuality = 4;              // for VariableRate: 0 (largest files) to 9
    bool operator==(const RateChoice &) const = default;
};

// What to do where an MP3 of the name stands already.
enum class ExistingRule
{
    Overwrite, // replace it (unless write-protected, or written by this batch)
    Skip,      // leave it, and the input unconverted
    Rename,    // write "name (1).mp3", "name (2).mp3", ... beside it
    Update,    // replace it only when it is older than the input
};

// Which ReplayGain 2.0 tags the MP3s get, as --replaygain.
enum class ReplayGainTags
{
    None,  // none: the MP3 is what the lame command writes
    Track, // each file's own gain and peak
    Album, // and its album's
};

struct BatchOptions
{
    RateChoice rate;
    std::optional<QString> outputFolder; // absolute, ending in the separator; none: beside each
    ExistingRule existing = ExistingRule::Overwrite;
    // Names from tags below the output folder ("{artist}/{album}/{title}"); "" for none.
    QString pattern;
    // Cores one file is encoded on (0 all); not given, the encoder keeps its own.
    std::optional<int> threads;
    ReplayGainTags replayGain = ReplayGainTags::None;
    // After the batch, delete the MP3s the output folder's record holds whose input is gone or
    // now gives another name; with dryRun only name them.
    bool prune = false;
    bool dryRun = false;
    // Beside each album's MP3s, its front cover under this name (the ending fitted to the
    // picture's type); "" for none. Pictures wider or taller than coverSize are scaled down to
    // it (0: as they are).
    QString coverFile;
    int coverSize = 0;
    bool operator==(const BatchOptions &) const = default;
};

// The setting of a profile that cannot be, and why, in words that follow the setting's name
// ("需要 0 到 9 之间的整数").
struct OptionsProblem
{
    enum class Setting
    {
        BitRate,
        VbrQuality,
        AverageRate,
        Threads,
        OutputFolder,
        PatternWithoutFolder,
        Pattern,
        PruneWithoutFolder,
        CoverWithoutFolder,
        CoverFile,
        CoverSize,
    };
    Setting setting;
    QString reason;
};

// The first setting of `options` that cannot be, in the order above; nothing when all can.
std::optional<OptionsProblem> CheckOptions(const BatchOptions &options);
// The same check of the settings alone (rate, cores, the pattern's words), before the output
// folder they will be used with is known.
std::optional<OptionsProblem> CheckChoices(const BatchOptions &options);
