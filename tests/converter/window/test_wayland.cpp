// The windows under a Wayland compositor (run by weston-run.sh, headless): each appears and
// works, the main window with a frame, the About window with none but its own border.

#include "converter/window/for0.h"
#include "converter/window/form2.h"
#include "tests/converter/formfixture.h"
#include "tests/converter/modaldriver.h"

#include <QGuiApplication>
#include <QtTest>

using namespace formfixture;

class TestWayland final : public Form1Test
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(QGuiApplication::platformName().startsWith(QLatin1String("wayland")),
                 qPrintable(QGuiApplication::platformName()));
        QVERIFY(m_environment.setUp());
    }
    void init() { openWindow(); }
    void cleanup() { closeWindow(); }

    void startUpWindow()
    {
        For0 splash;
        splash.show();
        QVERIFY(QTest::qWaitForWindowExposed(&splash, 10000));
        splash.close();
    }

    void mainWindowFramed()
    {
        QVERIFY(m_form->isVisible());
        QCOMPARE(m_form->size(), QSize(540, 360));
        // The title bar Qt draws on Wayland, with the window's caption.
        QVERIFY(m_form->frameGeometry().height() > m_form->height());
        QCOMPARE(m_form->windowHandle()->title(), QStringLiteral("batchmp3 Ver 1.30.1"));
    }

    void aboutWindowBorderOnly()
    {
        bool frameless = false, exposed = false, noFrame = false, bordered = false;
        modaldriver::whenModal([&](QWidget *modal) {
            auto *about = qobject_cast<Form2 *>(modal);
            if (!about) {
                modal->close();
                return;
            }
            exposed = QTest::qWaitForWindowExposed(about, 10000);
            frameless = about->windowFlags().testFlag(Qt::FramelessWindowHint);
            noFrame = about->frameGeometry().size() == about->size();
            const QImage image = about->grab().toImage();
            const QRgb dark = about->palette().color(QPalette::Dark).rgb();
            const int w = image.width(), h = image.height();
            bordered = image.pixel(0, h / 2) == dark && image.pixel(w - 1, h / 2) == dark &&
                       image.pixel(w / 2, 0) == dark && image.pixel(w / 2, h - 1) == dark;
            QWidget *ok = about->loader().host(QStringLiteral("ZTbutton1"))->widget();
            QTest::mouseClick(ok, Qt::LeftButton, {}, ok->rect().center());
        });
        clickButton(*m_form, QStringLiteral("ZTbutton4"));
        QVERIFY(modaldriver::waitForNoModal());
        QVERIFY(exposed);
        QVERIFY(frameless);
        QVERIFY(noFrame);
        QVERIFY(bordered);
    }

    void dialogsAndMessages()
    {
        const QString file = touch(path(QStringLiteral("a.wav")));
        addFiles({file}); // through the real file dialog
        QCOMPARE(items(c<rt::ListBox>(QStringLiteral("List1"))).size(), 1);
        clickButton(*m_form, QStringLiteral("ZTbutton5")); // 清 空
        modaldriver::MessageSeen seen;
        modaldriver::answerMessageBox(&seen);
        clickButton(*m_form, QStringLiteral("ZTbutton3")); // nothing to convert
        QVERIFY(modaldriver::waitForNoModal());
        QVERIFY(seen.shown);
    }
};

QTEST_MAIN(TestWayland)
#include "test_wayland.moc"
