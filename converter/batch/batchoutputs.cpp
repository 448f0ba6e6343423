#include "converter/batch/batchoutputs.h"

#include "runtime/filename.h"

#include <sys/stat.h>

FileStat FileStat::of(const QString &path)
{
    struct stat st = {};
    FileStat file;
    if (path.isEmpty() || ::stat(rt::encodeFileName(path).constData(), &st) != 0)
        return file;
    file.exists = true;
    file.isFolder = S_ISDIR(st.st_mode);
    file.modified = st.st_mtim;
    file.identity = {quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_ctim.tv_sec),
                     qint64(st.st_ctim.tv_nsec)};
    return file;
}

bool FileStat::newerThan(const FileStat &other) const
{
    const timespec &a = modified, &b = other.modified;
    return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

bool BatchOutputs::add(const QString &output, Claim claim)
{
    const FileStat written = FileStat::of(output);
    if (!written.exists)
        return false;
    m_files.append({written.identity, claim});
    return true;
}

std::optional<BatchOutputs::Claim> BatchOutputs::claimOf(const FileStat &there) const
{
    // Nothing there: nothing of ours to keep.
    if (!there.exists)
        return std::nullopt;
    for (const auto &[file, claim] : m_files) {
        if (file == there.identity)
            return claim;
    }
    return std::nullopt;
}
