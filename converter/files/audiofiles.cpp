#include "converter/files/audiofiles.h"

#include "converter/files/audionames.h"
#include "converter/files/cuefiles.h"
#include "runtime/filename.h"

#include <QDir>
#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <numeric>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The one mapping of why a name was not added: the list of FoundFiles that holds such names,
// what is said of one of them (in a batch's report), and the heading a message lists them under.
struct LeftOutRow
{
    LeftOutReason reason;
    QStringList FoundFiles::*names;
    QString said;
    QString heading;
};

const std::array<LeftOutRow, 4> &leftOutRows()
{
    static const std::array<LeftOutRow, 4> rows = {{
        {LeftOutReason::Missing, &FoundFiles::missing, QStringLiteral("文件不存在"),
         QStringLiteral("以下文件不存在，未添加到列表：")},
        {LeftOutReason::NotRegular, &FoundFiles::notRegular,
         QStringLiteral("不是普通文件（管道、设备等）"),
         QStringLiteral("以下不是普通文件（管道、设备等），未添加到列表：")},
        {LeftOutReason::Unreadable, &FoundFiles::unreadable,
         QStringLiteral("没有权限读取这个文件夹"),
         QStringLiteral("没有权限读取以下文件夹，其中的文件未添加到列表：")},
        {LeftOutReason::TooLong, &FoundFiles::tooLong, QStringLiteral("路径太长，系统无法打开"),
         QStringLiteral("以下路径太长（系统最多接受%1字节），未添加到列表：").arg(PATH_MAX - 1)},
    }};
    return rows;
}

using Kind = rt::FileKind;

bool isLink(const QString &path)
{
    struct stat st = {};
    return ::lstat(rt::encodeFileName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

void addFile(FoundFiles &found, const QString &path, Kind kind, const QString &shown,
             const QString &subfolder = QString())
{
    switch (kind) {
    case Kind::Regular:
        found.files.append(path);
        found.subfolders.append(subfolder);
        found.sheets.append(QString());
        break;
    case Kind::Special:
        found.notRegular.append(shown);
        break;
    case Kind::Missing:
        found.missing.append(shown);
        break;
    case Kind::Folder:
        break;
    }
}

// Looked up through `folder`, for an entry whose whole path is too long to name.
bool isFolderIn(const QString &folder, const QString &name)
{
    const int fd = ::open(rt::encodeFileName(folder).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    struct stat st = {};
    const bool isFolder =
        fd >= 0 &&
        ::fstatat(fd, rt::encodeFileName(name).constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(st.st_mode);
    if (fd >= 0)
        ::close(fd);
    return isFolder;
}

// `folder`'s entries by their bytes; false when it cannot be listed.
bool listFolder(const QString &folder, QStringList *names, int *error)
{
    DIR *dir = ::opendir(rt::encodeFileName(folder).constData());
    if (!dir) {
        *error = errno;
        return false;
    }
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.') // hidden, and "." and ".."
            names->append(rt::decodeFileName(QByteArray(entry->d_name)));
    }
    ::closedir(dir);
    return true;
}

// `subfolder`: where `folder` is below the folder the walk started in.
void walk(const QString &folder, const QString &subfolder, FoundFiles &found)
{
    QStringList names;
    int error = 0;
    if (!listFolder(folder, &names, &error)) {
        (error == ENOENT ? found.missing : found.unreadable).append(folder);
        return;
    }
    for (const QString &name : std::as_const(names)) {
        const QString path = folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
        if (!PathFits(path)) { // nothing can be opened there: say so rather than pass it by
            if (IsAudioName(name) || isFolderIn(folder, name))
                found.tooLong.append(path);
            continue;
        }
        const Kind kind = rt::fileKind(path);
        if (kind == Kind::Folder) {
            if (!isLink(path)) // a link may lead back up the tree
                walk(path, subfolder.isEmpty() ? name : subfolder + u'/' + name, found);
        } else if (IsAudioName(name)) {
            addFile(found, path, kind, path, subfolder);
        }
    }
}

} // namespace

void FoundFiles::append(const FoundFiles &other)
{
    files += other.files;
    subfolders += other.subfolders;
    sheets += other.sheets;
    missing += other.missing;
    notRegular += other.notRegular;
    unreadable += other.unreadable;
    tooLong += other.tooLong;
}

FoundFiles AudioFilesUnder(const QString &folder)
{
    FoundFiles found;
    walk(QDir::cleanPath(folder), QString(), found);
    // Sorted by path, each file keeping its subfolder.
    QList<qsizetype> order(found.files.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(),
              [&found](qsizetype a, qsizetype b) { return found.files[a] < found.files[b]; });
    FoundFiles sorted = found;
    for (qsizetype i = 0; i < order.size(); ++i) {
        sorted.files[i] = found.files[order[i]];
        sorted.subfolders[i] = found.subfolders[order[i]];
        sorted.sheets[i] = found.sheets[order[i]];
    }
    return sorted;
}

QStringList AudioFilesInFolder(const QString &folder)
{
    return AudioFilesUnder(folder).files;
}

QStringList LocalPathsFromUriList(const QByteArray &uriList)
{
    QStringList paths;
    for (QByteArray line : uriList.split('\n')) {
        line = line.trimmed(); // the list's lines end in CR LF
        if (line.isEmpty() || line.startsWith('#') || !line.toLower().startsWith("file://"))
            continue;
        QByteArray rest = line.mid(7);
        if (rest.startsWith("localhost/"))
            rest = rest.mid(9);
        if (!rest.startsWith('/')) // another machine's file
            continue;
        paths.append(QDir::cleanPath(rt::decodeFileName(QByteArray::fromPercentEncoding(rest))));
    }
    return paths;
}

// A cue sheet stands for the album file it names, which the batch then cuts into its tracks by
// that sheet; one that names none is added as it is, and refused with the reason when converted.
static void addCueSheet(FoundFiles &found, const QString &cuePath)
{
    const QString image = ImageOfCueFile(cuePath);
    const QString added = image.isEmpty() ? cuePath : image;
    for (qsizetype k = 0; k < found.files.size(); ++k) {
        if (found.files[k] != added || (!found.sheets[k].isEmpty() && found.sheets[k] != cuePath))
            continue;
        found.sheets[k] = cuePath; // the album file given too: by the sheet given
        return;
    }
    found.files.append(added);
    found.subfolders.append(QString());
    found.sheets.append(cuePath);
}

FoundFiles AudioFilesFromPaths(const QStringList &paths)
{
    FoundFiles found;
    for (const QString &path : paths) {
        const Kind kind = rt::fileKind(path);
        if (kind == Kind::Folder)
            found.append(AudioFilesUnder(path));
        else if (IsCueName(path) && kind == Kind::Regular)
            addCueSheet(found, QDir::cleanPath(path));
        else if (IsAudioName(path))
            addFile(found, QDir::cleanPath(path), kind, path);
    }
    return found;
}

bool MayHoldAudioFiles(const QStringList &paths)
{
    return std::any_of(paths.begin(), paths.end(), [](const QString &path) {
        const Kind kind = rt::fileKind(path);
        return kind == Kind::Folder ||
               (kind != Kind::Missing && (IsAudioName(path) || IsCueName(path)));
    });
}

FoundFiles FilesFromArguments(const QStringList &arguments, const QString &workingFolder)
{
    FoundFiles found;
    for (const QString &argument : arguments) {
        if (argument.isEmpty()) {
            found.missing.append(argument);
            continue;
        }
        const QString path = rt::absolutePath(argument, workingFolder);
        if (!PathFits(path)) {
            found.tooLong.append(argument);
            continue;
        }
        const Kind kind = rt::fileKind(path);
        if (kind == Kind::Regular && IsCueName(path)) {
            addCueSheet(found, path);
            continue;
        }
        if (kind != Kind::Folder) {
            if (!found.files.contains(path) || kind != Kind::Regular)
                addFile(found, path, kind, argument);
            continue;
        }
        FoundFiles inside = AudioFilesUnder(path);
        // The folder itself, named as it was given.
        if (inside.unreadable.value(0) == path)
            inside.unreadable.first() = argument;
        found.append(inside);
    }
    return found;
}

bool PathFits(const QString &path)
{
    return rt::encodeFileName(path).size() < PATH_MAX;
}

QList<LeftOut> FoundFiles::leftOut() const
{
    QList<LeftOut> all;
    for (const LeftOutRow &row : leftOutRows()) {
        for (const QString &name : this->*row.names)
            all.append({name, row.reason});
    }
    return all;
}

QString LeftOutText(LeftOutReason reason)
{
    for (const LeftOutRow &row : leftOutRows()) {
        if (row.reason == reason)
            return row.said;
    }
    return {};
}

QString NotAddedMessage(const FoundFiles &found)
{
    QStringList parts;
    for (const LeftOutRow &row : leftOutRows()) {
        if ((found.*row.names).isEmpty())
            continue;
        QString part = row.heading;
        for (const QString &name : found.*row.names)
            part += u'\n' + rt::displayFileName(name);
        parts.append(part);
    }
    return parts.join(QStringLiteral("\n\n"));
}
