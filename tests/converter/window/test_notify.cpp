// What the desktop hears of a batch, on a private session bus (the test runs under
// dbus-run-session): a stand-in notification service, on a connection of its own, takes the
// Notify calls and hears the launcher's Update signals, as a desktop's would.
#include "converter/window/form1.h"
#include "tests/converter/formfixture.h"
#include "tests/converter/modaldriver.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QGuiApplication>
#include <QtTest>

using namespace formfixture;
using modaldriver::MessageSeen;

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString DesktopFile = QStringLiteral("io.github.zanto.batchmp3");

struct LauncherUpdate
{
    QString uri;
    double progress = -1;
    bool visible = false;
};

} // namespace

// The desktop's side: what it was told, and a way to answer a notification as a click does.
class StandIn : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QList<QStringList> notified; // summary, body, first action
    QList<LauncherUpdate> updates;

public slots:
    uint Notify(const QString &, uint, const QString &, const QString &summary, const QString &body,
                const QStringList &actions, const QVariantMap &, int)
    {
        notified.append({summary, body, actions.value(0)});
        return uint(notified.size());
    }
    QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }
    void Update(const QString &uri, const QVariantMap &properties)
    {
        updates.append({uri, properties.value(QStringLiteral("progress")).toDouble(),
                        properties.value(QStringLiteral("progress-visible")).toBool()});
    }
};

class TestNotify final : public Form1Test
{
    Q_OBJECT

    QDBusConnection bus() const { return QDBusConnection(QStringLiteral("stand-in")); }

    // Every message the program sent before this call has reached the stand-in: the bus keeps
    // one sender's messages in order.
    void reachedStandIn()
    {
        QDBusMessage ping = QDBusMessage::createMethodCall(
            bus().baseService(), Path, QStringLiteral("org.freedesktop.DBus.Peer"),
            QStringLiteral("Ping"));
        QDBusPendingCallWatcher watcher(QDBusConnection::sessionBus().asyncCall(ping));
        QSignalSpy answered(&watcher, &QDBusPendingCallWatcher::finished);
        QVERIFY(answered.wait(10000));
    }

    // Converts two files; with `elsewhere`, that window is the active one meanwhile.
    void convertTwo(QWidget *elsewhere = nullptr)
    {
        const QStringList inputs = {path(QStringLiteral("a.wav")), path(QStringLiteral("b.wav"))};
        QVERIFY(testsupport::writeWav(inputs[0], 44100 * 3));
        QVERIFY(testsupport::writeWav(inputs[1], 44100));
        addFiles(inputs);
        if (elsewhere) {
            elsewhere->show();
            elsewhere->activateWindow();
            QTRY_VERIFY(elsewhere->isActiveWindow());
        } else {
            m_form->activateWindow(); // back from the file dialog
            QTRY_VERIFY(m_form->isActiveWindow());
        }
        MessageSeen done;
        modaldriver::answerMessageBox(&done);
        clickButton(*m_form, QStringLiteral("ZTbutton3"));
        QTRY_VERIFY_WITH_TIMEOUT(done.shown, 120000);
        QVERIFY(modaldriver::waitForNoModal());
        QCOMPARE(done.title, QStringLiteral("完成"));
        reachedStandIn();
    }

    StandIn m_standIn;

private slots:
    void initTestCase()
    {
        QVERIFY(QDBusConnection::sessionBus().isConnected());
        QGuiApplication::setDesktopFileName(DesktopFile);
        QDBusConnection standIn =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("stand-in"));
        QVERIFY(standIn.registerObject(Path, &m_standIn, QDBusConnection::ExportAllSlots));
        QVERIFY(standIn.registerService(Service));
        QVERIFY(standIn.connect({}, {}, QStringLiteral("com.canonical.Unity.LauncherEntry"),
                                QStringLiteral("Update"), &m_standIn,
                                SLOT(Update(QString, QVariantMap))));
        QVERIFY(m_environment.setUp());
    }
    void init()
    {
        m_standIn.notified.clear();
        m_standIn.updates.clear();
        openWindow();
    }
    void cleanup() { closeWindow(); }

    // The user is elsewhere: one notification, and a click on it brings the window back.
    void notifiedWhenInactive()
    {
        QWidget elsewhere;
        convertTwo(&elsewhere);
        QCOMPARE(m_standIn.notified.size(), 1);
        QCOMPARE(m_standIn.notified[0][0], QStringLiteral("完成"));
        QCOMPARE(m_standIn.notified[0][1],
                 QStringLiteral("祝贺，转换已全部完成.\n共2个文件，已转换2个"));
        QCOMPARE(m_standIn.notified[0][2], QStringLiteral("default"));
        elsewhere.activateWindow();
        QTRY_VERIFY(!m_form->isActiveWindow());
        bus().send(QDBusMessage::createSignal(Path, Service, QStringLiteral("ActionInvoked"))
                   << uint(1) << QStringLiteral("default"));
        QTRY_VERIFY(m_form->isActiveWindow());
    }

    // The user is looking: no notification; the launcher's bar rises from 0 to 1 over the batch
    // and is hidden at its end.
    void launcherProgressWhileActive()
    {
        convertTwo();
        QCOMPARE(m_standIn.notified.size(), 0);
        const QList<LauncherUpdate> &seen = m_standIn.updates;
        QVERIFY(seen.size() >= 3);
        QCOMPARE(seen.first().progress, 0.0);
        QVERIFY(seen.first().visible);
        for (qsizetype k = 1; k + 1 < seen.size(); ++k) {
            QVERIFY2(seen[k].progress >= seen[k - 1].progress, qPrintable(QString::number(k)));
            QVERIFY(seen[k].visible);
        }
        QCOMPARE(seen[seen.size() - 2].progress, 1.0);
        QVERIFY(!seen.last().visible);
        for (const LauncherUpdate &update : seen)
            QCOMPARE(update.uri,
                     QStringLiteral("application://") + DesktopFile + QStringLiteral(".desktop"));
    }
};

QTEST_MAIN(TestNotify)
#include "test_notify.moc"
