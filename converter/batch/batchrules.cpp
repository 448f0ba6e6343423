#include "converter/batch/batchrules.h"

#include "converter/batch/batchfigures.h"
#include "converter/batch/namepattern.h"
#include "converter/batch/outputfolders.h"
#include "converter/files/audiofiles.h"
#include "converter/files/pathhelpers.h"
#include "runtime/filename.h"

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

std::optional<BatchOutputs::WrittenFile> BatchOutputs::identityOf(const QString &path)
{
    struct stat st = {};
    if (path.isEmpty() || ::stat(rt::encodeFileName(path).constData(), &st) != 0)
        return std::nullopt;
    return WrittenFile{quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_ctim.tv_sec),
                       qint64(st.st_ctim.tv_nsec)};
}

bool BatchOutputs::add(const QString &output, Claim claim)
{
    const std::optional<WrittenFile> written = identityOf(output);
    if (!written)
        return false;
    m_files.append({*written, claim});
    return true;
}

std::optional<BatchOutputs::Claim> BatchOutputs::claimOf(const QString &output) const
{
    // Nothing there: nothing of ours to keep.
    const std::optional<WrittenFile> now = identityOf(output);
    if (!now)
        return std::nullopt;
    for (const auto &[file, claim] : m_files) {
        if (file == *now)
            return claim;
    }
    return std::nullopt;
}

QString KeptMeanwhile(ExistingRule rule)
{
    return rule == ExistingRule::Update ? QStringLiteral("同名的MP3在转换期间已被更新，保留未动")
                                        : QStringLiteral("同名的MP3在转换期间出现了，保留未动");
}

namespace {

struct stat statOf(const QString &path, bool *exists)
{
    struct stat st = {};
    *exists = ::stat(rt::encodeFileName(path).constData(), &st) == 0;
    return st;
}

// "name (n).mp3" beside `output`, the first that nothing has; a name already as long as its
// folder allows is cut to make room for the number.
QString freeName(const QString &output, const BatchOutputs &written, const QStringList &reserved)
{
    const qsizetype slash = output.lastIndexOf(u'/');
    const QString folder = output.left(slash + 1);
    const long nameMax = ::pathconf(rt::encodeFileName(folder).constData(), _PC_NAME_MAX);
    for (int n = 1;; ++n) {
        const QString candidate = folder + rt::numberedFileName(output.mid(slash + 1), n,
                                                                nameMax > 0 ? nameMax : NAME_MAX);
        bool exists = false;
        statOf(candidate, &exists);
        if (!exists && !written.contains(candidate) && !reserved.contains(candidate))
            return candidate;
    }
}

const QString TrackPattern = QStringLiteral("{track:02} {title}");

OutputChoice refused(int error, const QString &reason)
{
    return {{}, error, reason, {}, {}};
}

} // namespace

OutputChoice ChooseOutput(const BatchFile &file, const BatchOptions &options,
                          const QMap<QString, QString> *tags, bool makeFolders,
                          const BatchOutputs &written, const QStringList &reserved)
{
    const std::optional<QString> &userFolder = options.outputFolder;
    std::optional<QString> name = batchfigures::OutputFileName(ParseFileName(file.input));
    QString below = userFolder && !file.subfolder.isEmpty() ? file.subfolder : QString();
    const bool byPattern = userFolder && !options.pattern.isEmpty();
    if (byPattern || file.isTrack()) {
        // A track is named by its number and title beside its album, unless a pattern names it.
        namepattern::Tags all = tags ? *tags : namepattern::Tags();
        for (auto it = file.tags.cbegin(); it != file.tags.cend(); ++it)
            all.insert(it.key(), it.value());
        // The input's own name, its bytes carried as they are.
        const QString path = namepattern::Expand(byPattern ? options.pattern : TrackPattern, all,
                                                 ParseFileName(file.input));
        if (byPattern)
            below = path.section(u'/', 0, -2);
        name = path.section(u'/', -1) + QStringLiteral(".mp3");
    }
    if (!name)
        return refused(rt::ErrBadFileName, QStringLiteral("文件名太短，无法得出MP3文件名"));
    QString folder =
        userFolder ? *userFolder : ParsePath(file.sheet.isEmpty() ? file.input : file.sheet);
    if (!PathFits(folder + (below.isEmpty() ? below : below + u'/') + *name))
        return refused(rt::ErrBadFileName,
                       QStringLiteral("MP3的路径太长（系统最多接受%1字节）").arg(PATH_MAX - 1));
    if (!below.isEmpty()) {
        // The chosen folder as it stands, adding nothing, unless the file came from below a
        // given folder or the pattern places it.
        const std::optional<QString> made = MakeOutputSubfolder(folder, below, makeFolders);
        if (!made && !makeFolders)
            return {};
        if (!made)
            return refused(
                rt::ErrPathNotFound,
                QStringLiteral("无法在输出目录中建立子文件夹“%1”").arg(rt::displayFileName(below)));
        folder = *made;
    }
    QString output = folder + *name;
    bool exists = false;
    const struct stat there = statOf(output, &exists);
    if (options.existing == ExistingRule::Rename) {
        if (exists || written.contains(output) || reserved.contains(output))
            output = freeName(output, written, reserved);
        return {output, 0, {}, {}, {}};
    }
    // Two inputs of one name: the earlier wins whatever the rule, and the later is named; also
    // when the earlier left the MP3 that was there.
    if (const auto claim = written.claimOf(output))
        return refused(rt::ErrFileAlreadyOpen,
                       (*claim == BatchOutputs::Claim::Written
                            ? QStringLiteral("本批中前面的文件已写出同名的MP3：%1")
                            : QStringLiteral("本批中前面的文件得出同名的MP3：%1"))
                           .arg(rt::displayFileName(output)));
    if (exists && S_ISDIR(there.st_mode))
        return refused(rt::ErrPathFileAccess, QStringLiteral("MP3会与一个文件夹同名"));
    if (options.existing == ExistingRule::Skip && exists)
        return {{}, 0, {}, QStringLiteral("已有同名的MP3，保留未动"), output};
    if (options.existing == ExistingRule::Update && exists) {
        bool inputThere = false;
        const struct stat input = statOf(file.input, &inputThere);
        const auto newer = [](const struct timespec &a, const struct timespec &b) {
            return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
        };
        // A track is cut by its sheet as much as from its audio: either changing dates it.
        bool sheetThere = file.sheet.isEmpty();
        const struct stat sheet = sheetThere ? input : statOf(file.sheet, &sheetThere);
        if (inputThere && !newer(input.st_mtim, there.st_mtim) && sheetThere &&
            !newer(sheet.st_mtim, there.st_mtim))
            return {{}, 0, {}, QStringLiteral("已是最新"), output};
    }
    return {output, 0, {}, {}, {}};
}
