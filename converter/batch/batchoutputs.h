#pragma once

#include <QList>
#include <QString>
#include <ctime>
#include <optional>
#include <utility>

// A file as one stat() finds it: whether it is there, a folder, when its data last changed, and
// what only it has while it stands there (device, inode and change time: another program's file
// put under the name since, which may reuse the inode number, is not the same).
struct FileStat
{
    struct Identity
    {
        quint64 device = 0;
        quint64 inode = 0;
        qint64 changedSeconds = 0;
        qint64 changedNanoseconds = 0;
        bool operator==(const Identity &) const = default;
    };
    bool exists = false;
    bool isFolder = false;
    timespec modified = {};
    Identity identity;

    static FileStat of(const QString &path);
    // Its data changed after `other`'s did.
    bool newerThan(const FileStat &other) const;
};

// The outputs earlier files of a batch have claimed: written, or left standing by the rule for an
// MP3 already there. A later file with the same output is refused, not allowed to replace the
// earlier one's. Recognised by what only this batch knows of them, the file as it stood when it
// was claimed (device, inode and change time), so another spelling or a case-insensitive file
// system is caught, while a file another program has since put under that name (which may reuse
// the inode number) is not ours.
class BatchOutputs
{
public:
    enum class Claim
    {
        Written, // by an earlier file of the batch
        Kept,    // the MP3 an earlier file gave, left as it was by the rule
    };
    void clear() { m_files.clear(); }
    // Records `output` if it is there; false when it is not.
    bool add(const QString &output, Claim claim = Claim::Written);
    bool contains(const QString &output) const { return claimOf(output).has_value(); }
    std::optional<Claim> claimOf(const QString &output) const
    {
        return claimOf(FileStat::of(output));
    }
    // The claim on the file `there` found, stat'ed by the caller.
    std::optional<Claim> claimOf(const FileStat &there) const;

private:
    QList<std::pair<FileStat::Identity, Claim>> m_files;
};
