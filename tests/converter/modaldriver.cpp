#include "modaldriver.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <memory>

namespace modaldriver {

namespace {

void poll(std::shared_ptr<QElapsedTimer> clock, QWidget *previous,
          std::function<void(QWidget *)> answer, int timeoutMs)
{
    QWidget *modal = QApplication::activeModalWidget();
    if (modal && modal != previous && modal->isVisible()) {
        answer(modal);
        return;
    }
    if (clock->elapsed() > timeoutMs) {
        qWarning("no modal widget appeared within %d ms", timeoutMs);
        return;
    }
    QTimer::singleShot(10, [=] { poll(clock, previous, answer, timeoutMs); });
}

QString quoted(const QStringList &files)
{
    QStringList parts;
    for (const QString &file : files)
        parts << u'"' + file + u'"';
    return parts.join(u' ');
}

} // namespace

void whenModal(std::function<void(QWidget *)> answer, int timeoutMs)
{
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    // A widget already modal now (for example the window that opens the next one) is not it.
    QWidget *previous = QApplication::activeModalWidget();
    QTimer::singleShot(0, [=] { poll(clock, previous, answer, timeoutMs); });
}

void answerFileDialog(const QStringList &files, QStringList *seen)
{
    whenModal([files, seen](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        if (!dialog) {
            qWarning("expected a file dialog, got %s", modal->metaObject()->className());
            modal->close();
            return;
        }
        if (seen)
            *seen = QStringList{dialog->windowTitle()} + dialog->nameFilters();
        if (files.isEmpty()) {
            dialog->reject();
            return;
        }
        dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))
            ->setText(files.size() == 1 ? files.first() : quoted(files));
        QMetaObject::invokeMethod(dialog, "accept");
    });
}

void answerFolderDialog(const QString &folder, QString *title)
{
    whenModal([folder, title](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        if (!dialog) {
            qWarning("expected a folder dialog, got %s", modal->metaObject()->className());
            modal->close();
            return;
        }
        if (title)
            *title = dialog->windowTitle();
        if (folder.isEmpty()) {
            dialog->reject();
            return;
        }
        dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(folder);
        QMetaObject::invokeMethod(dialog, "accept");
    });
}

void answerMessageBox(MessageSeen *seen)
{
    whenModal([seen](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (!box) {
            qWarning("expected a message box, got %s", modal->metaObject()->className());
            modal->close();
            return;
        }
        seen->text = box->text();
        seen->title = box->windowTitle();
        seen->icon = int(box->icon());
        seen->shown = true;
        box->button(QMessageBox::Ok)->click();
    });
}

bool waitForNoModal(int timeoutMs)
{
    return QTest::qWaitFor([] { return QApplication::activeModalWidget() == nullptr; }, timeoutMs);
}

} // namespace modaldriver
