#pragma once

#include "converter/window/form1.h"
#include "runtime/controls.h"
#include "runtime/formloader.h"

#include <QList>

namespace rt {
class HiddenProcess;
}

// The start-up window: installs and registers the two component libraries, then after its
// first tick hands over to the main window.
class For0 : public rt::Form
{
    Q_OBJECT
public:
    // `start`: what the command line gives the main window it hands over to.
    explicit For0(const WindowStart &start = {}, QWidget *parent = nullptr);

    QString GetSystemPath() const;
    // Set when the program's data folder cannot be had: the message for the user, else "".
    QString dataFolderProblem() const { return m_dataFolderProblem; }

signals:
    // The main window could not be created; the message names what is missing.
    void handOverFailed(const QString &message);

private:
    void Form_Load();
    void Timer1_Timer();
    void handOverWhenRegistered();
    void handOver();

    rt::FormLoader m_loader;
    QList<rt::HiddenProcess *> m_registrations;
    QString m_dataFolderProblem;
    bool m_handedOver = false;
    WindowStart m_start;
};
