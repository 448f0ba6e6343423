#include "converter/dialogs/module1.h"

#include "converter/dialogs/dialogdetails.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

QString BrowseForFolder(QWidget *owner, const QString &title)
{
    QFileDialog dialog(owner, title);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    ShowDetailsInChinese(dialog);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return QString();
    const QString folder = QDir::cleanPath(chosen.first());
    return QFileInfo(folder).isDir() ? folder : QString();
}
