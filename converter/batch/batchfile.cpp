#include "converter/batch/batchfile.h"

#include "converter/files/audiofiles.h"
#include "runtime/filename.h"

QString BatchFile::label() const
{
    const QString shown = rt::displayFileName(input);
    return isTrack() ? QStringLiteral("%1（第%2轨）")
                           .arg(shown, tags.value(QStringLiteral("track")).section(u'/', 0, 0))
                     : shown;
}

QList<BatchFile> BatchFilesOf(const FoundFiles &found)
{
    QList<BatchFile> files;
    for (qsizetype k = 0; k < found.files.size(); ++k) {
        BatchFile file;
        file.input = found.files[k];
        file.subfolder = found.subfolders.value(k);
        file.sheet = found.sheets.value(k);
        files.append(file);
    }
    return files;
}
