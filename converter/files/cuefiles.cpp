#include "converter/files/cuefiles.h"

#include "converter/files/audionames.h"
#include "converter/files/cuesheet.h"
#include "converter/files/pathhelpers.h"
#include "runtime/filename.h"

#include <QDir>
#include <QStringList>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A sheet is a few kilobytes: anything larger is not one.
constexpr qsizetype MostSheetBytes = 1 << 20;

QString stem(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 ? name.left(dot) : name;
}

} // namespace

bool IsCueName(const QString &path)
{
    return path.endsWith(QLatin1String(".cue"), Qt::CaseInsensitive);
}

std::variant<cuesheet::Text, QString> ReadCueFile(const QString &path)
{
    const int fd = ::open(rt::encodeFileName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    QByteArray bytes(MostSheetBytes + 1, Qt::Uninitialized);
    qsizetype got = 0;
    ssize_t n = fd < 0 ? -1 : 0;
    while (fd >= 0 && got < bytes.size() &&
           (n = ::read(fd, bytes.data() + got, size_t(bytes.size() - got))) > 0)
        got += n;
    const int error = errno;
    if (fd >= 0)
        ::close(fd);
    if (n < 0)
        return error == EACCES ? QStringLiteral("没有权限读取CUE文件")
                               : QStringLiteral("无法读取CUE文件（%1）")
                                     .arg(QString::fromLocal8Bit(std::strerror(error)));
    if (got > MostSheetBytes)
        return QStringLiteral("CUE文件大于1 MB，不会是CUE文件");
    bytes.truncate(got);
    return cuesheet::Decode(bytes);
}

CueImage FindCueImage(const QString &sheetFolder, const QString &named)
{
    const QString exact = QDir::cleanPath(QDir(sheetFolder).filePath(named));
    if (rt::fileKind(exact) != rt::FileKind::Missing)
        return {exact, {}};
    const QDir folder(ParsePath(exact));
    const QString name = ParseFileName(exact);
    const QStringList entries = folder.entryList(QDir::Files, QDir::Name);
    const auto matching = [&entries](const auto &same) {
        QStringList found;
        for (const QString &entry : entries) {
            if (same(entry))
                found.append(entry);
        }
        return found;
    };
    QStringList found = matching(
        [&](const QString &entry) { return entry.compare(name, Qt::CaseInsensitive) == 0; });
    if (found.isEmpty()) // another ending: the first, as the folder sorts
        found = matching([&](const QString &entry) {
                    return stem(entry) == stem(name) && IsAudioName(entry);
                }).mid(0, 1);
    if (found.isEmpty())
        found = matching([&](const QString &entry) {
            return stem(entry).compare(stem(name), Qt::CaseInsensitive) == 0 && IsAudioName(entry);
        });
    if (found.size() == 1)
        return {folder.filePath(found.first()), {}};
    if (found.isEmpty())
        return {exact, QStringLiteral("CUE文件指向的音频文件不存在：%1").arg(named)};
    return {{},
            QStringLiteral("CUE文件指向的“%1”不知是哪一个，有几个文件只是大小写不同：%2")
                .arg(named, rt::displayFileName(found.join(QStringLiteral("、"))))};
}

QString ImageOfCueFile(const QString &cuePath)
{
    const auto read = ReadCueFile(cuePath);
    const cuesheet::Text *text = std::get_if<cuesheet::Text>(&read);
    if (!text)
        return {};
    const QStringList files = cuesheet::Parse(text->text).files;
    if (files.isEmpty())
        return {};
    const QString image = FindCueImage(ParsePath(cuePath), files.first()).path;
    return rt::fileKind(image) == rt::FileKind::Regular ? image : QString();
}
