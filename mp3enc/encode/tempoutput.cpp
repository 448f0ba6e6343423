#include "mp3enc/encode/tempoutput.h"

#include "mp3enc/calc/reasons.h"
#include "runtime/filename.h"

#include <QRandomGenerator>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The steps a failure names.
const QString OpenFolder = QStringLiteral("打开输出目录");
const QString CreateFile = QStringLiteral("在输出目录中建立文件");
const QString Write = QStringLiteral("写入MP3文件");
const QString SetPermissions = QStringLiteral("设置MP3文件的权限");
const QString LinkIn = QStringLiteral("把MP3文件放进输出目录");
const QString Replace = QStringLiteral("替换原有的MP3文件");

constexpr int TemporaryNameChars = 64; // of the final name, so the temporary stays within NAME_MAX
const QByteArray TemporarySuffix = ".part";

QByteArray temporaryPrefix(const QByteArray &finalName)
{
    // Cut on a character boundary, so the temporary's name is still valid UTF-8 where the final
    // name is.
    const QString name = rt::decodeFileName(finalName);
    qsizetype keep = std::min<qsizetype>(name.size(), TemporaryNameChars);
    if (keep < name.size() && keep > 0 && name.at(keep - 1).isHighSurrogate())
        --keep;
    return '.' + rt::encodeFileName(name.left(keep)) + '.';
}

QByteArray randomTemporaryName(const QByteArray &finalName)
{
    return temporaryPrefix(finalName) +
           QByteArray::number(QRandomGenerator::global()->generate(), 16).rightJustified(8, '0') +
           TemporarySuffix;
}

QByteArray procPath(int fd)
{
    return "/proc/self/fd/" + QByteArray::number(fd);
}

} // namespace

TempOutput::~TempOutput()
{
    discard();
    if (m_dirFd >= 0)
        ::close(m_dirFd);
}

bool TempOutput::isTemporaryFor(const QByteArray &name, const QByteArray &finalName)
{
    const QByteArray prefix = temporaryPrefix(finalName);
    constexpr int HexDigits = 8;
    if (name.size() != prefix.size() + HexDigits + TemporarySuffix.size() ||
        !name.startsWith(prefix) || !name.endsWith(TemporarySuffix))
        return false;
    for (char c : name.mid(prefix.size(), HexDigits)) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

bool TempOutput::create(const QString &finalPath)
{
    const QString path = rt::absolutePath(finalPath);
    const qsizetype slash = path.lastIndexOf(u'/');
    m_finalName = rt::encodeFileName(path.mid(slash + 1));
    m_folderPath = rt::encodeFileName(path.left(std::max<qsizetype>(slash, 1)));
    m_dirFd = m_givenFolder >= 0
                  ? ::fcntl(m_givenFolder, F_DUPFD_CLOEXEC, 0)
                  : ::open(m_folderPath.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (m_dirFd < 0)
        return fail(OpenFolder);
    // A folder removed or moved since the pair was checked would fail the file with a puzzling
    // error (O_TMPFILE in a removed folder says EPERM): name what happened.
    if (!folderStillThere())
        return false;
    removeStaleTemporaries();
    if (m_kind == Kind::Unnamed && createUnnamed())
        return true;
    return m_fd < 0 && m_errno == 0 && createNamed();
}

bool TempOutput::createUnnamed()
{
    // 0666 so the umask gives the MP3 the same rights any new file would get.
    m_fd = ::openat(m_dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (m_fd < 0) {
        if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL || errno == ENOENT)
            return false; // the file system has no unnamed files: take a named one
        return fail(CreateFile);
    }
    // Naming it later goes through /proc; without /proc the file could never be named.
    if (::access(procPath(m_fd).constData(), F_OK) != 0) {
        ::close(m_fd);
        m_fd = -1;
        return false;
    }
    return true;
}

bool TempOutput::createNamed()
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name = randomTemporaryName(m_finalName);
        m_fd = ::openat(m_dirFd, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            m_tempName = name;
            // Held until the file is closed: a lock that can be taken marks a stale temporary.
            ::flock(m_fd, LOCK_EX);
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    return fail(CreateFile);
}

// Temporaries of ours for this output that nobody holds are left from a killed process.
void TempOutput::removeStaleTemporaries() const
{
    const int listFd = ::openat(m_dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!dir) {
        if (listFd >= 0)
            ::close(listFd);
        return;
    }
    while (const dirent *entry = ::readdir(dir)) {
        if (!isTemporaryFor(QByteArray(entry->d_name), m_finalName))
            continue;
        const int fd =
            ::openat(m_dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st = {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(m_dirFd, entry->d_name, 0);
        ::close(fd);
    }
    ::closedir(dir);
}

bool TempOutput::write(const void *data, size_t size)
{
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::write(m_fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            errno = ENOSPC; // a write that takes nothing means the disk is full
        if (n <= 0)
            return fail(Write);
        p += n;
        size -= size_t(n);
    }
    return true;
}

bool TempOutput::writeAt(long long offset, const void *data, size_t size)
{
    if (::lseek(m_fd, off_t(offset), SEEK_SET) < 0)
        return fail(Write);
    return write(data, size);
}

bool TempOutput::isWriteProtected(int dirFd, const char *name, const struct stat &st)
{
    return (st.st_mode & 0222) == 0 || ::faccessat(dirFd, name, W_OK, 0) != 0;
}

void TempOutput::setIfExists(IfExists rule, const struct timespec &openedAt)
{
    m_ifExists = rule;
    m_openedAt = openedAt;
}

// Whether what stands under `name` may be replaced: not a file the user has write-protected
// since the encode was opened.
bool TempOutput::mayReplace(const QByteArray &name)
{
    struct stat target = {};
    if (::fstatat(m_dirFd, name.constData(), &target, 0) == 0 &&
        isWriteProtected(m_dirFd, name.constData(), target)) {
        fail(Replace, EACCES);
        m_protected = true;
        m_errorText = reasons::Protected;
        return false;
    }
    return true;
}

bool TempOutput::folderStillThere()
{
    struct stat opened = {}, named = {};
    if (::stat(m_folderPath.constData(), &named) != 0)
        return fail(LinkIn); // "no such folder" says it
    if (::fstat(m_dirFd, &opened) == 0 && opened.st_dev == named.st_dev &&
        opened.st_ino == named.st_ino)
        return true;
    fail(LinkIn, ENOENT);
    m_errorText = reasons::FolderMoved;
    return false;
}

// Removed since it was opened: its last name is gone, or nothing is under its path.
bool TempOutput::folderRemoved() const
{
    struct stat st = {};
    if (m_dirFd >= 0 && ::fstat(m_dirFd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_nlink == 0)
        return true;
    return !m_folderPath.isEmpty() && ::stat(m_folderPath.constData(), &st) != 0 && errno == ENOENT;
}

bool TempOutput::commit()
{
    if (!folderStillThere())
        return false;
    // A name is looked at, then taken only if nothing has appeared there since; one that has is
    // looked at again, so the rule holds for whatever stands there at that moment.
    constexpr int MaxAttempts = 1000;
    int number = 0;
    for (int attempt = 0; attempt < MaxAttempts; ++attempt) {
        const QByteArray name = number == 0 ? m_finalName : numberedName(number);
        struct stat there = {};
        if (::fstatat(m_dirFd, name.constData(), &there, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT)
                return fail(LinkIn);
            if (linkNew(name))
                return placed(name);
            if (errno != EEXIST)
                return fail(LinkIn);
            continue;
        }
        switch (stepFor(name, there)) {
        case Step::Take:
            return replace(name, there) && placed(name);
        case Step::Next:
            ++number;
            break;
        case Step::Leave:
            discard();
            return true;
        case Step::Fail:
            return false;
        }
    }
    return fail(LinkIn, EEXIST);
}

namespace {

bool earlier(const struct timespec &a, const struct timespec &b)
{
    return a.tv_sec != b.tv_sec ? a.tv_sec < b.tv_sec : a.tv_nsec < b.tv_nsec;
}

} // namespace

// What the rule does with `there`, which stands under `name`.
TempOutput::Step TempOutput::stepFor(const QByteArray &name, const struct stat &there)
{
    if (m_ifExists == IfExists::Rename)
        return Step::Next;
    // A link is what it leads to, to whoever made it.
    struct stat target = there;
    if (S_ISLNK(there.st_mode) && ::fstatat(m_dirFd, name.constData(), &target, 0) != 0)
        target = there;
    if (S_ISDIR(target.st_mode)) {
        fail(Replace, EISDIR);
        m_errorText = reasons::NamesFolder;
        return Step::Fail;
    }
    if (m_ifExists == IfExists::Keep ||
        (m_ifExists == IfExists::ReplaceOlder && !earlier(target.st_mtim, m_openedAt)))
        return Step::Leave;
    return mayReplace(name) ? Step::Take : Step::Fail;
}

// The file under `name` if nothing stands there, in one step; EEXIST if something does.
bool TempOutput::linkNew(const QByteArray &name)
{
    if (m_tempName.isEmpty())
        return ::linkat(AT_FDCWD, procPath(m_fd).constData(), m_dirFd, name.constData(),
                        AT_SYMLINK_FOLLOW) == 0;
    if (::renameat2(m_dirFd, m_tempName.constData(), m_dirFd, name.constData(), RENAME_NOREPLACE) ==
        0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system that renames only over: a second name, then the temporary one goes.
    if (::linkat(m_dirFd, m_tempName.constData(), m_dirFd, name.constData(), 0) == 0) {
        ::unlinkat(m_dirFd, m_tempName.constData(), 0);
        return true;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK)
        return false;
    // Nor links (FAT): looked at just before, as near as such a file system allows.
    struct stat st = {};
    if (::fstatat(m_dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::renameat(m_dirFd, m_tempName.constData(), m_dirFd, name.constData()) == 0;
}

bool TempOutput::replace(const QByteArray &name, const struct stat &there)
{
    const bool file = S_ISREG(there.st_mode);
    if (file && ::fchmod(m_fd, there.st_mode & 07777 & ~mode_t(S_ISUID | S_ISGID)) != 0)
        return fail(SetPermissions);
    // The file replaces one the user had: its bytes must be on the disk before its name is.
    if (file && ::fdatasync(m_fd) != 0)
        return fail(Write);
    // Replacing needs a name to rename from.
    for (int attempt = 0; attempt < 100 && m_tempName.isEmpty(); ++attempt) {
        const QByteArray temporary = randomTemporaryName(m_finalName);
        if (::linkat(AT_FDCWD, procPath(m_fd).constData(), m_dirFd, temporary.constData(),
                     AT_SYMLINK_FOLLOW) == 0) {
            m_tempName = temporary;
            ::flock(m_fd, LOCK_EX);
        } else if (errno != EEXIST) {
            return fail(LinkIn);
        }
    }
    if (m_tempName.isEmpty())
        return fail(LinkIn);
    if (::renameat(m_dirFd, m_tempName.constData(), m_dirFd, name.constData()) != 0)
        return fail(Replace);
    return true;
}

// The name `number` under Rename: the final name numbered on from where the host left it, so
// "a (1).mp3" taken meanwhile goes on as "a (2).mp3", not "a (1) (1).mp3".
QByteArray TempOutput::numberedName(int number) const
{
    QString name = rt::decodeFileName(m_finalName);
    int first = 1;
    const qsizetype dot = name.lastIndexOf(u'.');
    const qsizetype close = (dot > 0 ? dot : name.size()) - 1;
    const qsizetype open = name.lastIndexOf(QStringLiteral(" ("), close);
    if (close > 0 && name.at(close) == u')' && open > 0 && close - open - 2 >= 1 &&
        close - open - 2 <= 9) {
        bool digits = true;
        const int given = name.mid(open + 2, close - open - 2).toInt(&digits);
        if (digits && given > 0) {
            first = given + 1;
            name = name.left(open) + name.mid(close + 1);
        }
    }
    const long nameMax = ::fpathconf(m_dirFd, _PC_NAME_MAX);
    return rt::encodeFileName(
        rt::numberedFileName(name, first + number - 1, nameMax > 0 ? nameMax : NAME_MAX));
}

// Put in place under `name`: the file is closed, nothing of it to remove.
bool TempOutput::placed(const QByteArray &name)
{
    const int fd = m_fd;
    m_fd = -1;
    m_tempName.clear();
    m_placedName = name;
    if (::close(fd) != 0)
        return fail(Write);
    return true;
}

bool TempOutput::fail(const QString &step, int error)
{
    m_errno = error ? error : errno ? errno : EIO;
    // A step in a folder removed meanwhile fails with a puzzling error (O_TMPFILE there says
    // EPERM, a permission that was never refused): name what happened.
    if (m_errno != ENOENT && m_errno != ENOTDIR && folderRemoved())
        m_errno = ENOENT;
    m_errorText = reasons::outputFailed(step, m_errno);
    discard();
    return false;
}

void TempOutput::discard()
{
    if (!m_tempName.isEmpty() && m_dirFd >= 0)
        ::unlinkat(m_dirFd, m_tempName.constData(), 0);
    m_tempName.clear();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}
