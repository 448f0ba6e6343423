#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <sys/stat.h>

// The MP3 being written, put in place under its final name only when complete, so an
// unfinished encode never leaves a partial file or harms one that already exists.
//
// Where the file system allows it the file has no name at all until then (O_TMPFILE): a killed
// process or a power cut leaves nothing behind. Elsewhere it is a hidden temporary beside the
// final name, locked while in use, so a later write of the same output can tell a stale one
// and remove it. Every step goes through the folder's descriptor, so a folder renamed or made
// read-only meanwhile cannot make us remove or create something elsewhere.
class TempOutput
{
public:
    enum class Kind
    {
        Unnamed, // O_TMPFILE where the file system supports it, else Named
        Named,
    };
    // What commit does where something stands under the final name: what was there when the
    // encode began, or what another program put there meanwhile.
    enum class IfExists
    {
        Replace,      // replace it
        Keep,         // leave it, and put nothing in place
        Rename,       // take the next free "name (N).mp3"
        ReplaceOlder, // replace it when it was last changed before `openedAt`, else leave it
    };

    // `folder`: the output folder as it was opened when the pair was checked (O_PATH); the file
    // goes there or nowhere. Without it the folder is opened by its path at create().
    explicit TempOutput(Kind kind = Kind::Unnamed, int folder = -1)
        : m_kind(kind), m_givenFolder(folder)
    {}
    ~TempOutput(); // removes the temporary unless committed
    TempOutput(const TempOutput &) = delete;
    TempOutput &operator=(const TempOutput &) = delete;

    // `finalPath` in the runtime's file-name form (rt::encodeFileName).
    bool create(const QString &finalPath);
    bool write(const void *data, size_t size);
    bool writeAt(long long offset, const void *data, size_t size);
    // The rule commit follows; Replace unless set.
    void setIfExists(IfExists rule, const struct timespec &openedAt = {});
    // Puts the file in place as the rule says, at that moment: a name is taken only if nothing
    // stands there, unless the rule replaces what does. A file it replaces passes on its
    // permission bits; a write-protected file or a folder is never replaced: the commit fails.
    // A folder no longer found under its path (moved or replaced meanwhile) gets nothing: the
    // commit fails, so no report names a place where the file is not.
    bool commit();
    // After a commit that succeeded: the name within the folder the file was put under; empty
    // when the rule left what stood there.
    QByteArray placedName() const { return m_placedName; }

    // After create: whether the file being written has no name yet.
    bool isUnnamed() const { return m_fd >= 0 && m_tempName.isEmpty(); }

    // Set when a call above fails: the system error number and why, in the user's words.
    int errorNumber() const { return m_errno; }
    QString errorText() const { return m_errorText; }
    // The commit failed because the file it would replace is now write-protected.
    bool refusedProtected() const { return m_protected; }

    // Whether `name` is one of our temporaries for the output called `finalName`.
    static bool isTemporaryFor(const QByteArray &name, const QByteArray &finalName);
    // Whether the existing file `name` (relative to `dirFd`, or AT_FDCWD), described by `st`,
    // is one we must not replace: as rm would ask first, even for root, who could.
    static bool isWriteProtected(int dirFd, const char *name, const struct stat &st);

private:
    bool createUnnamed();
    bool createNamed();
    void removeStaleTemporaries() const;
    enum class Step
    {
        Take,  // replace what stands under the name
        Next,  // try the next numbered name
        Leave, // put nothing in place
        Fail,  // the reason is set
    };
    Step stepFor(const QByteArray &name, const struct stat &there);
    bool mayReplace(const QByteArray &name);
    bool folderStillThere();
    bool folderRemoved() const;
    bool linkNew(const QByteArray &name);
    bool replace(const QByteArray &name, const struct stat &there);
    QByteArray numberedName(int step) const;
    bool placed(const QByteArray &name);
    bool fail(const QString &step, int error = 0);
    void discard();

    Kind m_kind;
    int m_givenFolder;
    QByteArray m_folderPath;
    int m_dirFd = -1;
    int m_fd = -1;
    QByteArray m_finalName; // within the folder
    QByteArray m_tempName;  // within the folder; empty while unnamed
    int m_errno = 0;
    bool m_protected = false;
    QString m_errorText;
    IfExists m_ifExists = IfExists::Replace;
    struct timespec m_openedAt = {};
    QByteArray m_placedName;
};
