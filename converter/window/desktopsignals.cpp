#include "converter/window/desktopsignals.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QVariantMap>
#include <QWidget>

namespace {

const QString NotifyService = QStringLiteral("org.freedesktop.Notifications");
const QString NotifyPath = QStringLiteral("/org/freedesktop/Notifications");
const QString NotifyInterface = QStringLiteral("org.freedesktop.Notifications");
const QString DefaultAction = QStringLiteral("default");

const QString LauncherPath = QStringLiteral("/io/github/zanto/batchmp3");
const QString LauncherInterface = QStringLiteral("com.canonical.Unity.LauncherEntry");

QString desktopEntry()
{
    return QGuiApplication::desktopFileName();
}

} // namespace

DesktopSignals::DesktopSignals(QWidget *window) : QObject(window), m_window(window)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    bus.connect(NotifyService, NotifyPath, NotifyInterface, QStringLiteral("ActionInvoked"), this,
                SLOT(onActionInvoked(uint, QString)));
    bus.connect(NotifyService, NotifyPath, NotifyInterface, QStringLiteral("NotificationClosed"),
                this, SLOT(onNotificationClosed(uint, uint)));
}

void DesktopSignals::notify(const QString &title, const QString &body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(NotifyService, NotifyPath, NotifyInterface,
                                                       QStringLiteral("Notify"));
    QVariantMap hints;
    if (!desktopEntry().isEmpty())
        hints.insert(QStringLiteral("desktop-entry"), desktopEntry());
    call << QStringLiteral("batchmp3") << uint(0) << desktopEntry() << title << body
         << QStringList{DefaultAction, QStringLiteral("显示")} << hints << int(-1);
    // No service, or one that fails: the notification is a courtesy, and its reply is only
    // wanted for the id its action names.
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher *finished) {
                const QDBusPendingReply<uint> reply = *finished;
                if (reply.isValid())
                    m_notification = reply.value();
                finished->deleteLater();
            });
}

void DesktopSignals::onActionInvoked(uint id, const QString &action)
{
    if (id == 0 || id != m_notification || action != DefaultAction)
        return;
    m_window->showNormal();
    m_window->raise();
    m_window->activateWindow();
}

void DesktopSignals::onNotificationClosed(uint id, uint reason)
{
    Q_UNUSED(reason);
    if (id == m_notification)
        m_notification = 0;
}

void DesktopSignals::setProgress(double fraction)
{
    sendLauncherUpdate(fraction, true);
}

void DesktopSignals::hideProgress()
{
    sendLauncherUpdate(0.0, false);
}

void DesktopSignals::sendLauncherUpdate(double fraction, bool visible)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || desktopEntry().isEmpty())
        return;
    QDBusMessage update =
        QDBusMessage::createSignal(LauncherPath, LauncherInterface, QStringLiteral("Update"));
    QVariantMap properties;
    properties.insert(QStringLiteral("progress"), fraction);
    properties.insert(QStringLiteral("progress-visible"), visible);
    update << QStringLiteral("application://") + desktopEntry() + QStringLiteral(".desktop")
           << properties;
    bus.send(update);
}
