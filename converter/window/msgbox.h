#pragma once

#include <QString>

class QWidget;

// The application's title, carried by every message that has none of its own.
inline const QString AppTitle = QStringLiteral("batchmp3");

// Message box styles as the window logic writes them.
enum MsgBoxStyle : int
{
    MsgOkOnly = 0,
    MsgExclamation = 48,
    MsgInformation = 64
};

// Shows a modal message with an OK button and waits until it is closed.
void MsgBox(QWidget *owner, const QString &prompt, int style, const QString &title = AppTitle);
