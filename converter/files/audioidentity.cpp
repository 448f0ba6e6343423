#include "converter/files/audioidentity.h"

#include "runtime/filename.h"

#include <QCryptographicHash>
#include <QFile>
#include <QtEndian>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 ChunkBytes = 1 << 20;

// A hash of `length` bytes of `file` from `offset` (to the end for -1), marked with what it is
// of so identities of two kinds never meet.
QByteArray hashOf(QFile &file, const char *kind, qint64 offset, qint64 length = -1)
{
    if (!file.seek(offset))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha1);
    qint64 left = length < 0 ? file.size() - offset : length;
    while (left > 0) {
        const QByteArray block = file.read(std::min(left, ChunkBytes));
        if (block.isEmpty())
            return {};
        hash.addData(block);
        left -= block.size();
    }
    return QByteArray(kind) + ':' + hash.result().toHex();
}

// FLAC: the MD5 of the decoded samples STREAMINFO holds; when the encoder left it unset, the
// frames after the metadata blocks.
std::optional<QByteArray> flacIdentity(QFile &file)
{
    constexpr int StreamInfoSize = 34;
    constexpr int Md5Offset = 18;
    const QByteArray head = file.read(8 + StreamInfoSize);
    if (head.size() < 8 + StreamInfoSize || !head.startsWith("fLaC") || (head[4] & 0x7f) != 0)
        return std::nullopt;
    const QByteArray md5 = head.mid(8 + Md5Offset, 16);
    if (md5 != QByteArray(16, '\0'))
        return QByteArray("flac-md5:") + md5.toHex();
    qint64 at = 4;
    for (;;) {
        if (!file.seek(at))
            return std::nullopt;
        const QByteArray block = file.read(4);
        if (block.size() < 4)
            return std::nullopt;
        at += 4 + ((qint64(quint8(block[1])) << 16) | (quint8(block[2]) << 8) | quint8(block[3]));
        if (block[0] & 0x80)
            return hashOf(file, "flac-frames", at);
    }
}

// RIFF/RF64 ("data"), AIFF/AIFC ("SSND"): the chunk that holds the samples.
std::optional<QByteArray> chunkIdentity(QFile &file)
{
    const QByteArray head = file.read(12);
    if (head.size() < 12)
        return std::nullopt;
    const bool riff = head.startsWith("RIFF") || head.startsWith("RF64");
    const bool aiff =
        head.startsWith("FORM") && (head.mid(8, 4) == "AIFF" || head.mid(8, 4) == "AIFC");
    if (!riff && !aiff)
        return std::nullopt;
    const QByteArray wanted = riff ? "data" : "SSND";
    qint64 at = 12;
    while (file.seek(at)) {
        const QByteArray chunk = file.read(8);
        if (chunk.size() < 8)
            return std::nullopt;
        qint64 size = riff ? qFromLittleEndian<quint32>(chunk.constData() + 4)
                           : qFromBigEndian<quint32>(chunk.constData() + 4);
        // RF64 keeps the real size elsewhere; 0xFFFFFFFF means "to the end".
        if (chunk.startsWith(wanted))
            return hashOf(file, riff ? "riff-data" : "aiff-ssnd", at + 8,
                          size == 0xFFFFFFFF ? -1 : std::min(size, file.size() - at - 8));
        at += 8 + size + (size & 1);
    }
    return std::nullopt;
}

// AU: everything after the header the file declares.
std::optional<QByteArray> auIdentity(QFile &file)
{
    const QByteArray head = file.read(8);
    if (head.size() < 8 || !head.startsWith(".snd"))
        return std::nullopt;
    return hashOf(file, "au-data", qFromBigEndian<quint32>(head.constData() + 4));
}

} // namespace

QByteArray AudioIdentity(const QString &path)
{
    // By its bytes: a name that is not UTF-8 is opened as it is.
    const int fd = ::open(rt::encodeFileName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {};
    QFile file;
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        !file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }
    for (auto reader : {flacIdentity, chunkIdentity, auIdentity}) {
        if (!file.seek(0))
            return {};
        if (const std::optional<QByteArray> identity = reader(file))
            return *identity;
    }
    return hashOf(file, "file", 0);
}
