#include "converter/batch/coverfiles.h"

#include "runtime/filename.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

QString CoverBeside(const QString &folder)
{
    static const QStringList Bases = {QStringLiteral("cover"), QStringLiteral("folder"),
                                      QStringLiteral("front")};
    static const QStringList Endings = {QStringLiteral("jpg"), QStringLiteral("jpeg"),
                                        QStringLiteral("png")};
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &base : Bases) {
        for (const QString &ending : Endings) {
            const QString wanted = base + u'.' + ending;
            for (const QString &name : names) {
                if (name.compare(wanted, Qt::CaseInsensitive) == 0)
                    return folder + u'/' + name;
            }
        }
    }
    return {};
}

QString PictureType(const QByteArray &data)
{
    if (data.startsWith("\xFF\xD8\xFF"))
        return QStringLiteral("jpg");
    if (data.startsWith("\x89PNG\r\n\x1A\n"))
        return QStringLiteral("png");
    return {};
}

QString CoverName(const QString &name, const QString &type)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString base = dot > 0 ? name.left(dot) : name;
    const QString ending = dot > 0 ? name.mid(dot + 1) : QString();
    // A JPEG keeps the ending the user asked for when it is one of JPEG's ("folder.jpeg").
    if (type == QLatin1String("jpg") &&
        (ending.compare(QLatin1String("jpg"), Qt::CaseInsensitive) == 0 ||
         ending.compare(QLatin1String("jpeg"), Qt::CaseInsensitive) == 0))
        return name;
    if (type == QLatin1String("png") && ending.compare(type, Qt::CaseInsensitive) == 0)
        return name;
    return base + u'.' + type;
}

QString WriteCover(const QString &path, const QByteArray &data)
{
    const QByteArray target = rt::encodeFileName(path);
    struct stat st = {};
    if (::lstat(target.constData(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            return QStringLiteral("同名的不是普通文件，保留未动");
        // No write bit at all protects it even from one who may write anything (as for MP3s).
        if ((st.st_mode & 0222) == 0 || ::access(target.constData(), W_OK) != 0)
            return QStringLiteral("同名的文件受写保护，保留未动");
    }
    QByteArray temporary = target;
    const qsizetype slash = temporary.lastIndexOf('/');
    temporary.insert(slash + 1, ".batchmp3-");
    temporary.append(".XXXXXX");
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return QStringLiteral("无法写出封面：") + systemReason(errno);
    qsizetype done = 0;
    int error = 0;
    while (done < data.size() && error == 0) {
        const ssize_t n = ::write(fd, data.constData() + done, std::size_t(data.size() - done));
        if (n > 0)
            done += n;
        else if (n < 0 && errno != EINTR)
            error = errno;
    }
    if (error == 0 && ::fchmod(fd, 0644) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temporary.constData(), target.constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.constData()); // nothing of it stays behind
        return QStringLiteral("无法写出封面：") + systemReason(error);
    }
    return {};
}

QByteArray ReadPicture(const QString &path, qint64 limit, QString *why)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("无法读取封面图片：") + file.errorString();
        return {};
    }
    if (file.size() > limit) {
        *why = QStringLiteral("封面图片太大（%1 字节）").arg(file.size());
        return {};
    }
    QByteArray data = file.readAll();
    if (data.isEmpty())
        *why = QStringLiteral("封面图片是空的或无法读取");
    return data;
}
