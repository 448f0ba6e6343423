#include "converter/main/batchrules.h"

#include "converter/main/audiofiles.h"
#include "converter/main/batchtext.h"
#include "converter/main/outputfolders.h"
#include "converter/main/pathhelpers.h"
#include "runtime/filename.h"

#include <climits>
#include <exception>
#include <sys/stat.h>

QStringList SetUpEncoder(Mp3Enc::Binding mp3, const RateChoice &rate)
{
    QStringList failures;
    const auto attempt = [&failures](const QString &setting, const auto &step) {
        try {
            step();
        } catch (const std::exception &error) {
            failures.append(QStringLiteral("%1：%2").arg(setting, rt::reasonOf(error)));
        }
    };
    if (rate.mode != Mp3Enc::ConstantRate)
        attempt(QStringLiteral("比特率方式%1").arg(rate.mode), [&] { mp3.setRateMode(rate.mode); });
    if (rate.mode == Mp3Enc::VariableRate)
        attempt(QStringLiteral("可变比特率质量%1").arg(rate.vbrQuality),
                [&] { mp3.setVbrQuality(rate.vbrQuality); });
    else
        attempt(QStringLiteral("比特率%1").arg(rate.bitRate),
                [&] { mp3.setBitRate(rate.bitRate); });
    attempt(QStringLiteral("允许降低采样率"), [&] { mp3.setAllowDownSample(true); });
    attempt(QStringLiteral("缩混为立体声"), [&] { mp3.setDownMix(true); });
    if (Mp3Enc::threadsOption() >= 0)
        attempt(QStringLiteral("线程数%1").arg(Mp3Enc::threadsOption()),
                [&] { mp3.setThreads(Mp3Enc::threadsOption()); });
    return failures;
}

std::optional<BatchOutputs::WrittenFile> BatchOutputs::identityOf(const QString &path)
{
    struct stat st = {};
    if (path.isEmpty() || ::stat(rt::encodeFileName(path).constData(), &st) != 0)
        return std::nullopt;
    return WrittenFile{quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_ctim.tv_sec),
                       qint64(st.st_ctim.tv_nsec)};
}

bool BatchOutputs::add(const QString &output)
{
    const std::optional<WrittenFile> written = identityOf(output);
    if (!written)
        return false;
    m_files.append(*written);
    return true;
}

bool BatchOutputs::contains(const QString &output) const
{
    // Nothing there: nothing of ours to keep.
    const std::optional<WrittenFile> now = identityOf(output);
    return now && m_files.contains(*now);
}

OutputChoice ChooseOutput(const QString &input, const QString &subfolder,
                          const std::optional<QString> &userFolder, bool makeFolders,
                          const BatchOutputs &written)
{
    const std::optional<QString> name = batchtext::OutputFileName(ParseFileName(input));
    if (!name)
        return {{}, rt::ErrBadFileName, QStringLiteral("文件名太短，无法得出MP3文件名")};
    QString folder = ParsePath(input);
    const QString below = userFolder && !subfolder.isEmpty() ? subfolder + u'/' : QString();
    if (!PathFits((userFolder ? *userFolder + below : folder) + *name))
        return {{},
                rt::ErrBadFileName,
                QStringLiteral("MP3的路径太长（系统最多接受%1字节）").arg(PATH_MAX - 1)};
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
