#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

// Answers the modal dialogs and message boxes that the code under test opens, the way a user
// would, from inside their event loop.
namespace modaldriver {

// Runs `answer` on the next modal widget once it is shown. Fails the test (QFAIL-style warning
// and the dialog left to time out) when none appears within `timeoutMs`.
void whenModal(std::function<void(QWidget *)> answer, int timeoutMs = 10000);

// Chooses `files` (absolute paths) in the next open-file dialog; an empty list cancels it.
// `seen` receives the dialog's title and name filters when given.
void answerFileDialog(const QStringList &files, QStringList *seen = nullptr);
// Chooses `folder` in the next folder browser; an empty folder cancels it.
void answerFolderDialog(const QString &folder, QString *title = nullptr);
// Closes the next message box with OK, recording its text, title and icon.
struct MessageSeen
{
    QString text;
    QString title;
    int icon = -1; // QMessageBox::Icon
    bool shown = false;
};
void answerMessageBox(MessageSeen *seen);

// Waits until no modal widget is open (all answers given); false on timeout.
bool waitForNoModal(int timeoutMs = 10000);

} // namespace modaldriver
