#include "converter/main/commandline.h"

#include "converter/encoder/mp3enc.h"
#include "runtime/filename.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace {

QStringList &pendingFiles()
{
    static QStringList files;
    return files;
}

} // namespace

void ReadCommandLine(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(rt::decodeFileName(QByteArray(argv[i])));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("批量把WAV文件转换为MP3文件。"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption threads(QStringLiteral("threads"),
                                     QStringLiteral("Cores one file is encoded on: 0 all (the "
                                                    "default), 1 one piece as the lame command "
                                                    "writes it."),
                                     QStringLiteral("N"));
    parser.addOption(threads);
    parser.addPositionalArgument(QStringLiteral("files"),
                                 QStringLiteral("要添加到列表的WAV文件或文件夹"),
                                 QStringLiteral("[files...]"));
    parser.process(arguments);
    if (parser.isSet(threads)) {
        bool ok = false;
        const int n = parser.value(threads).toInt(&ok);
        if (!ok || n < 0 || n > 256) {
            std::fprintf(stderr, "batchmp3: --threads needs a number from 0 to 256\n");
            std::exit(2);
        }
        Mp3Enc::setThreadsOption(n);
    }
    pendingFiles() = parser.positionalArguments();
}

QStringList TakeFileArguments()
{
    return std::exchange(pendingFiles(), {});
}
