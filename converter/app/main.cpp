#include "converter/app/commandline.h"
#include "converter/app/convertmode.h"
#include "converter/app/qttranslations.h"
#include "converter/app/quitsignals.h"
#include "converter/dialogs/dialogdetails.h"
#include "converter/window/for0.h"
#include "runtime/comerror.h"
#include "runtime/filename.h"

#include <QApplication>
#include <QLocale>
#include <QMessageBox>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Started with standard input, output or error closed, the program would hand those numbers to
// the first files and sockets it opens, and write its messages into them.
void keepStandardDescriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}

int failWithMessage(const QString &text, const QString &logged)
{
    std::fprintf(stderr, "batchmp3: %s\n", qPrintable(logged));
    QMessageBox box(QMessageBox::Critical, QStringLiteral("batchmp3"), text, QMessageBox::Ok);
    box.exec();
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    keepStandardDescriptors();
    // A reader that goes away (`| head`) makes a write fail, which the program handles, instead
    // of killing it mid-file.
    std::signal(SIGPIPE, SIG_IGN);
    // Without $HOME, Qt would take the file system's root for the user's folders.
    rt::ensureHomeVariable();
    KeepNoSettings();
    // Converting from a terminal, help and the version need no display.
    if (WithoutWindow(argc, argv))
        return RunWithoutWindow(argc, argv);
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        // Qt would abort; say what is missing, and what works without a display.
        std::fputs("batchmp3: 没有可用的显示器（DISPLAY 和 WAYLAND_DISPLAY 都没有设置）；"
                   "不开窗口在终端中转换请用 batchmp3 --convert\n",
                   stderr);
        return 1;
    }
    QApplication app(argc, argv);
    // Dates, sizes and the file types Qt describes, Chinese like every text of the program.
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    QApplication::setApplicationName(QStringLiteral("batchmp3"));
    QApplication::setApplicationVersion(QStringLiteral(BATCHMP3_VERSION_TEXT));
    if (!LoadQtChinese(app))
        std::fprintf(stderr, "batchmp3: Qt's Chinese translations are not installed\n");
    QGuiApplication::setDesktopFileName(QStringLiteral(BATCHMP3_APP_ID));
    const CommandLine line = ReadCommandLine(argc, argv); // what QApplication left of them
    // A file-size limit fails the write it stops (the encoder reports it) instead of killing
    // the program.
    std::signal(SIGXFSZ, SIG_IGN);
    // Logout, shutdown and Ctrl+C end the program as closing its window does: the encoder is
    // stopped and its unfinished output removed.
    QuitSignals quitSignals;
    QObject::connect(&quitSignals, &QuitSignals::received, [] {
        QApplication::closeAllWindows();
        QCoreApplication::exit(0);
    });

    For0 *splash = nullptr;
    try {
        splash = new For0(WindowStart{line.paths, line.options.threads});
    } catch (const rt::ComError &e) {
        std::fprintf(stderr, "batchmp3: %s\n", qPrintable(e.description()));
        return 1;
    }
    if (!splash->dataFolderProblem().isEmpty())
        return failWithMessage(splash->dataFolderProblem(), splash->dataFolderProblem());
    QObject::connect(splash, &For0::handOverFailed, [](const QString &missing) {
        const QString text = QStringLiteral("主窗口无法创建，缺少可用的组件：\n%1").arg(missing);
        QCoreApplication::exit(failWithMessage(text, missing));
    });
    splash->show();
    return app.exec();
}
