#include "converter/main/msgbox.h"

#include <QMessageBox>

void MsgBox(QWidget *owner, const QString &prompt, int style, const QString &title)
{
    QMessageBox box(owner);
    box.setWindowTitle(title);
    box.setText(prompt);
    box.setStandardButtons(QMessageBox::Ok);
    switch (style) {
    case MsgExclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case MsgInformation:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
    box.exec();
}
