#include "converter/batch/batchrules.h"

#include "converter/batch/batchfigures.h"
#include "converter/batch/namepattern.h"
#include "converter/batch/outputfolders.h"
#include "converter/files/audiofiles.h"
#include "converter/files/pathhelpers.h"
#include "runtime/filename.h"

#include <climits>
#include <unistd.h>

QString KeptMeanwhile(ExistingRule rule)
{
    return rule == ExistingRule::Update ? QStringLiteral("同名的MP3在转换期间已被更新，保留未动")
                                        : QStringLiteral("同名的MP3在转换期间出现了，保留未动");
}

namespace {

// "name (n).mp3" beside `output`, the first that nothing has and this batch has not given out; a
// name already as long as its folder allows is cut to make room for the number.
QString freeName(const QString &output, const QStringList &reserved)
{
    const qsizetype slash = output.lastIndexOf(u'/');
    const QString folder = output.left(slash + 1);
    const long nameMax = ::pathconf(rt::encodeFileName(folder).constData(), _PC_NAME_MAX);
    for (int n = 1;; ++n) {
        const QString candidate = folder + rt::numberedFileName(output.mid(slash + 1), n,
                                                                nameMax > 0 ? nameMax : NAME_MAX);
        if (!FileStat::of(candidate).exists && !reserved.contains(candidate))
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
                          const BatchOutputs &written, const QStringList &reserved,
                          QStringList *madeFolders)
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
        const std::optional<QString> made =
            MakeOutputSubfolder(folder, below, makeFolders, madeFolders);
        if (!made && !makeFolders)
            return {};
        if (!made)
            return refused(
                rt::ErrPathNotFound,
                QStringLiteral("无法在输出目录中建立子文件夹“%1”").arg(rt::displayFileName(below)));
        folder = *made;
    }
    QString output = folder + *name;
    // The one look at what stands under the name; what this batch wrote stands there too.
    const FileStat there = FileStat::of(output);
    if (options.existing == ExistingRule::Rename) {
        if (there.exists || reserved.contains(output))
            output = freeName(output, reserved);
        return {output, 0, {}, {}, {}};
    }
    // Two inputs of one name: the earlier wins whatever the rule, and the later is named; also
    // when the earlier left the MP3 that was there.
    if (const auto claim = written.claimOf(there))
        return refused(rt::ErrFileAlreadyOpen,
                       (*claim == BatchOutputs::Claim::Written
                            ? QStringLiteral("本批中前面的文件已写出同名的MP3：%1")
                            : QStringLiteral("本批中前面的文件得出同名的MP3：%1"))
                           .arg(rt::displayFileName(output)));
    if (there.isFolder)
        return refused(rt::ErrPathFileAccess, QStringLiteral("MP3会与一个文件夹同名"));
    if (options.existing == ExistingRule::Skip && there.exists)
        return {{}, 0, {}, QStringLiteral("已有同名的MP3，保留未动"), output};
    if (options.existing == ExistingRule::Update && there.exists) {
        const FileStat input = FileStat::of(file.input);
        // A track is cut by its sheet as much as from its audio: either changing dates it.
        const FileStat sheet = file.sheet.isEmpty() ? input : FileStat::of(file.sheet);
        if (input.exists && !input.newerThan(there) && sheet.exists && !sheet.newerThan(there))
            return {{}, 0, {}, QStringLiteral("已是最新"), output};
    }
    return {output, 0, {}, {}, {}};
}
