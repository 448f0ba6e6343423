// The About window as the window manager sees it (needs an X server; a real window manager,
// openbox, is started for the frame check).

#include "converter/window/form2.h"
#include "tests/converter/formfixture.h"

#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>
#include <xcb/xcb.h>

namespace {

xcb_connection_t *connection()
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(const char *name)
{
    auto *reply = xcb_intern_atom_reply(
        connection(), xcb_intern_atom(connection(), 0, uint16_t(qstrlen(name)), name), nullptr);
    const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    free(reply);
    return result;
}

// A property's 32-bit values; `exists` tells an absent property from an empty one.
QList<quint32> cardinals(WId window, xcb_atom_t property, bool *exists = nullptr)
{
    auto *reply = xcb_get_property_reply(
        connection(),
        xcb_get_property(connection(), 0, xcb_window_t(window), property, XCB_ATOM_ANY, 0, 64),
        nullptr);
    QList<quint32> values;
    if (exists)
        *exists = reply && reply->type != XCB_ATOM_NONE;
    if (reply && reply->format == 32) {
        const auto *data = static_cast<const quint32 *>(xcb_get_property_value(reply));
        for (int i = 0; i < xcb_get_property_value_length(reply) / 4; ++i)
            values.append(data[i]);
    }
    free(reply);
    return values;
}

QByteArray text(WId window, xcb_atom_t property, bool *exists)
{
    auto *reply = xcb_get_property_reply(
        connection(),
        xcb_get_property(connection(), 0, xcb_window_t(window), property, XCB_ATOM_ANY, 0, 256),
        nullptr);
    *exists = reply && reply->type != XCB_ATOM_NONE;
    QByteArray result;
    if (reply)
        result = QByteArray(static_cast<const char *>(xcb_get_property_value(reply)),
                            xcb_get_property_value_length(reply));
    free(reply);
    return result;
}

} // namespace

class TestForm2Frame final : public QObject
{
    Q_OBJECT

    formfixture::Environment m_environment;
    QProcess m_windowManager;

    bool windowManagerRunning()
    {
        const WId root =
            connection() ? xcb_setup_roots_iterator(xcb_get_setup(connection())).data->root : 0;
        return !cardinals(root, atom("_NET_SUPPORTING_WM_CHECK")).isEmpty();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_environment.setUp());
        QVERIFY2(connection(), "needs the X11 platform");
        const QString openbox = QStandardPaths::findExecutable(QStringLiteral("openbox"));
        QVERIFY2(!openbox.isEmpty(), "openbox is not installed (scripts/install-deps.sh)");
        m_windowManager.start(openbox, {QStringLiteral("--sm-disable")});
        QVERIFY(m_windowManager.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(windowManagerRunning(), 10000);
        QTest::qWait(500); // it announces itself before it has finished starting
    }

    void cleanupTestCase()
    {
        m_windowManager.terminate();
        m_windowManager.waitForFinished();
    }

    // A sizing border only: no title bar, no caption text, no window icon; owned by the main
    // window, so it stays above it.
    void borderOnly()
    {
        QWidget owner;
        owner.setWindowIcon(QIcon(QStringLiteral(":/forms/app_32.png")));
        owner.setGeometry(100, 100, 540, 360);
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner, 10000));

        Form2 about(nullptr, &owner);
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about, 10000));
        const WId id = about.winId();

        // MWM_HINTS_DECORATIONS with MWM_DECOR_BORDER alone.
        const QList<quint32> motif = cardinals(id, atom("_MOTIF_WM_HINTS"));
        QCOMPARE(motif.value(0) & 2u, 2u);
        QCOMPARE(motif.value(2), 2u);
        bool exists = false;
        QCOMPARE(text(id, atom("_NET_WM_NAME"), &exists), QByteArray());
        QCOMPARE(text(id, XCB_ATOM_WM_NAME, &exists), QByteArray());
        cardinals(id, atom("_NET_WM_ICON"), &exists);
        QVERIFY(!exists);
        QCOMPARE(cardinals(id, XCB_ATOM_WM_TRANSIENT_FOR).value(0), quint32(owner.winId()));

        // The window manager framed it with an even border and no title bar: left, right,
        // top, bottom all the same.
        QList<quint32> extents;
        QTRY_VERIFY((extents = cardinals(id, atom("_NET_FRAME_EXTENTS"))).size() == 4);
        QVERIFY2(extents[0] == extents[2] && extents[2] == extents[3] && extents[0] <= 4,
                 qPrintable(QStringLiteral("%1 %2 %3 %4")
                                .arg(extents[0])
                                .arg(extents[1])
                                .arg(extents[2])
                                .arg(extents[3])));
        QCOMPARE(about.size(), QSize(357, 230));
    }
};

QTEST_MAIN(TestForm2Frame)
#include "test_form2frame.moc"
