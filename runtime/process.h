#pragma once

#include "runtime/export.h"

#include <QObject>
#include <QStringList>

class QProcess;

namespace rt {

// A process started hidden (no window, output discarded) without waiting. The program is given
// by its absolute path or found beside the running executable, never on PATH. Arguments are a list,
// never a command line.
class RT_EXPORT HiddenProcess : public QObject
{
    Q_OBJECT
public:
    explicit HiddenProcess(QObject *parent = nullptr);
    ~HiddenProcess() override;

    bool start(const QString &program, const QStringList &arguments);
    bool isRunning() const;
    // Waits at most `msecs` for the end; true when it has ended.
    bool waitForFinished(int msecs);
    int exitCode() const;

    static QString locate(const QString &program);

signals:
    void finished(int exitCode);

private:
    QProcess *m_process;
};

} // namespace rt
