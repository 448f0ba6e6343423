#include "converter/window/for0.h"

#include "converter/startup/components.h"
#include "converter/startup/datafolder.h"
#include "converter/window/form1.h"
#include "runtime/comerror.h"
#include "runtime/process.h"
#include "runtime/systemfolder.h"

#include <QCoreApplication>
#include <QTimer>

For0::For0(const WindowStart &start, QWidget *parent) : rt::Form(parent), m_start(start)
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

void For0::Form_Load()
{
    // Without a private, writable data folder nothing is written anywhere else: the program
    // says so and ends.
    rt::FolderProblem problem;
    const QString folder = ComponentFolder(&problem);
    if (folder.isEmpty()) {
        m_dataFolderProblem = DataFolderMessage(problem);
        return;
    }
    QCoreApplication::processEvents();
    m_registrations = InstallComponents(folder, this);
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
        auto *main = new Form1(m_start);
        main->setAttribute(Qt::WA_DeleteOnClose);
        main->show();
        close();
    } catch (const rt::ComError &e) {
        hide();
        emit handOverFailed(e.description());
        close();
    }
}
