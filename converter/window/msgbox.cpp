#include "converter/window/msgbox.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

namespace {

// What a window manager's title bar holds besides the title: the icon, the buttons, margins.
constexpr int TitleBarRoom = 120;

// Qt sizes a message box by its text alone, so a short prompt with a long title would have the
// title cut short; a spacer across the box keeps it at least as wide as the whole title needs.
void makeRoomForTitle(QMessageBox &box, const QString &title)
{
    QFont titleFont = box.font();
    titleFont.setBold(true);
    const int width = QFontMetrics(titleFont).horizontalAdvance(title) + TitleBarRoom;
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout()))
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
}

} // namespace

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
    makeRoomForTitle(box, title);
    box.exec();
}
