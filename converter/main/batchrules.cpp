#include "converter/main/batchrules.h"

#include "converter/main/batchtext.h"
#include "converter/main/outputfolders.h"
#include "converter/main/pathhelpers.h"
#include "runtime/filename.h"

#include <QDir>
#include <exception>
#include <sys/stat.h>

void SetUpEncoder(Mp3Enc::Binding mp3, qint32 bitRate)
{
    try {
        mp3.setBitRate(bitRate);
    } catch (const std::exception &) {
    }
    try {
        mp3.setAllowDownSample(true);
    } catch (const std::exception &) {
    }
    try {
        mp3.setDownMix(true);
    } catch (const std::exception &) {
    }
    try {
        if (Mp3Enc::threadsOption() >= 0)
            mp3.setThreads(Mp3Enc::threadsOption());
    } catch (const std::exception &) {
    }
}

bool BatchOutputs::add(const QString &output)
{
    struct stat st = {};
    if (output.isEmpty() || ::stat(rt::encodeFileName(output).constData(), &st) != 0)
        return false;
    m_files.append({QDir::cleanPath(output), quint64(st.st_dev), quint64(st.st_ino)});
    return true;
}

bool BatchOutputs::contains(const QString &output) const
{
    const QString path = QDir::cleanPath(output);
    struct stat st = {};
    const bool exists = ::stat(rt::encodeFileName(output).constData(), &st) == 0;
    for (const WrittenFile &written : m_files) {
        if (written.path == path ||
            (exists && written.device == quint64(st.st_dev) && written.inode == quint64(st.st_ino)))
            return true;
    }
    return false;
}

std::optional<QString> BatchOutputPath(const QString &input, const QString &subfolder,
                                       const std::optional<QString> &userFolder, bool makeFolders,
                                       const BatchOutputs &written)
{
    const std::optional<QString> name = batchtext::OutputFileName(ParseFileName(input));
    if (!name)
        throw BatchRefusal(rt::ErrBadFileName, QStringLiteral("文件名太短，无法得出MP3文件名"));
    QString folder = ParsePath(input);
    if (userFolder) {
        // The chosen folder as it stands, adding nothing, unless the file came from below a
        // given folder.
        folder = *userFolder;
        if (!subfolder.isEmpty()) {
            const std::optional<QString> below =
                MakeOutputSubfolder(*userFolder, subfolder, makeFolders);
            if (!below && !makeFolders)
                return std::nullopt;
            if (!below)
                throw BatchRefusal(rt::ErrPathNotFound,
                                   QStringLiteral("无法在输出目录中建立子文件夹“%1”")
                                       .arg(rt::displayFileName(subfolder)));
            folder = *below;
        }
    }
    const QString output = folder + *name;
    if (written.contains(output))
        throw BatchRefusal(
            rt::ErrFileAlreadyOpen,
            QStringLiteral("本批中前面的文件已写出同名的MP3：%1").arg(rt::displayFileName(output)));
    return output;
}
