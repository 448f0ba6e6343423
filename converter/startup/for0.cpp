#include "converter/startup/for0.h"

#include "converter/main/form1.h"
#include "converter/startup/modres.h"
#include "runtime/comerror.h"
#include "runtime/process.h"
#include "runtime/systemfolder.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

namespace {

const QString Separator = QStringLiteral("/");
// How long the hand-over waits, at most, for the registrations still running after 2000 ms.
constexpr int RegistrationWaitMs = 15000;

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

void For0::Form_Load()
{
    QString folder = GetSystemPath();
    // Without a writable system folder nothing is written anywhere else; the hand-over then
    // reports the components as missing.
    if (folder.isEmpty())
        return;
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
    auto *process = new rt::HiddenProcess(this);
    if (process->start(QStringLiteral("regsvr32"), {QStringLiteral("/s"), libraryFile}))
        m_registrations.append(process);
    else
        delete process;
}

void For0::Timer1_Timer()
{
    m_loader.control<QTimer>(QStringLiteral("Timer1"))->stop();
    hide();
    const QDeadlineTimer deadline(RegistrationWaitMs);
    for (rt::HiddenProcess *process : std::as_const(m_registrations))
        process->waitForFinished(int(qMax<qint64>(0, deadline.remainingTime())));

    try {
        auto *main = new Form1();
        main->setAttribute(Qt::WA_DeleteOnClose);
        main->show();
        close();
    } catch (const rt::ComError &e) {
        emit handOverFailed(e.description());
        close();
    }
}
