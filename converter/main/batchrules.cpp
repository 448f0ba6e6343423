#include "converter/main/batchrules.h"

#include "converter/main/batchtext.h"
#include "converter/main/outputfolders.h"
#include "converter/main/pathhelpers.h"
#include "runtime/filename.h"

#include <QDir>
#include <exception>
#include <sys/stat.h>

QStringList SetUpEncoder(Mp3Enc::Binding mp3, qint32 bitRate)
{
    QStringList failures;
    const auto attempt = [&failures](const QString &setting, const auto &step) {
        try {
            step();
        } catch (const std::exception &error) {
            failures.append(QStringLiteral("%1：%2").arg(setting, rt::reasonOf(error)));
        }
    };
    attempt(QStringLiteral("比特率%1").arg(bitRate), [&] { mp3.setBitRate(bitRate); });
    attempt(QStringLiteral("允许降低采样率"), [&] { mp3.setAllowDownSample(true); });
    attempt(QStringLiteral("缩混为立体声"), [&] { mp3.setDownMix(true); });
    if (Mp3Enc::threadsOption() >= 0)
        attempt(QStringLiteral("线程数%1").arg(Mp3Enc::threadsOption()),
                [&] { mp3.setThreads(Mp3Enc::threadsOption()); });
    return failures;
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

OutputChoice ChooseOutput(const QString &input, const QString &subfolder,
                          const std::optional<QString> &userFolder, bool makeFolders,
                          const BatchOutputs &written)
{
    const std::optional<QString> name = batchtext::OutputFileName(ParseFileName(input));
    if (!name)
        return {{}, rt::ErrBadFileName, QStringLiteral("文件名太短，无法得出MP3文件名")};
    QString folder = ParsePath(input);
    if (userFolder) {
        // The chosen folder as it stands, adding nothing, unless the file came from below a
        // given folder.
        folder = *userFolder;
        if (!subfolder.isEmpty()) {
            const std::optional<QString> below =
                MakeOutputSubfolder(*userFolder, subfolder, makeFolders);
            if (!below && !makeFolders)
                return {};
            if (!below)
                return {{},
                        rt::ErrPathNotFound,
                        QStringLiteral("无法在输出目录中建立子文件夹“%1”")
                            .arg(rt::displayFileName(subfolder))};
            folder = *below;
        }
    }
    const QString output = folder + *name;
    if (written.contains(output))
        return {
            {},
            rt::ErrFileAlreadyOpen,
            QStringLiteral("本批中前面的文件已写出同名的MP3：%1").arg(rt::displayFileName(output))};
    return {output, 0, {}};
}

std::optional<QString> BatchOutputPath(const QString &input, const QString &subfolder,
                                       const std::optional<QString> &userFolder, bool makeFolders,
                                       const BatchOutputs &written)
{
    OutputChoice choice = ChooseOutput(input, subfolder, userFolder, makeFolders, written);
    if (!choice.refusal.isEmpty())
        throw BatchRefusal(choice.error, choice.refusal);
    if (choice.path.isEmpty())
        return std::nullopt;
    return choice.path;
}
