#pragma once

#include <QEventLoop>
#include <QWidget>

// Shows one of the program's own windows modally and returns once it has closed: its close
// event quits `loop`. A window that could not be shown returns at once.
inline void ShowModal(QWidget &window, QEventLoop &loop)
{
    window.setWindowModality(Qt::ApplicationModal);
    window.show();
    window.raise();
    window.activateWindow();
    if (window.isVisible())
        loop.exec(QEventLoop::DialogExec);
}
