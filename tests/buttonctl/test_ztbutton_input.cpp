// Keys, mouse, focus and the Enabled gate, driven as the platform delivers them.

#include "tests/buttonctl/buttonfixture.h"
#include "tests/support/testsupport.h"

#include <QAccessible>
#include <QWidget>
#include <QtTest>

using namespace buttontest;

namespace {

// Ring 1 top of style 1 in the pressed and in the focused look.
constexpr quint32 PressedRing1Top = 0xC1CCD1;
constexpr quint32 FocusRing1Top = 0xFFE7CE;
constexpr quint32 DisabledBorder = 0xBAC7C9;

quint32 ring1Top(rt::Control &button)
{
    const QImage image = surface(button);
    return bgrAt(image, image.width() / 2, 1);
}

} // namespace

class TestZTbuttonInput final : public HostedButtonTest
{
    Q_OBJECT

private:
    QPoint centre() const { return m_widget->rect().center(); }

private slots:
    void initTestCase() { QVERIFY(registerButtonLibrary()); }

    void init()
    {
        m_window = std::make_unique<QWidget>();
        m_window->resize(300, 200);
        m_site = std::make_unique<TestSite>();
        m_button = newButton(*m_site, 116, 45);
        m_widget = m_button->widget();
        m_widget->setParent(m_window.get());
        m_widget->move(20, 20);
        m_button->putProperty(Caption, QString()); // keep the frame rows free of text
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        m_site->clear();
    }

    void cleanup() { release(); }

    void enterClicks()
    {
        QTest::keyClick(m_widget, Qt::Key_Return);
        QCOMPARE(m_site->ids(), (QList<rt::DispId>{KeyDown, KeyPress, Click, KeyUp}));
        QCOMPARE(m_site->events[0].args, (QVariantList{qint16(13), qint16(0)}));
        QCOMPARE(m_site->events[1].args.value(0).toInt(), 13);
        QVERIFY(ring1Top(*m_button) != PressedRing1Top); // Enter never shows the pressed look
    }

    // The Enabled test is made once per key: a host that disables the button in its KeyPress
    // handler (as the converter does when a batch starts) still gets the Click for Enter.
    void enterClicksWhenKeyPressDisables()
    {
        m_site->handler = [&](rt::DispId id, QVariantList &) {
            if (id == KeyPress)
                m_button->putProperty(Enabled, false);
        };
        QTest::keyClick(m_widget, Qt::Key_Return);
        QCOMPARE(m_site->ids(), (QList<rt::DispId>{KeyDown, KeyPress, Click}));
    }

    // KeyCode is the virtual-key code of the key, not Qt's code or the character typed.
    void keyCodes_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("keyCode");
        QTest::addColumn<int>("shift");
        const int none = Qt::NoModifier, shift = Qt::ShiftModifier, pad = Qt::KeypadModifier;
        QTest::newRow("A") << int(Qt::Key_A) << none << 0x41 << 0;
        QTest::newRow("7") << int(Qt::Key_7) << none << 0x37 << 0;
        QTest::newRow("F5") << int(Qt::Key_F5) << none << 0x74 << 0;
        QTest::newRow("Insert") << int(Qt::Key_Insert) << none << 45 << 0;
        QTest::newRow("Delete") << int(Qt::Key_Delete) << none << 46 << 0;
        QTest::newRow("-") << int(Qt::Key_Minus) << none << 0xBD << 0;
        QTest::newRow("_") << int(Qt::Key_Underscore) << shift << 0xBD << 1;
        QTest::newRow(".") << int(Qt::Key_Period) << none << 0xBE << 0;
        QTest::newRow(",") << int(Qt::Key_Comma) << none << 0xBC << 0;
        QTest::newRow("=") << int(Qt::Key_Equal) << none << 0xBB << 0;
        QTest::newRow("+") << int(Qt::Key_Plus) << shift << 0xBB << 1;
        QTest::newRow(";") << int(Qt::Key_Semicolon) << none << 0xBA << 0;
        QTest::newRow("/") << int(Qt::Key_Slash) << none << 0xBF << 0;
        QTest::newRow("`") << int(Qt::Key_QuoteLeft) << none << 0xC0 << 0;
        QTest::newRow("[") << int(Qt::Key_BracketLeft) << none << 0xDB << 0;
        QTest::newRow("\\") << int(Qt::Key_Backslash) << none << 0xDC << 0;
        QTest::newRow("]") << int(Qt::Key_BracketRight) << none << 0xDD << 0;
        QTest::newRow("'") << int(Qt::Key_Apostrophe) << none << 0xDE << 0;
        QTest::newRow("!") << int(Qt::Key_Exclam) << shift << 0x31 << 1;
        QTest::newRow("(") << int(Qt::Key_ParenLeft) << shift << 0x39 << 1;
        QTest::newRow(")") << int(Qt::Key_ParenRight) << shift << 0x30 << 1;
        QTest::newRow("*") << int(Qt::Key_Asterisk) << shift << 0x38 << 1;
        QTest::newRow("keypad 0") << int(Qt::Key_0) << pad << 0x60 << 0;
        QTest::newRow("keypad 9") << int(Qt::Key_9) << pad << 0x69 << 0;
        QTest::newRow("keypad *") << int(Qt::Key_Asterisk) << pad << 0x6A << 0;
        QTest::newRow("keypad +") << int(Qt::Key_Plus) << pad << 0x6B << 0;
        QTest::newRow("keypad -") << int(Qt::Key_Minus) << pad << 0x6D << 0;
        QTest::newRow("keypad .") << int(Qt::Key_Period) << pad << 0x6E << 0;
        QTest::newRow("keypad /") << int(Qt::Key_Slash) << pad << 0x6F << 0;
        QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << pad << 13 << 0;
        QTest::newRow("keypad Home") << int(Qt::Key_Home) << pad << 36 << 0;
    }

    void keyCodes()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(int, keyCode);
        QFETCH(int, shift);
        const auto mods = Qt::KeyboardModifiers(modifiers);
        QTest::keyPress(m_widget, Qt::Key(key), mods);
        QTest::keyRelease(m_widget, Qt::Key(key), mods);
        // QTest also presses and releases Shift (16) around the key: leave those out.
        QList<QVariantList> keys;
        for (const Raised &e : std::as_const(m_site->events)) {
            if ((e.id == KeyDown || e.id == KeyUp) && e.args.value(0).toInt() != 16)
                keys.append(e.args);
        }
        const QVariantList expected{qint16(keyCode), qint16(shift)};
        QCOMPARE(keys, (QList<QVariantList>{expected, expected}));
    }

    // What a screen reader gets: a push button named by its trimmed caption (or the name its
    // host gave it), its Enabled as its state, and a press that is Enter's, event for event.
    void accessible_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("givenName");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("name");
        QTest::newRow("caption, blanks trimmed") << "  开始转换  "
                                                 << "" << true << "开始转换";
        QTest::newRow("icon only, named by the host")
            << ""
            << "选择MP3输出目录" << true << "选择MP3输出目录";
        QTest::newRow("disabled") << "添加"
                                  << "" << false << "添加";
    }
    void accessible()
    {
        QFETCH(QString, caption);
        QFETCH(QString, givenName);
        QFETCH(bool, enabled);
        QFETCH(QString, name);
        m_button->putProperty(Caption, caption);
        m_button->putProperty(Enabled, enabled);
        m_widget->setAccessibleName(givenName);
        m_site->clear();
        QAccessibleInterface *face = QAccessible::queryAccessibleInterface(m_widget);
        QVERIFY(face);
        QCOMPARE(face->role(), QAccessible::Button);
        QCOMPARE(face->text(QAccessible::Name), name);
        QCOMPARE(face->state().disabled, !enabled);
        QCOMPARE(face->state().focusable, enabled);
        QCOMPARE(m_widget->focusPolicy(), Qt::StrongFocus); // the window takes the focus anyway
        QAccessibleActionInterface *actions = face->actionInterface();
        QVERIFY(actions);
        QCOMPARE(actions->actionNames().contains(QAccessibleActionInterface::pressAction()),
                 enabled);
        actions->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(m_site->ids(), QList<rt::DispId>{}); // once the reader has its answer
        QCoreApplication::processEvents();
        QCOMPARE(m_site->ids(), enabled ? (QList<rt::DispId>{KeyDown, KeyPress, Click, KeyUp})
                                        : QList<rt::DispId>{});
        if (enabled) {
            QTest::keyPress(m_widget, Qt::Key_Space); // the pressed look, reported
            QVERIFY(face->state().pressed);
            QTest::keyRelease(m_widget, Qt::Key_Space);
            QVERIFY(!face->state().pressed);
        }
    }

    void spaceOnlyPresses()
    {
        QTest::keyPress(m_widget, Qt::Key_Space);
        QCOMPARE(m_site->ids(), (QList<rt::DispId>{KeyDown, KeyPress}));
        QCOMPARE(m_site->events[0].args, (QVariantList{qint16(32), qint16(0)}));
        QCOMPARE(m_site->events[1].args.value(0).toInt(), 32);
        QCOMPARE(ring1Top(*m_button), PressedRing1Top);
        QTest::keyRelease(m_widget, Qt::Key_Space);
        QCOMPARE(m_site->ids(), (QList<rt::DispId>{KeyDown, KeyPress, KeyUp}));
        QVERIFY(ring1Top(*m_button) != PressedRing1Top);
    }

    void leftMousePressesAndClicks()
    {
        const QPoint at(30, 12);
        QTest::mousePress(m_widget, Qt::LeftButton, Qt::NoModifier, at);
        QCOMPARE(m_site->ids(), QList<rt::DispId>{MouseDown});
        QCOMPARE(m_site->events[0].args,
                 (QVariantList{qint16(1), qint16(0), float(at.x()), float(at.y())}));
        QCOMPARE(ring1Top(*m_button), PressedRing1Top);
        QTest::mouseRelease(m_widget, Qt::LeftButton, Qt::NoModifier, at);
        QCOMPARE(m_site->ids(), (QList<rt::DispId>{MouseDown, MouseUp, Click}));
        QVERIFY(ring1Top(*m_button) != PressedRing1Top);
    }

    void releaseOutsideDoesNotClick()
    {
        QTest::mousePress(m_widget, Qt::LeftButton, Qt::NoModifier, centre());
        QTest::mouseRelease(m_widget, Qt::LeftButton, Qt::NoModifier, QPoint(200, 100));
        QCOMPARE(m_site->ids(), (QList<rt::DispId>{MouseDown, MouseUp}));
        QVERIFY(ring1Top(*m_button) != PressedRing1Top);
    }

    void rightButtonDoesNotPress()
    {
        QTest::mousePress(m_widget, Qt::RightButton, Qt::NoModifier, centre());
        QCOMPARE(m_site->events.value(0).args.value(0).toInt(), 2);
        QVERIFY(ring1Top(*m_button) != PressedRing1Top);
        QTest::mouseRelease(m_widget, Qt::RightButton, Qt::NoModifier, centre());
        QCOMPARE(m_site->ids(), (QList<rt::DispId>{MouseDown, MouseUp}));
    }

    void doubleClick()
    {
        // As the platform reports it: press, release, double click, release.
        QTest::mouseClick(m_widget, Qt::LeftButton, Qt::ControlModifier, centre());
        QTest::mouseDClick(m_widget, Qt::LeftButton, Qt::ControlModifier, centre());
        QTest::mouseRelease(m_widget, Qt::LeftButton, Qt::ControlModifier, centre());
        QCOMPARE(m_site->ids(),
                 (QList<rt::DispId>{MouseDown, MouseUp, Click, DoubleClick, MouseUp}));
        QCOMPARE(m_site->events[0].args.value(1).toInt(), 2); // the Ctrl bit of Shift
        QVERIFY(ring1Top(*m_button) != PressedRing1Top);
    }

    // The host's handler changes a by-reference argument; the button acts on what it gets back.
    void hostChangesArguments_data()
    {
        QTest::addColumn<int>("event");
        QTest::addColumn<int>("newValue");
        QTest::addColumn<int>("input"); // 0 Space down, 1 Enter, 2 left press, 3 right press
        QTest::addColumn<bool>("pressed");
        QTest::addColumn<bool>("clicked");
        QTest::newRow("KeyCode 0 hides Space") << int(KeyDown) << 0 << 0 << false << false;
        QTest::newRow("KeyCode 32 from Enter") << int(KeyDown) << 32 << 1 << true << true;
        QTest::newRow("KeyAscii 0 stops Enter") << int(KeyPress) << 0 << 1 << false << false;
        QTest::newRow("KeyAscii 13 from Space") << int(KeyPress) << 13 << 0 << true << true;
        QTest::newRow("Button 2 from left") << int(MouseDown) << 2 << 2 << false << false;
        QTest::newRow("Button 1 from right") << int(MouseDown) << 1 << 3 << true << false;
    }

    void hostChangesArguments()
    {
        QFETCH(int, event);
        QFETCH(int, newValue);
        QFETCH(int, input);
        QFETCH(bool, pressed);
        QFETCH(bool, clicked);
        m_site->handler = [&](rt::DispId id, QVariantList &args) {
            if (id == event)
                args[0] = newValue;
        };
        switch (input) {
        case 0:
            QTest::keyPress(m_widget, Qt::Key_Space);
            break;
        case 1:
            QTest::keyPress(m_widget, Qt::Key_Return);
            break;
        case 2:
            QTest::mousePress(m_widget, Qt::LeftButton, Qt::NoModifier, centre());
            break;
        case 3:
            QTest::mousePress(m_widget, Qt::RightButton, Qt::NoModifier, centre());
            break;
        }
        QCOMPARE(ring1Top(*m_button) == PressedRing1Top, pressed);
        QCOMPARE(m_site->count(Click), clicked ? 1 : 0);
    }

    void disabledRaisesNothing()
    {
        m_widget->clearFocus(); // the window gave it the focus when it was shown
        QVERIFY(ring1Top(*m_button) != FocusRing1Top);
        m_button->putProperty(Enabled, false);
        m_site->clear();
        QTest::keyClick(m_widget, Qt::Key_Return);
        QTest::keyPress(m_widget, Qt::Key_Space);
        QTest::mousePress(m_widget, Qt::LeftButton, Qt::NoModifier, centre());
        QTest::mouseMove(m_widget, centre() + QPoint(3, 1));
        QTest::mouseRelease(m_widget, Qt::LeftButton, Qt::NoModifier, centre());
        QTest::mouseDClick(m_widget, Qt::LeftButton, Qt::NoModifier, centre());
        m_window->activateWindow();
        m_widget->setFocus();
        QCoreApplication::processEvents();
        QVERIFY2(m_site->events.isEmpty(), qPrintable(QString::number(m_site->events.size())));
        QCOMPARE(bgrAt(surface(*m_button), 58, 0), DisabledBorder);

        // No flag moved: enabled again, the button is neither pressed nor focused.
        m_widget->clearFocus();
        m_button->putProperty(Enabled, true);
        const quint32 top = ring1Top(*m_button);
        QVERIFY2(top != PressedRing1Top && top != FocusRing1Top,
                 qPrintable(QString::number(top, 16)));

        // Paint still redraws while disabled: a new size gets the whole disabled look.
        m_button->putProperty(Enabled, false);
        m_widget->resize(90, 22);
        QCoreApplication::processEvents();
        const QImage image = surface(*m_button);
        QCOMPARE(image.size(), QSize(90, 22));
        QCOMPARE(bgrAt(image, 88, 11), DisabledBorder);
        QCOMPARE(bgrAt(image, 45, 20), DisabledBorder);
    }

    void focusLook()
    {
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        m_widget->setFocus();
        QTRY_COMPARE(ring1Top(*m_button), FocusRing1Top);
        m_widget->clearFocus();
        QTRY_VERIFY(ring1Top(*m_button) != FocusRing1Top);

        // A focus lost while disabled goes unnoticed until the next focus change.
        m_widget->setFocus();
        QTRY_COMPARE(ring1Top(*m_button), FocusRing1Top);
        m_button->putProperty(Enabled, false);
        m_widget->clearFocus();
        m_button->putProperty(Enabled, true);
        QCOMPARE(ring1Top(*m_button), FocusRing1Top);
        QVERIFY(m_site->events.isEmpty());
    }
};

QTEST_MAIN(TestZTbuttonInput)
#include "test_ztbutton_input.moc"
