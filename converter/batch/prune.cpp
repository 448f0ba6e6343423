#include "converter/batch/prune.h"

#include "converter/batch/outputfolders.h"
#include "converter/batch/updaterule.h"
#include "runtime/filename.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

QString folderOf(const QString &relative)
{
    return relative.contains(u'/') ? relative.section(u'/', 0, -2) : QString();
}

// Removes `relative` below the record's folder, reaching it without following any link; 0 or
// errno.
int removeBelow(const OutputRecord &record, const QString &relative, bool folder)
{
    const std::optional<QString> parent =
        MakeOutputSubfolder(record.folder(), folderOf(relative), false);
    if (!parent)
        return ENOENT; // a part of the way is a link or gone
    const int fd = ::open(rt::encodeFileName(*parent).constData(),
                          O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int done = ::unlinkat(fd, rt::encodeFileName(relative.section(u'/', -1)).constData(),
                                folder ? AT_REMOVEDIR : 0);
    const int error = done == 0 ? 0 : errno;
    ::close(fd);
    return error;
}

// Why the record's MP3 is no longer wanted; "" while it is.
QString orphaned(const OutputRecord &record, const RecordEntry &entry)
{
    if (!InputState(entry.input).exists)
        return QStringLiteral("输入文件已不在");
    const std::optional<RecordEntry> latest =
        record.latestFor(entry.input, entry.first, entry.count);
    if (latest && latest->path != entry.path)
        return QStringLiteral("输入文件现在得出另一个名字：%1")
            .arg(rt::displayFileName(latest->path));
    return {};
}

} // namespace

QList<PruneStep> Prune(OutputRecord &record, const QSet<QString> &claimed, bool dryRun)
{
    QList<PruneStep> steps;
    QSet<QString> gone; // relative paths deleted (or, dry, that would be)
    const QList<RecordEntry> entries = record.entries();
    const auto settle = [&](const RecordEntry &entry, const QString &why) {
        const QString path = record.folder() + entry.path;
        if (!FileState::of(path).exists) {
            if (!dryRun)
                record.remove(entry.path); // deleted by someone else: nothing left to keep
            return;
        }
        if (!StillAsWritten(record, entry, true)) {
            steps.append({PruneStep::Kept, path, QStringLiteral("写出后被改动过，保留未动")});
            return;
        }
        const int error = dryRun ? 0 : removeBelow(record, entry.path, false);
        if (error != 0) {
            steps.append(
                {PruneStep::Failed, path,
                 QStringLiteral("无法删除：%1").arg(QString::fromLocal8Bit(std::strerror(error)))});
            return;
        }
        if (!dryRun)
            record.remove(entry.path);
        gone.insert(entry.path);
        steps.append({PruneStep::Deleted, path, why});
    };
    for (const RecordEntry &entry : entries) {
        if (entry.kind != RecordEntry::Mp3 || claimed.contains(entry.path))
            continue;
        if (const QString why = orphaned(record, entry); !why.isEmpty())
            settle(entry, why);
    }
    // A cover stays while an MP3 of the record is left beside it.
    QSet<QString> withMp3;
    for (const RecordEntry &entry : entries) {
        if (entry.kind == RecordEntry::Mp3 && !gone.contains(entry.path))
            withMp3.insert(folderOf(entry.path));
    }
    for (const RecordEntry &entry : entries) {
        if (entry.kind == RecordEntry::Cover && !claimed.contains(entry.path) &&
            !withMp3.contains(folderOf(entry.path)))
            settle(entry, QStringLiteral("同一文件夹中已没有MP3"));
    }
    if (dryRun)
        return steps;
    for (const QString &folder : record.folders()) {
        const int error = removeBelow(record, folder, true);
        if (error == 0 || error == ENOENT)
            record.removeFolder(folder); // gone; one still holding files stays recorded
    }
    return steps;
}
