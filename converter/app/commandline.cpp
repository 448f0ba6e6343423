#include "converter/app/commandline.h"

#include "converter/encoder/mp3enc.h"
#include "runtime/filename.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
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
const QString Prune = QStringLiteral("prune");
const QString DryRun = QStringLiteral("dry-run");
const QString Progress = QStringLiteral("progress");
const QString CoverFile = QStringLiteral("cover-file");
const QString CoverSize = QStringLiteral("cover-size");
const QString ReplayGain = QStringLiteral("replaygain");

// --existing's words, as the rules they name.
const std::pair<const char *, ExistingRule> ExistingRules[] = {
    {"overwrite", ExistingRule::Overwrite},
    {"skip", ExistingRule::Skip},
    {"rename", ExistingRule::Rename},
    {"update", ExistingRule::Update},
};
// --replaygain's words.
const std::pair<const char *, ReplayGainTags> ReplayGainChoices[] = {
    {"track", ReplayGainTags::Track},
    {"album", ReplayGainTags::Album},
};
// What a number's text is read as when it is no whole number ("128k", "2.5"): a figure no
// setting takes, so the profile's check names the option.
constexpr int NotANumber = std::numeric_limits<int>::min();

const QString Description =
    QStringLiteral("批量把WAV等音频文件转换为MP3文件。\n"
                   "  batchmp3 [路径...]                打开窗口，把文件和文件夹加入列表\n"
                   "  batchmp3 --convert [选项] 路径... 不开窗口，在终端中转换（无需显示器）\n"
                   "--convert 的退出状态：0 全部转换，1 有文件未转换，2 用法错误，"
                   "130/143/129 被 SIGINT/SIGTERM/SIGHUP 中断。");

void addOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(Description);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {Convert, QStringLiteral("不开窗口，转换给出的文件和文件夹（文件夹连同子文件夹）后退出")},
        {{QStringLiteral("b"), BitRate},
         QStringLiteral("固定比特率（千比特/秒）：%1，默认 %2（用于 --convert）")
             .arg(ConstantKbpsText())
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
        {Prune,
         QStringLiteral("转换后删除输出目录中本程序写出、而输入文件已不在或现在得出另一个名字"
                        "的MP3；写出后被改动过的保留（用于 --convert 和 -o）")},
        {DryRun, QStringLiteral("与 --prune 一起：只列出要删除的文件，不删除")},
        {CoverFile,
         QStringLiteral(
             "在每张专辑的MP3旁写出封面，如 folder.jpg：输入旁的 cover/folder/front 图片，"
             "否则输入内嵌的封面；扩展名按图片的真实类型（用于 --convert 和 -o）"),
         QStringLiteral("NAME")},
        {CoverSize, QStringLiteral("与 --cover-file 一起：宽或高超过 PX 的封面按比例缩小到 PX"),
         QStringLiteral("PX")},
        {Progress,
         QStringLiteral("text 给人看（默认）；json 在标准输出上每行一个JSON对象（用于 --convert）"),
         QStringLiteral("FORMAT")},
        {ReplayGain,
         QStringLiteral("写入 ReplayGain 2.0 标签：track 每个文件自己的增益和峰值，album "
                        "再加专辑的（一个 cue 整轨的曲目，或同一文件夹中专辑艺术家和专辑相同的"
                        "文件）（用于 --convert）"),
         QStringLiteral("track|album")},
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

int numberOf(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok ? value : NotANumber;
}

// kbit/s as bits per second.
qint32 bitsPerSecond(const QString &text)
{
    constexpr int MostKbps = 1000000;
    const int kbps = numberOf(text);
    return kbps >= 0 && kbps <= MostKbps ? kbps * 1000 : NotANumber;
}

// -b, -V or --abr, at most one of them; a usage error's text otherwise.
std::optional<RateChoice> rateOf(const QCommandLineParser &parser, QString *error)
{
    if (int(parser.isSet(BitRate)) + int(parser.isSet(Vbr)) + int(parser.isSet(Abr)) > 1) {
        *error = QStringLiteral("-b、-V 和 --abr 每次只能用其中一个");
        return std::nullopt;
    }
    if (parser.isSet(Vbr))
        return RateChoice{.mode = Mp3Enc::VariableRate, .vbrQuality = numberOf(parser.value(Vbr))};
    if (parser.isSet(Abr))
        return RateChoice{.mode = Mp3Enc::AverageRate, .bitRate = bitsPerSecond(parser.value(Abr))};
    if (parser.isSet(BitRate))
        return RateChoice{.bitRate = bitsPerSecond(parser.value(BitRate))};
    return RateChoice{};
}

// What the profile's check found, in the words of the option that asked for it.
QString optionProblem(const OptionsProblem &problem, const QCommandLineParser &parser)
{
    using Setting = OptionsProblem::Setting;
    const auto instead = [&parser](const QString &option) {
        return QStringLiteral("，而不是“%1”").arg(parser.value(option));
    };
    switch (problem.setting) {
    case Setting::BitRate:
        return QStringLiteral("不支持的比特率“%1”：%2").arg(parser.value(BitRate), problem.reason);
    case Setting::VbrQuality:
        return QStringLiteral("-V ") + problem.reason + instead(Vbr);
    case Setting::AverageRate:
        return QStringLiteral("--abr ") + problem.reason + instead(Abr);
    case Setting::Threads:
        return QStringLiteral("--threads ") + problem.reason + instead(Threads);
    case Setting::OutputFolder:
        return QStringLiteral("输出目录%1：%2")
            .arg(problem.reason, rt::displayFileName(parser.value(OutputDir)));
    case Setting::PatternWithoutFolder:
        return QStringLiteral("-p 需要 -o：") + problem.reason;
    case Setting::PruneWithoutFolder:
        return QStringLiteral("--prune 和 --dry-run 需要 -o：") + problem.reason;
    case Setting::CoverWithoutFolder:
        return QStringLiteral("--cover-file 需要 -o：") + problem.reason;
    case Setting::CoverFile:
        return QStringLiteral("--cover-file ") + problem.reason + instead(CoverFile);
    case Setting::CoverSize:
        return QStringLiteral("--cover-size ") + problem.reason + instead(CoverSize);
    case Setting::Pattern:
        break;
    }
    return problem.reason;
}

// `options` with those of --convert, as a profile not yet checked; a usage error's text
// otherwise.
std::optional<BatchOptions> convertOptions(BatchOptions options, const QCommandLineParser &parser,
                                           const QString &workingFolder, QString *error)
{
    const std::optional<RateChoice> rate = rateOf(parser, error);
    if (!rate)
        return std::nullopt;
    options.rate = *rate;
    if (parser.isSet(OutputDir)) {
        const QString given = parser.value(OutputDir);
        const QString folder = given.isEmpty() ? given : rt::absolutePath(given, workingFolder);
        options.outputFolder = folder.isEmpty() || folder.endsWith(u'/') ? folder : folder + u'/';
    }
    if (parser.isSet(Existing)) {
        const auto rule =
            std::find_if(std::begin(ExistingRules), std::end(ExistingRules), [&](const auto &r) {
                return parser.value(Existing) == QLatin1String(r.first);
            });
        if (rule == std::end(ExistingRules)) {
            *error = QStringLiteral("--existing 只能是 overwrite、skip、rename 或 update，"
                                    "而不是“%1”")
                         .arg(parser.value(Existing));
            return std::nullopt;
        }
        options.existing = rule->second;
    }
    if (parser.isSet(ReplayGain)) {
        const auto choice = std::find_if(
            std::begin(ReplayGainChoices), std::end(ReplayGainChoices),
            [&](const auto &c) { return parser.value(ReplayGain) == QLatin1String(c.first); });
        if (choice == std::end(ReplayGainChoices)) {
            *error = QStringLiteral("--replaygain 只能是 track 或 album，而不是“%1”")
                         .arg(parser.value(ReplayGain));
            return std::nullopt;
        }
        options.replayGain = choice->second;
    }
    options.pattern = parser.value(Pattern);
    options.prune = parser.isSet(Prune) || parser.isSet(DryRun);
    options.dryRun = parser.isSet(DryRun);
    options.coverFile = parser.value(CoverFile);
    if (parser.isSet(CoverSize))
        options.coverSize = numberOf(parser.value(CoverSize));
    return options;
}

// The line with its profile checked, and --convert given something to convert.
CommandLine checked(CommandLine line, const QCommandLineParser &parser)
{
    if (const auto problem = CheckOptions(line.options))
        return usageError(optionProblem(*problem, parser));
    if (line.mode == CommandLine::Mode::Convert && line.paths.isEmpty())
        return usageError(QStringLiteral("没有给出要转换的文件或文件夹"));
    return line;
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
    if (parser.isSet(Threads))
        line.options.threads = numberOf(parser.value(Threads));
    line.paths = parser.positionalArguments();
    if (!parser.isSet(Convert)) {
        for (const QString &option : {BitRate, Vbr, Abr, OutputDir, Quiet, Existing, Pattern, Prune,
                                      DryRun, Progress, CoverFile, CoverSize}) {
            if (parser.isSet(option))
                return usageError(QStringLiteral("-b、-V、--abr、-o、-p、--existing 和 -q 只能与 "
                                                 "--convert 一起使用，例如 batchmp3 --convert -V 2 "
                                                 "文件"));
        }
        if (parser.isSet(ReplayGain))
            return usageError(QStringLiteral("--replaygain 只能与 --convert 一起使用，例如 "
                                             "batchmp3 --convert --replaygain album 文件夹"));
        return checked(line, parser);
    }
    line.mode = CommandLine::Mode::Convert;
    line.quiet = parser.isSet(Quiet);
    if (parser.isSet(Progress)) {
        if (parser.value(Progress) != QLatin1String("json") &&
            parser.value(Progress) != QLatin1String("text"))
            return usageError(QStringLiteral("--progress 只能是 text 或 json，而不是“%1”")
                                  .arg(parser.value(Progress)));
        line.json = parser.value(Progress) == QLatin1String("json");
    }
    QString error;
    const std::optional<BatchOptions> options =
        convertOptions(line.options, parser, workingFolder, &error);
    if (!options)
        return usageError(error);
    line.options = *options;
    return checked(line, parser);
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
                                   "--existing", "--pattern", "--prune", "--dry-run", "--progress",
                                   "--cover-file", "--cover-size", "--replaygain"}) {
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
    return line;
}
