#include "converter/startup/for0.h"

#include "converter/main/form1.h"
#include "converter/main/installpaths.h"
#include "converter/startup/modres.h"
#include "runtime/comerror.h"
#include "runtime/process.h"

#include <QCoreApplication>
#include <QDir>
#include <QTimer>
#include <cerrno>
#include <cstring>

namespace {

const QString Separator = QStringLiteral("/");
// How long the hand-over waits, at most, for the registrations still running after 2000 ms.
constexpr int RegistrationWaitMs = 15000;

const QString DataFolderText = QStringLiteral("无法创建或写入程序的数据文件夹：\n%1\n原因：%2");

QString reasonText(int errorNumber)
{
    switch (errorNumber) {
    case EACCES:
        return QStringLiteral("没有权限");
    case EPERM:
        return QStringLiteral("文件夹属于其他用户");
    case ENOENT:
        return QStringLiteral("没有这个文件夹");
    case ENOTDIR:
        return QStringLiteral("路径中有一项不是文件夹");
    case EROFS:
        return QStringLiteral("文件系统是只读的");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("磁盘空间不足");
    default:
        return QString::fromLocal8Bit(std::strerror(errorNumber));
    }
}

} // namespace

For0::For0(QWidget *parent) : rt::Form(parent)
{
    setAttribute(Qt::WA_DeleteOnClose);
    m_loader.load(QStringLiteral(":/forms/for0.json"), this);
    auto *timer = m_loader.control<QTimer>(QStringLiteral("Timer1"));
    connect(timer, &QTimer::timeout, this, &For0::Timer1_Timer);
    Form_Load();
}

QString For0::GetSystemPath() const
{
    return rt::systemFolder();
}

QString For0::DataFolderMessage(const rt::FolderProblem &problem)
{
    return DataFolderText.arg(QDir::toNativeSeparators(problem.folder),
                              reasonText(problem.errorNumber));
}

void For0::Form_Load()
{
    // Without a private, writable data folder nothing is written anywhere else: the program
    // says so and ends.
    rt::FolderProblem problem;
    QString folder = rt::systemFolder(&problem);
    if (folder.isEmpty() || rt::registryFolder(&problem).isEmpty()) {
        m_dataFolderProblem = DataFolderMessage(problem);
        return;
    }
    if (!folder.endsWith(Separator))
        folder += Separator;
    QCoreApplication::processEvents();
    WriteResToFile(102, QStringLiteral("CUSTOM"), folder + QStringLiteral("ZTbutton.ocx"));
    WriteResToFile(103, QStringLiteral("CUSTOM"), folder + QStringLiteral("Mp3Enc.ocx"));
    startRegistration(folder + QStringLiteral("ZTbutton.ocx"));
    startRegistration(folder + QStringLiteral("Mp3Enc.ocx"));
}

void For0::startRegistration(const QString &libraryFile)
{
    const QString tool = RegistrationTool(QCoreApplication::applicationDirPath());
    if (tool.isEmpty())
        return;
    auto *process = new rt::HiddenProcess(this);
    if (process->start(tool, {QStringLiteral("/s"), libraryFile}))
        m_registrations.append(process);
    else
        delete process;
}

void For0::Timer1_Timer()
{
    m_loader.control<QTimer>(QStringLiteral("Timer1"))->stop();
    // The window stays on screen, and keeps drawing, while registrations still run.
    for (rt::HiddenProcess *process : std::as_const(m_registrations))
        connect(process, &rt::HiddenProcess::finished, this, &For0::handOverWhenRegistered);
    QTimer::singleShot(RegistrationWaitMs, this, &For0::handOver);
    handOverWhenRegistered();
}

void For0::handOverWhenRegistered()
{
    for (const rt::HiddenProcess *process : std::as_const(m_registrations)) {
        if (process->isRunning())
            return;
    }
    handOver();
}

void For0::handOver()
{
    if (m_handedOver)
        return;
    m_handedOver = true;
    try {
        auto *main = new Form1();
        main->setAttribute(Qt::WA_DeleteOnClose);
        main->show();
        close();
    } catch (const rt::ComError &e) {
        hide();
        emit handOverFailed(e.description());
        close();
    }
}
