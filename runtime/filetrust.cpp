#include "runtime/filetrust.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rt {

namespace {

QByteArray native(const QString &path)
{
    return QFile::encodeName(path);
}

bool ownedSafely(const QString &path, const char *kind, QString *why)
{
    struct stat st = {};
    const auto fault = [&](const QString &text) {
        if (why)
            *why = QStringLiteral("%1 %2 %3").arg(QLatin1String(kind), path, text);
        return false;
    };
    if (::stat(native(path).constData(), &st) != 0)
        return fault(QStringLiteral("cannot be examined"));
    if (st.st_uid != ::geteuid() && st.st_uid != 0)
        return fault(QStringLiteral("belongs to another user"));
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return fault(QStringLiteral("can be changed by other users"));
    return true;
}

} // namespace

bool isTrustedFile(const QString &path, QString *why)
{
    const QFileInfo info(path);
    return ownedSafely(info.absolutePath(), "the folder", why) &&
           ownedSafely(info.absoluteFilePath(), "the file", why);
}

namespace {

// Missing folders are made 0700, as the XDG rules ask for folders a program creates.
int createMissingFolders(const QString &path)
{
    struct stat st = {};
    if (::stat(native(path).constData(), &st) == 0)
        return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    if (errno != ENOENT)
        return errno;
    const QString parent = QFileInfo(path).absolutePath();
    if (parent != path) {
        if (const int error = createMissingFolders(parent))
            return error;
    }
    if (::mkdir(native(path).constData(), 0700) == 0)
        return ::chmod(native(path).constData(), 0700) == 0 ? 0 : errno; // past the umask
    return errno == EEXIST ? 0 : errno;
}

} // namespace

int makePrivateFolder(const QString &path)
{
    if (const int error = createMissingFolders(path))
        return error;
    struct stat st = {};
    if (::stat(native(path).constData(), &st) != 0)
        return errno;
    if (st.st_uid != ::geteuid())
        return EPERM;
    // The umask may have taken the owner's rights, or an older run left it open to others.
    if ((st.st_mode & 07777) != 0700 && ::chmod(native(path).constData(), 0700) != 0)
        return errno;
    return ::access(native(path).constData(), W_OK | X_OK) == 0 ? 0 : errno;
}

int writePrivateFile(const QString &fileName, const QByteArray &data, unsigned mode)
{
    const QFileInfo info(fileName);
    QByteArray temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = native(info.absolutePath()) + "/." + native(info.fileName()) + '.' +
               QByteArray::number(QRandomGenerator::global()->generate(), 16) + ".tmp";
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            return errno;
    }
    if (fd < 0)
        return EEXIST;
    int error = ::fchmod(fd, mode_t(mode)) == 0 ? 0 : errno;
    for (qsizetype done = 0; !error && done < data.size();) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            error = n < 0 ? errno : ENOSPC;
        else
            done += n;
    }
    if (!error && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && !error)
        error = errno;
    if (!error && ::rename(temp.constData(), native(info.absoluteFilePath()).constData()) != 0)
        error = errno;
    if (error)
        ::unlink(temp.constData());
    return error;
}

} // namespace rt
