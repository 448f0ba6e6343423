#include "mp3enc/tempoutput.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

TempOutput::~TempOutput()
{
    discard();
}

bool TempOutput::create(const QString &finalPath)
{
    const QFileInfo info(finalPath);
    m_finalPath = QFile::encodeName(finalPath);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString name = QStringLiteral(".%1.%2.part")
                                 .arg(info.fileName().left(64)) // stays within NAME_MAX
                                 .arg(QRandomGenerator::global()->generate(), 8, 16, QChar(u'0'));
        m_tempPath = QFile::encodeName(info.absoluteDir().filePath(name));
        // 0666 so the umask gives the MP3 the same rights any new file would get.
        m_fd = ::open(m_tempPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0)
            return true;
        if (errno != EEXIST)
            break;
    }
    m_tempPath.clear();
    return fail("cannot create a file in the folder of");
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
            return fail("cannot write");
        p += n;
        size -= size_t(n);
    }
    return true;
}

bool TempOutput::writeAt(long long offset, const void *data, size_t size)
{
    if (::lseek(m_fd, off_t(offset), SEEK_SET) < 0)
        return fail("cannot write");
    return write(data, size);
}

bool TempOutput::commit()
{
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0)
        return fail("cannot write");
    if (::rename(m_tempPath.constData(), m_finalPath.constData()) != 0)
        return fail("cannot replace");
    m_tempPath.clear();
    return true;
}

bool TempOutput::fail(const char *what)
{
    m_errno = errno ? errno : EIO;
    m_errorText = QStringLiteral("%1 %2: %3")
                      .arg(QLatin1String(what), QFile::decodeName(m_finalPath),
                           QString::fromLocal8Bit(std::strerror(m_errno)));
    discard();
    return false;
}

void TempOutput::discard()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!m_tempPath.isEmpty())
        ::unlink(m_tempPath.constData());
    m_tempPath.clear();
}
