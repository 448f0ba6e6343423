#include "mp3enc/retag.h"

#include "mp3enc/encodejob.h"
#include "mp3enc/reasons.h"
#include "runtime/filename.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace retag {

namespace {

constexpr qint64 HeaderBytes = 10;

// Closes a descriptor, and removes a temporary that was not put in place.
struct FileGuard
{
    int fd = -1;
    QByteArray removeOnExit;
    ~FileGuard()
    {
        if (fd >= 0)
            ::close(fd);
        if (!removeOnExit.isEmpty())
            ::unlink(removeOnExit.constData());
    }
};

bool readFully(int fd, char *data, qint64 size, qint64 offset)
{
    while (size > 0) {
        const ssize_t got = ::pread(fd, data, size_t(size), offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        data += got;
        size -= got;
        offset += got;
    }
    return true;
}

bool writeFully(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t put = ::write(fd, data, size_t(size));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        data += put;
        size -= put;
    }
    return true;
}

// The tag at the head of the file open on `fd`, and where the audio starts.
bool headTag(int fd, qint64 fileSize, QByteArray *tag, qint64 *audioStart)
{
    std::array<char, HeaderBytes> header{};
    *audioStart = 0;
    tag->clear();
    if (fileSize < HeaderBytes)
        return true;
    if (!readFully(fd, header.data(), HeaderBytes, 0))
        return false;
    if (header[0] != 'I' || header[1] != 'D' || header[2] != '3')
        return true;
    qint64 size = 0;
    for (int i = 6; i < 10; ++i)
        size = (size << 7) | (quint8(header[std::size_t(i)]) & 0x7F);
    size += HeaderBytes;
    if (size > fileSize)
        return false;
    tag->resize(qsizetype(size));
    *audioStart = size;
    return readFully(fd, tag->data(), size, 0);
}

bool fail(QString *error, const QString &why)
{
    if (error)
        *error = why;
    return false;
}

} // namespace

bool replaceId3v2(const QString &path,
                  const std::function<std::optional<QByteArray>(const QByteArray &tag)> &make,
                  QString *error)
{
    const QByteArray name = rt::encodeFileName(path);
    const QString rewrite = QStringLiteral("改写MP3文件的标签");
    FileGuard in;
    in.fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (in.fd < 0)
        return fail(error,
                    errno == ENOENT ? reasons::NotFound : reasons::outputFailed(rewrite, errno));
    struct stat before = {};
    if (::fstat(in.fd, &before) != 0)
        return fail(error, reasons::outputFailed(rewrite, errno));
    if (!S_ISREG(before.st_mode))
        return fail(error, reasons::NotRegular);
    if (!(before.st_mode & S_IWUSR) || ::access(name.constData(), W_OK) != 0)
        return fail(error, reasons::Protected);
    QByteArray old;
    qint64 audioStart = 0;
    if (!headTag(in.fd, before.st_size, &old, &audioStart))
        return fail(error, QStringLiteral("MP3文件的ID3v2标签不完整"));
    const std::optional<QByteArray> fresh = make(old);
    if (!fresh)
        return false;

    const qsizetype slash = name.lastIndexOf('/');
    QByteArray temporary = name.left(slash + 1) + '.' + name.mid(slash + 1) + ".XXXXXX";
    FileGuard out;
    out.fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (out.fd < 0)
        return fail(error, reasons::outputFailed(rewrite, errno));
    out.removeOnExit = temporary;
    if (::fchmod(out.fd, before.st_mode & 07777) != 0 ||
        !writeFully(out.fd, fresh->constData(), fresh->size()))
        return fail(error, reasons::outputFailed(rewrite, errno));
    std::vector<char> buffer(1 << 20);
    for (qint64 at = audioStart; at < before.st_size;) {
        const qint64 n = std::min<qint64>(qint64(buffer.size()), before.st_size - at);
        if (!readFully(in.fd, buffer.data(), n, at))
            return fail(error, QStringLiteral("读取MP3文件时出错"));
        if (!writeFully(out.fd, buffer.data(), n))
            return fail(error, reasons::outputFailed(rewrite, errno));
        at += n;
    }
    if (::fsync(out.fd) != 0)
        return fail(error, reasons::outputFailed(rewrite, errno));
    // Changed meanwhile (another program wrote it, or made it read-only): left to that program.
    struct stat named = {};
    if (!sameFileState(before, in.fd) || ::stat(name.constData(), &named) != 0 ||
        named.st_ino != before.st_ino || named.st_dev != before.st_dev ||
        !(named.st_mode & S_IWUSR))
        return fail(error, QStringLiteral("MP3文件在改写标签期间被改动了，保留未动"));
    if (::rename(temporary.constData(), name.constData()) != 0)
        return fail(error, reasons::outputFailed(rewrite, errno));
    out.removeOnExit.clear();
    return true;
}

} // namespace retag
