#include "mp3enc/tags/retag.h"

#include "mp3enc/calc/reasons.h"
#include "mp3enc/encode/tempoutput.h"
#include "mp3enc/input/bytereader.h"
#include "runtime/filename.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 Id3v2HeaderSize = 10;
constexpr qint64 Id3v1Size = 128;

// The first `size` bytes of an open file.
bool readAll(int fd, qint64 size, QByteArray *bytes)
{
    bytes->resize(size);
    return size == 0 || bytes::readAt(fd, 0, bytes->data(), std::size_t(size));
}

} // namespace

qint64 Id3v2Length(const QByteArray &head)
{
    if (head.size() < Id3v2HeaderSize || !head.startsWith("ID3"))
        return 0;
    qint64 size = 0;
    for (int k = 6; k < 10; ++k) {
        const auto byte = quint8(head[k]);
        if (byte & 0x80)
            return 0; // not a size in 7-bit bytes: not a tag
        size = (size << 7) | byte;
    }
    const bool footer = (quint8(head[5]) & 0x10) != 0;
    return Id3v2HeaderSize + size + (footer ? Id3v2HeaderSize : 0);
}

int ReplaceId3v2(const QString &mp3Path, const QByteArray &newTag)
{
    return ReplaceId3Tags(mp3Path, newTag, std::nullopt);
}

int ReplaceId3Tags(const QString &mp3Path, const QByteArray &v2, std::optional<QByteArray> v1,
                   const QString &newPath)
{
    const QByteArray path = rt::encodeFileName(mp3Path);
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return errno;
    struct stat before = {};
    QByteArray bytes;
    const bool read =
        ::fstat(fd, &before) == 0 && S_ISREG(before.st_mode) && readAll(fd, before.st_size, &bytes);
    const int readError = read ? 0 : (errno != 0 ? errno : EIO);
    ::close(fd);
    if (!read)
        return S_ISREG(before.st_mode) || before.st_mode == 0 ? readError : EINVAL;
    if (TempOutput::isWriteProtected(AT_FDCWD, path.constData(), before))
        return EACCES;
    const qint64 head = std::min<qint64>(Id3v2Length(bytes.left(Id3v2HeaderSize)), bytes.size());
    qint64 end = bytes.size();
    if (v1 && end - head >= Id3v1Size && bytes.mid(end - Id3v1Size, 3) == "TAG")
        end -= Id3v1Size;
    TempOutput out;
    const QString target = newPath.isEmpty() ? mp3Path : newPath;
    // The same name replaces the MP3 only while it is as it was read; a new name must be free.
    out.setIfExists(newPath.isEmpty() ? TempOutput::IfExists::ReplaceOlder
                                      : TempOutput::IfExists::Keep,
                    {before.st_mtim.tv_sec, before.st_mtim.tv_nsec + 1});
    const bool written = out.create(target) && out.write(v2.constData(), size_t(v2.size())) &&
                         out.write(bytes.constData() + head, size_t(end - head)) &&
                         (!v1 || out.write(v1->constData(), size_t(v1->size()))) && out.commit();
    if (!written)
        return out.errorNumber() != 0 ? out.errorNumber() : EIO;
    if (out.placedName().isEmpty())
        return EEXIST; // changed meanwhile, or the new name was taken: left as it stands
    if (!newPath.isEmpty() && ::unlink(path.constData()) != 0)
        return errno;
    return 0;
}

QString RetagFailure(int error)
{
    switch (error) {
    case EEXIST:
        return QStringLiteral("MP3在改写标签时已被改动，或新名字已有文件：保留未动");
    case EACCES: // as an encode refuses it
        return reasons::Protected;
    case ENOENT:
        return reasons::NotFound;
    case EINVAL:
        return reasons::NotRegular;
    default:
        return reasons::outputFailed(QStringLiteral("改写MP3的标签"), error);
    }
}

std::optional<QByteArray> HeadId3v2(const QString &mp3Path, QString *error)
{
    const int fd = ::open(rt::encodeFileName(mp3Path).constData(),
                          O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        *error = RetagFailure(errno);
        return std::nullopt;
    }
    struct stat st = {};
    QByteArray head;
    bool whole =
        ::fstat(fd, &st) == 0 && readAll(fd, std::min<qint64>(st.st_size, Id3v2HeaderSize), &head);
    const qint64 length = whole ? Id3v2Length(head) : 0;
    QByteArray tag;
    whole = whole && length <= st.st_size && readAll(fd, length, &tag);
    ::close(fd);
    if (!whole) {
        *error = QStringLiteral("MP3文件的ID3v2标签不完整");
        return std::nullopt;
    }
    return tag;
}

namespace retag {

bool replaceId3v2(const QString &path,
                  const std::function<std::optional<QByteArray>(const QByteArray &tag)> &make,
                  QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    QString unread;
    const std::optional<QByteArray> tag = HeadId3v2(path, &unread);
    if (!tag)
        return fail(unread);
    const std::optional<QByteArray> fresh = make(*tag);
    if (!fresh)
        return false;
    if (const int failed = ReplaceId3v2(path, *fresh))
        return fail(RetagFailure(failed));
    return true;
}

} // namespace retag
