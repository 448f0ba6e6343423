#pragma once

#include "converter/encoder/mp3enc.h"
#include "runtime/comerror.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>

// The batch's decisions, shared by the window and by the terminal's --convert: which bit rates
// there are, where a file's MP3 goes, and which outputs the batch has already written.

// Opt(0) .. Opt(6), in bits per second.
inline constexpr std::array<qint32, 7> BitRates = {32000,  56000,  64000, 96000,
                                                   112000, 128000, 256000};
inline constexpr qint32 DefaultBitRate = 128000;

// How the bits are spent, as the lame command's -b, -V and --abr. The window offers only a
// constant rate; the terminal all three.
struct RateChoice
{
    qint32 mode = Mp3Enc::ConstantRate;
    qint32 bitRate = DefaultBitRate; // bits per second: every frame's, or the average
    int vbrQuality = 4;              // for VariableRate: 0 (largest files) to 9
    bool operator==(const RateChoice &) const = default;
};

// The encoder's settings at the start of a batch: the rate, down-sampling and down-mixing
// allowed, and the program's --threads. Each step is independent: one that fails is skipped and
// the next one runs. Returns what failed, each with the encoder's reason. A constant rate sets
// BitRate alone, as the window always has.
QStringList SetUpEncoder(Mp3Enc::Binding mp3, const RateChoice &rate);
inline QStringList SetUpEncoder(Mp3Enc::Binding mp3, qint32 bitRate)
{
    return SetUpEncoder(mp3, RateChoice{.bitRate = bitRate});
}

// A file the batch passes over by its own rules (not the encoder's); the description says why,
// in the words a user reads.
class BatchRefusal : public rt::ComError
{
public:
    using rt::ComError::ComError;
};

// The outputs a batch has written: a later file with the same output is skipped, not allowed to
// replace one converted moments before. Recognised by what only this batch knows of them, the
// file as it stood when it was put in place (device, inode and change time), so another spelling
// or a case-insensitive file system is caught, while a file another program has since put under
// that name (which may reuse the inode number) is not ours.
class BatchOutputs
{
public:
    void clear() { m_files.clear(); }
    // Records `output` if it is there; false when it is not.
    bool add(const QString &output);
    bool contains(const QString &output) const;

private:
    struct WrittenFile
    {
        quint64 device = 0;
        quint64 inode = 0;
        qint64 changedSeconds = 0;
        qint64 changedNanoseconds = 0;
        bool operator==(const WrittenFile &) const = default;
    };
    static std::optional<WrittenFile> identityOf(const QString &path);
    QList<WrittenFile> m_files;
};

// Where the batch writes `input`'s MP3: its MP3 name in `userFolder` (ending in the separator),
// below it in `subfolder` when the file was found there under a given folder, or beside the
// input when there is no user folder. With `makeFolders` false nothing is created, and no path is
// chosen while the subfolder is not there yet. A name that cannot have an output, a subfolder
// that cannot be made and an output written earlier are refused, with the reason.
struct OutputChoice
{
    QString path; // empty when refused or not yet possible
    int error = 0;
    QString refusal;
};
OutputChoice ChooseOutput(const QString &input, const QString &subfolder,
                          const std::optional<QString> &userFolder, bool makeFolders,
                          const BatchOutputs &written);

// ChooseOutput for a caller that traps refusals: throws BatchRefusal.
std::optional<QString> BatchOutputPath(const QString &input, const QString &subfolder,
                                       const std::optional<QString> &userFolder, bool makeFolders,
                                       const BatchOutputs &written);
