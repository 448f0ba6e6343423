#include "converter/app/convertmode.h"

#include "converter/app/commandline.h"
#include "converter/app/coverscale.h"
#include "converter/app/qttranslations.h"
#include "converter/app/quitsignals.h"
#include "converter/batch/batchengine.h"
#include "converter/console/consolebatch.h"
#include "converter/console/jsonformatter.h"
#include "converter/console/textformatter.h"
#include "converter/files/audiofiles.h"
#include "converter/startup/components.h"
#include "converter/startup/datafolder.h"
#include "runtime/comerror.h"
#include "runtime/componenthost.h"
#include "runtime/filename.h"
#include "runtime/process.h"
#include "runtime/systemfolder.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <csignal>
#include <cstdio>

namespace {

constexpr int UsageErrorStatus = 2;
constexpr int FailedStatus = 1;

void print(std::FILE *stream, const QString &text)
{
    std::fputs(text.toUtf8().constData(), stream);
    std::fflush(stream);
}

int fail(const QString &text)
{
    print(stderr, QStringLiteral("batchmp3: ") + text + u'\n');
    return FailedStatus;
}

// As a start installs them, but waiting for the registrations instead of showing a window.
bool installComponents(QObject *owner, QString *problem)
{
    rt::FolderProblem folderProblem;
    const QString folder = ComponentFolder(&folderProblem);
    if (folder.isEmpty()) {
        *problem = DataFolderMessage(folderProblem);
        return false;
    }
    const QDeadlineTimer deadline(RegistrationWaitMs);
    for (rt::HiddenProcess *process : InstallComponents(folder, owner))
        process->waitForFinished(int(std::max<qint64>(deadline.remainingTime(), 0)));
    return true;
}

} // namespace

int RunWithoutWindow(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("batchmp3"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BATCHMP3_VERSION_TEXT));
    LoadQtChinese(app); // without them Qt's few texts stay English
    const CommandLine line = ParseCommandLine(DecodedArguments(argc, argv), rt::currentFolder());
    switch (line.mode) {
    case CommandLine::Mode::Help:
    case CommandLine::Mode::Version:
        print(stdout, line.text);
        return 0;
    case CommandLine::Mode::UsageError:
    case CommandLine::Mode::Window:
        print(stderr,
              QStringLiteral("batchmp3: %1\n用 batchmp3 --help 查看用法。\n").arg(line.text));
        return UsageErrorStatus;
    case CommandLine::Mode::Convert:
        break;
    }
    // A file-size limit fails the write it stops (the encoder reports it) instead of killing
    // the program.
    std::signal(SIGXFSZ, SIG_IGN);
    QuitSignals quitSignals;

    QString problem;
    if (!installComponents(&app, &problem))
        return fail(problem);
    rt::ComponentHost mp3(QStringLiteral("Mp3"));
    try {
        mp3.create(Mp3Enc::ClassName);
    } catch (const rt::ComError &error) {
        return fail(QStringLiteral("无法创建编码组件：%1").arg(error.description()));
    }
    // Each setting is what the user asked for: one the encoder refuses ends the run.
    BatchEngine engine(&mp3);
    engine.setCoverScaler(ScaleCover);
    if (const QList<SettingFailure> refused = engine.setOptions(line.options); !refused.isEmpty()) {
        QStringList said;
        for (const SettingFailure &failure : refused)
            said.append(failure.text());
        return fail(QStringLiteral("编码器不接受这些设置：") + said.join(QStringLiteral("；")));
    }

    ConsoleOutput output;
    TextFormatter text(engine, output, line.quiet);
    JsonFormatter json(engine, output);
    ConsoleBatch batch(engine, FilesFromArguments(line.paths, rt::currentFolder()),
                       line.json ? static_cast<BatchFormatter &>(json) : text);
    QObject::connect(&quitSignals, &QuitSignals::received, &batch, &ConsoleBatch::interrupt);
    QObject::connect(&batch, &ConsoleBatch::finished, &app,
                     [](int exitCode) { QCoreApplication::exit(exitCode); });
    QTimer::singleShot(0, &batch, &ConsoleBatch::start);
    return app.exec();
}
