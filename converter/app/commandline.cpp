#include "converter/app/commandline.h"

#include "converter/batch/batchrules.h"
#include "converter/batch/namepattern.h"
#include "converter/encoder/mp3enc.h"
#include "runtime/filename.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

const QString Convert = QStringLiteral("convert");
const QString BitRate = QStringLiteral("bitrate");
const QString Vbr = QStringLiteral("vbr");
const QString Abr = QStringLiteral("abr");
const QString OutputDir = QStringLiteral("output-dir");
const QString Threads = QStringLiteral("threads");
const QString Quiet = QStringLiteral("quiet");
const QString Existing = QStringLiteral("existing");
const QString Pattern = QStringLiteral("pattern");

// --existing's words, as the rules they name.
const std::pair<const char *, ExistingRule> ExistingRules[] = {
    {"overwrite", ExistingRule::Overwrite},
    {"skip", ExistingRule::Skip},
    {"rename", ExistingRule::Rename},
    {"update", ExistingRule::Update},
};
constexpr int MaxThreads = 256;
// -b: every constant rate an MPEG-1 Layer III frame has.
constexpr std::array<int, 14> ConstantKbps = {32,  40,  48,  56,  64,  80,  96,
                                              112, 128, 160, 192, 224, 256, 320};
constexpr int MaxVbrQuality = 9;
constexpr int MinAbrKbps = 8;
constexpr int MaxAbrKbps = 320;

const QString Description =
    QStringLiteral("批量把WAV等音频文件转换为MP3文件。\n"
                   "  batchmp3 [路径...]                打开窗口，把文件和文件夹加入列表\n"
                   "  batchmp3 --convert [选项] 路径... 不开窗口，在终端中转换（无需显示器）\n"
                   "--convert 的退出状态：0 全部转换，1 有文件未转换，2 用法错误，"
                   "130/143/129 被 SIGINT/SIGTERM/SIGHUP 中断。");

QString bitRateChoices()
{
    QStringList kbps;
    for (const int rate : ConstantKbps)
        kbps.append(QString::number(rate));
    return kbps.join(QStringLiteral("、"));
}

void addOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(Description);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {Convert, QStringLiteral("不开窗口，转换给出的文件和文件夹（文件夹连同子文件夹）后退出")},
        {{QStringLiteral("b"), BitRate},
         QStringLiteral("固定比特率（千比特/秒）：%1，默认 %2（用于 --convert）")
             .arg(bitRateChoices())
             .arg(DefaultBitRate / 1000),
         QStringLiteral("KBPS")},
        {{QStringLiteral("V"), Vbr},
         QStringLiteral(
             "可变比特率，质量 0（文件最大）到 %1（文件最小），同 lame -V（用于 --convert）")
             .arg(MaxVbrQuality),
         QStringLiteral("N")},
        {Abr,
         QStringLiteral("平均比特率（千比特/秒）：%1 到 %2，同 lame --abr（用于 --convert）")
             .arg(MinAbrKbps)
             .arg(MaxAbrKbps),
         QStringLiteral("KBPS")},
        {{QStringLiteral("o"), OutputDir},
         QStringLiteral("把MP3写到这个已有的文件夹，给出的文件夹里的子文件夹照样建在它下面；"
                        "不给时每个MP3写在输入文件旁边（用于 --convert）"),
         QStringLiteral("DIR")},
        {Threads,
         QStringLiteral("转换一个文件所用的核心数：0 为全部（默认），1 为整块编码，"
                        "与 lame 命令写出的逐字节相同"),
         QStringLiteral("N")},
        {{QStringLiteral("p"), Pattern},
         QStringLiteral("按标签给出MP3在输出目录下的路径，如 \"{albumartist}/{album}/{track:02} "
                        "{title}\"；字段有 {artist}、{albumartist}、{album}、{title}、{track}、"
                        "{disc}、{genre}、{date}、{filename}（用于 --convert 和 -o）"),
         QStringLiteral("PATTERN")},
        {Existing,
         QStringLiteral("已有同名MP3时：overwrite 替换（默认）、skip 保留、rename 另存为"
                        "“名字 (1).mp3”、update 只在MP3比输入旧时替换（用于 --convert）"),
         QStringLiteral("RULE")},
        {{QStringLiteral("q"), Quiet},
         QStringLiteral("不显示进度；只在有文件未转换或有内容没有放进MP3时把总结写到标准错误"
                        "（用于 --convert）")},
    });
    parser.addPositionalArgument(QStringLiteral("路径"),
                                 QStringLiteral("要转换（或加入列表）的音频文件或文件夹"),
                                 QStringLiteral("[路径...]"));
}

CommandLine usageError(const QString &text)
{
    CommandLine line;
    line.mode = CommandLine::Mode::UsageError;
    line.text = text;
    return line;
}

// A whole number from `low` to `high`, and nothing else ("128k" and "2.5" are refused).
std::optional<int> numberIn(const QString &text, int low, int high)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok && value >= low && value <= high ? std::optional<int>(value) : std::nullopt;
}

// -b, -V or --abr, at most one of them; a usage error's text otherwise.
std::optional<RateChoice> rateOf(const QCommandLineParser &parser, QString *error)
{
    if (int(parser.isSet(BitRate)) + int(parser.isSet(Vbr)) + int(parser.isSet(Abr)) > 1) {
        *error = QStringLiteral("-b、-V 和 --abr 每次只能用其中一个");
        return std::nullopt;
    }
    if (parser.isSet(Vbr)) {
        if (const auto quality = numberIn(parser.value(Vbr), 0, MaxVbrQuality))
            return RateChoice{.mode = Mp3Enc::VariableRate, .vbrQuality = *quality};
        *error = QStringLiteral("-V 需要 0 到 %1 之间的整数，而不是“%2”")
                     .arg(MaxVbrQuality)
                     .arg(parser.value(Vbr));
        return std::nullopt;
    }
    if (parser.isSet(Abr)) {
        if (const auto kbps = numberIn(parser.value(Abr), MinAbrKbps, MaxAbrKbps))
            return RateChoice{.mode = Mp3Enc::AverageRate, .bitRate = *kbps * 1000};
        *error = QStringLiteral("--abr 需要 %1 到 %2 之间的整数（千比特/秒），而不是“%3”")
                     .arg(MinAbrKbps)
                     .arg(MaxAbrKbps)
                     .arg(parser.value(Abr));
        return std::nullopt;
    }
    if (!parser.isSet(BitRate))
        return RateChoice{};
    const auto kbps = numberIn(parser.value(BitRate), ConstantKbps.front(), ConstantKbps.back());
    if (kbps && std::ranges::find(ConstantKbps, *kbps) != ConstantKbps.end())
        return RateChoice{.bitRate = *kbps * 1000};
    *error = QStringLiteral("不支持的比特率“%1”：只能是 %2（千比特/秒）")
                 .arg(parser.value(BitRate), bitRateChoices());
    return std::nullopt;
}

} // namespace

CommandLine ParseCommandLine(const QStringList &arguments, const QString &workingFolder)
{
    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    CommandLine line;
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        line.mode = CommandLine::Mode::Help;
        line.text = parser.helpText();
        return line;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        line.mode = CommandLine::Mode::Version;
        line.text = QCoreApplication::applicationName() + u' ' +
                    QCoreApplication::applicationVersion() + u'\n';
        return line;
    }
    if (parser.isSet(Threads)) {
        bool ok = false;
        line.threads = parser.value(Threads).toInt(&ok);
        if (!ok || line.threads < 0 || line.threads > MaxThreads)
            return usageError(QStringLiteral("--threads 需要 0 到 %1 之间的整数，而不是“%2”")
                                  .arg(MaxThreads)
                                  .arg(parser.value(Threads)));
    }
    line.paths = parser.positionalArguments();
    if (!parser.isSet(Convert)) {
        for (const QString &option : {BitRate, Vbr, Abr, OutputDir, Quiet, Existing, Pattern}) {
            if (parser.isSet(option))
                return usageError(QStringLiteral("-b、-V、--abr、-o、-p、--existing 和 -q 只能与 "
                                                 "--convert 一起使用，例如 batchmp3 --convert -V 2 "
                                                 "文件"));
        }
        return line;
    }
    line.mode = CommandLine::Mode::Convert;
    line.quiet = parser.isSet(Quiet);
    QString rateError;
    const std::optional<RateChoice> rate = rateOf(parser, &rateError);
    if (!rate)
        return usageError(rateError);
    line.options.rate = *rate;
    if (parser.isSet(OutputDir)) {
        const QString given = parser.value(OutputDir);
        const QString folder = given.isEmpty() ? given : rt::absolutePath(given, workingFolder);
        if (folder.isEmpty() || rt::fileKind(folder) != rt::FileKind::Folder)
            return usageError(
                QStringLiteral("输出目录不存在或不是文件夹：%1").arg(rt::displayFileName(given)));
        line.options.outputFolder = folder.endsWith(u'/') ? folder : folder + u'/';
    }
    if (parser.isSet(Existing)) {
        const auto rule =
            std::find_if(std::begin(ExistingRules), std::end(ExistingRules), [&](const auto &r) {
                return parser.value(Existing) == QLatin1String(r.first);
            });
        if (rule == std::end(ExistingRules))
            return usageError(QStringLiteral("--existing 只能是 overwrite、skip、rename 或 update，"
                                             "而不是“%1”")
                                  .arg(parser.value(Existing)));
        line.options.existing = rule->second;
    }
    if (parser.isSet(Pattern)) {
        if (!line.options.outputFolder)
            return usageError(QStringLiteral("-p 需要 -o：名字模板给出的是输出目录下的路径"));
        if (const auto problem = namepattern::Problem(parser.value(Pattern)))
            return usageError(*problem);
        line.options.pattern = parser.value(Pattern);
    }
    if (line.paths.isEmpty())
        return usageError(QStringLiteral("没有给出要转换的文件或文件夹"));
    return line;
}

QStringList DecodedArguments(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(rt::decodeFileName(QByteArray(argv[i])));
    return arguments;
}

bool WithoutWindow(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const char *a = argv[i];
        if (std::strcmp(a, "--") == 0)
            return false;
        for (const char *option :
             {"--convert", "--help", "--help-all", "-h", "-?", "--version", "-v"}) {
            if (std::strcmp(a, option) == 0)
                return true;
        }
        // The terminal's own options: without --convert they are a usage error, told without
        // a window (there may be no display to show one on).
        for (const char *option : {"--bitrate", "--vbr", "--abr", "--output-dir", "--quiet",
                                   "--existing", "--pattern"}) {
            const std::size_t n = std::strlen(option);
            if (std::strncmp(a, option, n) == 0 && (a[n] == '\0' || a[n] == '='))
                return true;
        }
        const bool qtWindowOption = std::strncmp(a, "-qwindow", 8) == 0; // Qt's, not ours
        if (a[0] == '-' && std::strchr("boqV", a[1]) && a[1] != '\0' && !qtWindowOption)
            return true;
        if (std::strcmp(a, "-p") == 0) // "-p…" glued may be Qt's -platform
            return true;
    }
    return false;
}

CommandLine ReadCommandLine(int argc, char **argv)
{
    const CommandLine line = ParseCommandLine(DecodedArguments(argc, argv), rt::currentFolder());
    switch (line.mode) {
    case CommandLine::Mode::Help:
    case CommandLine::Mode::Version:
        std::fputs(line.text.toUtf8().constData(), stdout);
        std::exit(0);
    case CommandLine::Mode::UsageError:
    case CommandLine::Mode::Convert: // answered before the window's start
        std::fprintf(stderr, "batchmp3: %s\n", line.text.toUtf8().constData());
        std::exit(2);
    case CommandLine::Mode::Window:
        break;
    }
    if (line.threads >= 0)
        Mp3Enc::setThreadsOption(line.threads);
    return line;
}
