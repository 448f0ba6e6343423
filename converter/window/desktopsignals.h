#pragma once

#include <QObject>
#include <QString>

class QWidget;

// What the desktop hears of a batch over the session bus: a notification when it ends (its
// default action raises `window`), and its progress on the launcher's icon for the program's
// desktop file. Calls never wait for an answer; with no session bus or no service nothing
// happens and nothing is said.
class DesktopSignals : public QObject
{
    Q_OBJECT
public:
    explicit DesktopSignals(QWidget *window);

    void notify(const QString &title, const QString &body);
    // 0 to 1 over the whole batch, shown on the icon.
    void setProgress(double fraction);
    void hideProgress();

private slots:
    void onActionInvoked(uint id, const QString &action);
    void onNotificationClosed(uint id, uint reason);

private:
    void sendLauncherUpdate(double fraction, bool visible);

    QWidget *m_window;
    uint m_notification = 0; // the id of the last notification sent, 0 for none
};
