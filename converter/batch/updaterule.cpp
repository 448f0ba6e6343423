#include "converter/batch/updaterule.h"

#include "converter/files/audioidentity.h"
#include "runtime/filename.h"

#include <sys/stat.h>

namespace {

qint64 nanoseconds(const timespec &t)
{
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

bool sameState(const FileState &a, const FileState &b)
{
    return a.exists && a.size == b.size && a.modified == b.modified && a.changed == b.changed;
}

} // namespace

FileState InputState(const QString &path)
{
    struct stat st = {};
    if (::stat(rt::encodeFileName(path).constData(), &st) != 0)
        return {};
    return {true, S_ISREG(st.st_mode), qint64(st.st_size), nanoseconds(st.st_mtim),
            nanoseconds(st.st_ctim)};
}

bool StillAsWritten(const OutputRecord &record, const RecordEntry &entry, bool byBytes)
{
    const QString path = record.folder() + entry.path;
    const FileState now = FileState::of(path);
    if (!now.regular || !now.sameData(entry.written))
        return false;
    return !byBytes || FileHash(path) == entry.hash;
}

UpdateDecision DecideUpdate(const OutputRecord &record, const BatchFile &file,
                            const QString &settings, const QString &pattern)
{
    const std::optional<RecordEntry> entry = record.latestFor(file.input, file.first, file.count);
    if (!entry || !StillAsWritten(record, *entry, false))
        return {};
    if (entry->settings != settings)
        return {UpdateDecision::Encode, QStringLiteral("编码设置变了，已重新编码"), *entry};
    const FileState input = InputState(file.input);
    // A track is cut and named by its sheet as much as by its audio.
    const bool sheetChanged =
        !file.sheet.isEmpty() && InputState(file.sheet).modified > entry->written.modified;
    if (sameState(input, entry->inputState) && !sheetChanged) {
        if (entry->pattern == pattern)
            return {UpdateDecision::UpToDate, QStringLiteral("与上次写出时相同，已是最新"), *entry};
        return {UpdateDecision::Retag, QStringLiteral("命名模式变了，已改名（未重新编码）"),
                *entry};
    }
    const QByteArray audio = AudioIdentity(file.input);
    if (audio.isEmpty() || audio != entry->audio)
        return {UpdateDecision::Encode, QStringLiteral("声音变了，已重新编码"), *entry};
    return {UpdateDecision::Retag, QStringLiteral("只有标签变了，已改写标签（未重新编码）"),
            *entry};
}
