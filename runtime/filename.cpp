#include "runtime/filename.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QVarLengthArray>
#include <cerrno>
#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rt {

namespace {

constexpr char16_t EscapeBase = 0xDC00; // + the byte, 0x80..0xFF
constexpr char16_t Replacement = 0xFFFD;

bool isContinuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// The length of the well-formed UTF-8 sequence at p (Unicode's table 3-7: no overlong forms,
// no surrogates, nothing past U+10FFFF), or 0.
int sequenceLength(const unsigned char *p, qsizetype left)
{
    const unsigned char c = p[0];
    if (c < 0x80)
        return 1;
    int length = 0;
    unsigned char low = 0x80, high = 0xBF; // bounds of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        low = c == 0xE0 ? 0xA0 : 0x80;
        high = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        low = c == 0xF0 ? 0x90 : 0x80;
        high = c == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (left < length || p[1] < low || p[1] > high)
        return 0;
    for (int i = 2; i < length; ++i) {
        if (!isContinuation(p[i]))
            return 0;
    }
    return length;
}

bool isEscape(char16_t u)
{
    return u >= EscapeBase + 0x80 && u <= EscapeBase + 0xFF;
}

bool exists(const QString &path)
{
    struct stat st = {};
    return ::lstat(encodeFileName(path).constData(), &st) == 0;
}

// The entries of `folder` that Qt's own decoding turns into `name`.
QStringList entriesDecodedAs(const QString &folder, const QString &name)
{
    QStringList found;
    DIR *dir = ::opendir(encodeFileName(folder).constData());
    if (!dir)
        return found;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray bytes(entry->d_name);
        if (QFile::decodeName(bytes) == name)
            found.append(decodeFileName(bytes));
    }
    ::closedir(dir);
    return found;
}

} // namespace

QString decodeFileName(const QByteArray &bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype size = bytes.size();
    QString text;
    text.reserve(size);
    for (qsizetype i = 0; i < size;) {
        const int length = sequenceLength(p + i, size - i);
        if (length == 0) {
            text.append(QChar(char16_t(EscapeBase + p[i])));
            ++i;
            continue;
        }
        text.append(QString::fromUtf8(reinterpret_cast<const char *>(p + i), length));
        i += length;
    }
    return text;
}

QByteArray encodeFileName(const QString &path)
{
    if (!hasForeignBytes(path))
        return path.toUtf8();
    QByteArray bytes;
    bytes.reserve(path.size() * 3);
    qsizetype run = 0; // start of the text not yet written
    for (qsizetype i = 0; i < path.size(); ++i) {
        const char16_t u = path.at(i).unicode();
        // A low surrogate after a high one is half of a real character.
        if (!isEscape(u) || (i > 0 && path.at(i - 1).isHighSurrogate()))
            continue;
        bytes += QStringView(path).sliced(run, i - run).toUtf8();
        bytes += char(u - EscapeBase);
        run = i + 1;
    }
    bytes += QStringView(path).sliced(run).toUtf8();
    return bytes;
}

bool hasForeignBytes(const QString &path)
{
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (isEscape(path.at(i).unicode()) && (i == 0 || !path.at(i - 1).isHighSurrogate()))
            return true;
    }
    return false;
}

QString displayFileName(const QString &path)
{
    if (!hasForeignBytes(path))
        return path;
    QString shown;
    for (qsizetype i = 0; i < path.size(); ++i) {
        const char16_t u = path.at(i).unicode();
        if (isEscape(u) && (i == 0 || !path.at(i - 1).isHighSurrogate()))
            shown += QStringLiteral("\\x") + QString::number(u - EscapeBase, 16).toUpper();
        else
            shown += path.at(i);
    }
    return shown;
}

QString cutFileName(const QString &name, qsizetype maxBytes)
{
    QString cut = name;
    qsizetype bytes = encodeFileName(cut).size();
    while (bytes > maxBytes && !cut.isEmpty()) {
        // A character off the end: a pair's two halves go together; a stray byte is one unit.
        const qsizetype size = cut.size();
        const qsizetype units =
            size >= 2 && cut.at(size - 1).isLowSurrogate() && cut.at(size - 2).isHighSurrogate()
                ? 2
                : 1;
        bytes -= encodeFileName(cut.right(units)).size();
        cut.chop(units);
    }
    return cut;
}

QString numberedFileName(const QString &name, int number, qsizetype maxBytes)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString tail =
        QStringLiteral(" (%1)").arg(number) + (dot > 0 ? name.mid(dot) : QString());
    return cutFileName(stem, maxBytes - encodeFileName(tail).size()) + tail;
}

FileKind fileKind(const QString &path)
{
    struct stat st = {};
    if (::stat(encodeFileName(path).constData(), &st) != 0)
        return FileKind::Missing;
    if (S_ISDIR(st.st_mode))
        return FileKind::Folder;
    return S_ISREG(st.st_mode) ? FileKind::Regular : FileKind::Special;
}

QString currentFolder()
{
    QVarLengthArray<char, 4096> buffer(4096);
    while (!::getcwd(buffer.data(), size_t(buffer.size()))) {
        if (errno != ERANGE)
            return QDir::currentPath();
        buffer.resize(buffer.size() * 2);
    }
    return decodeFileName(QByteArray(buffer.data()));
}

QString absolutePath(const QString &path, const QString &base)
{
    if (path.startsWith(u'/'))
        return QDir::cleanPath(path);
    const QString folder = base.isEmpty() ? currentFolder() : base;
    return QDir::cleanPath(folder + u'/' + path);
}

QString recoverFileName(const QString &path)
{
    if (!path.contains(QChar(Replacement)) || !path.startsWith(u'/') || exists(path))
        return path;
    const QStringList parts = path.split(u'/');
    QString recovered;
    for (qsizetype i = 1; i < parts.size(); ++i) {
        QString part = parts.at(i);
        const QString folder = recovered.isEmpty() ? QStringLiteral("/") : recovered;
        if (part.contains(QChar(Replacement)) && !exists(recovered + u'/' + part)) {
            const QStringList matches = entriesDecodedAs(folder, part);
            if (matches.size() != 1)
                return path;
            part = matches.first();
        }
        recovered += u'/' + part;
    }
    return recovered;
}

namespace {

bool isFolder(const QByteArray &path)
{
    struct stat st = {};
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

QString homeFolder()
{
    // $HOME when it names a folder that is there: one that is not is never made, since the
    // user's data would then land wherever it points (for root, the file system's root).
    const QByteArray variable = qgetenv("HOME");
    if (variable.startsWith('/') && isFolder(variable))
        return QDir::cleanPath(decodeFileName(variable));
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    QByteArray buffer(size > 0 ? int(size) : 16384, Qt::Uninitialized);
    struct passwd entry = {};
    struct passwd *found = nullptr;
    while (::getpwuid_r(::getuid(), &entry, buffer.data(), size_t(buffer.size()), &found) ==
               ERANGE &&
           buffer.size() < (1 << 20))
        buffer.resize(buffer.size() * 2);
    if (!found || !found->pw_dir || found->pw_dir[0] != '/' || !isFolder(found->pw_dir))
        return {};
    return QDir::cleanPath(decodeFileName(QByteArray(found->pw_dir)));
}

void ensureHomeVariable()
{
    // A $HOME that names no folder gives way to the password database's; with neither, it
    // stays as it is (Qt would take the root for an empty one), and no data folder is had.
    const QString home = homeFolder();
    if (!home.isEmpty())
        qputenv("HOME", encodeFileName(home));
}

} // namespace rt
