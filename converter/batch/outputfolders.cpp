#include "converter/batch/outputfolders.h"

#include "runtime/filename.h"

#include <QStringList>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::optional<QString> MakeOutputSubfolder(const QString &base, const QString &relative, bool make,
                                           QStringList *made)
{
    QString folder = base.endsWith(u'/') ? base : base + u'/';
    if (relative.isEmpty())
        return folder;
    int fd = ::open(rt::encodeFileName(folder).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    for (const QString &part : relative.split(u'/')) {
        const QByteArray name = rt::encodeFileName(part);
        if (part.isEmpty() || part == u'.' || part == QLatin1String("..")) {
            ::close(fd);
            return std::nullopt;
        }
        // 0777: the umask gives the folder the rights any new folder of the user's gets.
        const bool madeNow = make && ::mkdirat(fd, name.constData(), 0777) == 0;
        if (make && !madeNow && errno != EEXIST) {
            ::close(fd);
            return std::nullopt;
        }
        if (madeNow && made)
            made->append(folder + part);
        const int next =
            ::openat(fd, name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(fd);
        if (next < 0) // a link, or something that is no folder
            return std::nullopt;
        fd = next;
        folder += part + u'/';
    }
    ::close(fd);
    return folder;
}
