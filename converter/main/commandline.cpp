#include "converter/main/commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace {

QStringList &pendingFiles()
{
    static QStringList files;
    return files;
}

} // namespace

void ReadCommandLine(const QCoreApplication &app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("批量把WAV文件转换为MP3文件。"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("files"),
                                 QStringLiteral("要添加到列表的WAV文件或文件夹"),
                                 QStringLiteral("[files...]"));
    parser.process(app);
    pendingFiles() = parser.positionalArguments();
}

QStringList TakeFileArguments()
{
    return std::exchange(pendingFiles(), {});
}
