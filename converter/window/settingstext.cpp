#include "converter/window/settingstext.h"

#include "converter/batch/namepattern.h"
#include "runtime/filename.h"

namespace settingstext {

QString ConstantRateItem(int kbps)
{
    return QStringLiteral("%1 Kbps").arg(kbps);
}

QString VbrItem(int quality)
{
    const int kbps = VbrTypicalKbps.at(size_t(quality));
    if (quality == UsualVbrQuality)
        return QStringLiteral("V%1（约%2 Kbps，常用）").arg(quality).arg(kbps);
    return QStringLiteral("V%1（约%2 Kbps）").arg(quality).arg(kbps);
}

QString QualityLine(const RateChoice &rate)
{
    switch (rate.mode) {
    case Mp3Enc::VariableRate:
        return QStringLiteral("MP3格式为可变比特率V%1").arg(rate.vbrQuality);
    case Mp3Enc::AverageRate:
        return QStringLiteral("MP3格式为平均比特率%1Kbps").arg(rate.bitRate / 1000);
    default:
        return QStringLiteral("MP3格式为固定比特率%1Kbps").arg(rate.bitRate / 1000);
    }
}

QString ProblemText(const OptionsProblem &problem)
{
    using Setting = OptionsProblem::Setting;
    switch (problem.setting) {
    case Setting::BitRate:
        return QStringLiteral("固定比特率") + problem.reason;
    case Setting::VbrQuality:
        return QStringLiteral("可变比特率") + problem.reason;
    case Setting::AverageRate:
        return QStringLiteral("平均比特率") + problem.reason;
    case Setting::Threads:
        return QStringLiteral("核心数") + problem.reason;
    case Setting::OutputFolder:
        return QStringLiteral("输出目录") + problem.reason;
    case Setting::PatternWithoutFolder:
        return QStringLiteral("按标签命名需要先在主窗口勾选输出目录：") + problem.reason;
    // The window offers no pruning and no cover files; a kept profile may still carry them.
    case Setting::PruneWithoutFolder:
        return QStringLiteral("删除旧的MP3") + problem.reason;
    case Setting::CoverWithoutFolder:
    case Setting::CoverFile:
    case Setting::CoverSize:
        return QStringLiteral("封面文件") + problem.reason;
    case Setting::Pattern:
        break;
    }
    return QStringLiteral("按标签：") + problem.reason;
}

QString PreviewText(const QString &pattern, const QMap<QString, QString> &tags,
                    const QString &fileName)
{
    if (const auto problem = namepattern::Problem(pattern))
        return QStringLiteral("模板有误：") + *problem;
    if (fileName.isEmpty())
        return QStringLiteral("预览：列表中还没有文件");
    return QStringLiteral("预览：") +
           rt::displayFileName(namepattern::Expand(pattern, tags, fileName)) +
           QStringLiteral(".mp3");
}

} // namespace settingstext
