#include "converter/batch/batchoptions.h"

#include "converter/batch/namepattern.h"
#include "runtime/filename.h"

#include <QStringList>
#include <algorithm>

namespace {

using Setting = OptionsProblem::Setting;

std::optional<OptionsProblem> rateProblem(const RateChoice &rate)
{
    switch (rate.mode) {
    case Mp3Enc::VariableRate:
        if (rate.vbrQuality < 0 || rate.vbrQuality > MaxVbrQuality)
            return OptionsProblem{Setting::VbrQuality,
                                  QStringLiteral("需要 0 到 %1 之间的整数").arg(MaxVbrQuality)};
        return std::nullopt;
    case Mp3Enc::AverageRate:
        if (rate.bitRate < MinAbrKbps * 1000 || rate.bitRate > MaxAbrKbps * 1000 ||
            rate.bitRate % 1000 != 0)
            return OptionsProblem{Setting::AverageRate,
                                  QStringLiteral("需要 %1 到 %2 之间的整数（千比特/秒）")
                                      .arg(MinAbrKbps)
                                      .arg(MaxAbrKbps)};
        return std::nullopt;
    default:
        if (rate.bitRate % 1000 != 0 ||
            std::ranges::find(ConstantKbps, rate.bitRate / 1000) == ConstantKbps.end())
            return OptionsProblem{Setting::BitRate,
                                  QStringLiteral("只能是 %1（千比特/秒）").arg(ConstantKbpsText())};
        return std::nullopt;
    }
}

} // namespace

QString ConstantKbpsText()
{
    QStringList kbps;
    for (const int rate : ConstantKbps)
        kbps.append(QString::number(rate));
    return kbps.join(QStringLiteral("、"));
}

namespace {

std::optional<OptionsProblem> threadsProblem(const BatchOptions &options)
{
    if (options.threads && (*options.threads < 0 || *options.threads > MaxThreads))
        return OptionsProblem{Setting::Threads,
                              QStringLiteral("需要 0 到 %1 之间的整数").arg(MaxThreads)};
    return std::nullopt;
}

std::optional<OptionsProblem> patternProblem(const BatchOptions &options)
{
    if (options.pattern.isEmpty())
        return std::nullopt;
    if (const auto problem = namepattern::Problem(options.pattern))
        return OptionsProblem{Setting::Pattern, *problem};
    return std::nullopt;
}

std::optional<OptionsProblem> coverProblem(const BatchOptions &options)
{
    if (!options.coverFile.isEmpty() &&
        (options.coverFile.contains(u'/') || options.coverFile.startsWith(u'.')))
        return OptionsProblem{Setting::CoverFile,
                              QStringLiteral("需要一个不以“.”开头、不含“/”的文件名")};
    if (options.coverSize < 0 || options.coverSize > MaxCoverSize ||
        (options.coverSize > 0 && options.coverFile.isEmpty()))
        return OptionsProblem{Setting::CoverSize,
                              options.coverFile.isEmpty()
                                  ? QStringLiteral("需要 --cover-file")
                                  : QStringLiteral("需要 1 到 %1 之间的整数").arg(MaxCoverSize)};
    return std::nullopt;
}

} // namespace

std::optional<OptionsProblem> CheckOptions(const BatchOptions &options)
{
    if (auto problem = rateProblem(options.rate))
        return problem;
    if (auto problem = threadsProblem(options))
        return problem;
    const std::optional<QString> &folder = options.outputFolder;
    if (folder && (!folder->startsWith(u'/') || !folder->endsWith(u'/') ||
                   rt::fileKind(*folder) != rt::FileKind::Folder))
        return OptionsProblem{Setting::OutputFolder, QStringLiteral("不存在或不是文件夹")};
    if ((options.prune || options.dryRun) && !folder)
        return OptionsProblem{Setting::PruneWithoutFolder,
                              QStringLiteral("只删除本程序在输出目录中写出的MP3")};
    if (!options.coverFile.isEmpty() && !folder)
        return OptionsProblem{Setting::CoverWithoutFolder,
                              QStringLiteral("封面写在输出目录中MP3的旁边")};
    if (auto problem = coverProblem(options))
        return problem;
    if (!options.pattern.isEmpty() && !folder)
        return OptionsProblem{Setting::PatternWithoutFolder,
                              QStringLiteral("名字模板给出的是输出目录下的路径")};
    return patternProblem(options);
}

std::optional<OptionsProblem> CheckChoices(const BatchOptions &options)
{
    if (auto problem = rateProblem(options.rate))
        return problem;
    if (auto problem = threadsProblem(options))
        return problem;
    if (auto problem = coverProblem(options))
        return problem;
    return patternProblem(options);
}
