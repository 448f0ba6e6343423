#include "runtime/process.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace rt {

HiddenProcess::HiddenProcess(QObject *parent) : QObject(parent), m_process(new QProcess(this))
{
    m_process->setStandardOutputFile(QProcess::nullDevice());
    m_process->setStandardErrorFile(QProcess::nullDevice());
    m_process->setStandardInputFile(QProcess::nullDevice());
    connect(m_process, &QProcess::finished, this,
            [this](int code, QProcess::ExitStatus) { emit finished(code); });
}

HiddenProcess::~HiddenProcess()
{
    // Not waited for by design, but never left as a zombie of a destroyed object either.
    if (m_process->state() != QProcess::NotRunning)
        m_process->waitForFinished(5000);
}

QString HiddenProcess::locate(const QString &program)
{
    if (QFileInfo(program).isAbsolute())
        return program;
    // Never through PATH: a relative entry there would run whatever the current folder holds.
    const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath(program);
    return QFileInfo(beside).isExecutable() ? beside : QString();
}

bool HiddenProcess::start(const QString &program, const QStringList &arguments)
{
    const QString path = locate(program);
    if (path.isEmpty())
        return false;
    m_process->start(path, arguments, QIODevice::NotOpen);
    return m_process->waitForStarted(5000);
}

bool HiddenProcess::isRunning() const
{
    return m_process->state() != QProcess::NotRunning;
}

bool HiddenProcess::waitForFinished(int msecs)
{
    if (!isRunning())
        return true;
    return m_process->waitForFinished(msecs);
}

int HiddenProcess::exitCode() const
{
    if (m_process->exitStatus() != QProcess::NormalExit)
        return -1;
    return m_process->exitCode();
}

} // namespace rt
