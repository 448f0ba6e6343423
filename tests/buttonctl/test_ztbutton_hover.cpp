// The hover check with the real 50 ms timer and a real cursor (needs an X server).

#include "tests/buttonctl/buttonfixture.h"
#include "tests/support/testsupport.h"

#include <QApplication>
#include <QCursor>
#include <QWidget>
#include <QtTest>

using namespace buttontest;

class TestZTbuttonHover final : public HostedButtonTest
{
    Q_OBJECT

private:
    void place(bool userMode, int rounded = 5)
    {
        m_window = std::make_unique<QWidget>();
        m_window->setGeometry(100, 100, 300, 200);
        m_site = std::make_unique<TestSite>();
        m_site->running = userMode;
        m_button = createButton(*m_site);
        m_widget = m_button->widget();
        m_widget->setParent(m_window.get());
        m_widget->setGeometry(20, 20, 116, 45);
        m_button->initNew();
        m_button->putProperty(RoundedValue, rounded);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QCursor::setPos(QPoint(5, 5)); // off the window
        QTRY_COMPARE(QCursor::pos(), QPoint(5, 5));
        if (userMode)
            QVERIFY(waitForHoverChecks(m_widget)); // it has seen the cursor away
        m_site->clear();
    }

    QPoint centre() const { return m_widget->mapToGlobal(m_widget->rect().center()); }

    // Moves the cursor and, where the hover check runs, waits until it has seen it there.
    void moveTo(const QPoint &global)
    {
        QCursor::setPos(global);
        QTRY_COMPARE(QCursor::pos(), global);
        if (hoverCheck(m_widget)->isActive())
            QVERIFY(waitForHoverChecks(m_widget));
    }

private slots:
    void initTestCase() { QVERIFY(registerButtonLibrary()); }

    void cleanup() { release(); }

    void entersOnceAndLeavesOnce()
    {
        place(true);
        const QPoint in = centre();
        QCursor::setPos(in);
        QTRY_COMPARE_WITH_TIMEOUT(m_site->count(MouseEnters), 1, 1000);
        QCOMPARE(m_site->argsOf(MouseEnters), (QVariantList{in.x(), in.y()})); // screen pixels
        moveTo(in + QPoint(7, 3)); // moving within the button raises nothing more
        QCOMPARE(m_site->count(MouseEnters), 1);
        QCOMPARE(m_site->count(MouseLeaves), 0);

        const QPoint out(20, 20);
        QCursor::setPos(out);
        QTRY_COMPARE_WITH_TIMEOUT(m_site->count(MouseLeaves), 1, 1000);
        QVERIFY(waitForHoverChecks(m_widget)); // the checks that follow raise nothing more
        QCOMPARE(m_site->ids(), (QList<rt::DispId>{MouseEnters, MouseLeaves}));
        QCOMPARE(m_site->argsOf(MouseLeaves), (QVariantList{out.x(), out.y()}));
    }

    void designModeNeverHovers()
    {
        place(false);
        QVERIFY(!hoverCheck(m_widget)->isActive()); // no check runs at all
        moveTo(centre());
        moveTo(QPoint(20, 20));
        QCOMPARE(m_site->count(MouseEnters) + m_site->count(MouseLeaves), 0);
    }

    void disabledWhileHovered()
    {
        place(true);
        QCursor::setPos(centre());
        QTRY_COMPARE_WITH_TIMEOUT(m_site->count(MouseEnters), 1, 1000);
        m_button->putProperty(Enabled, false);
        moveTo(QPoint(20, 20));
        QCOMPARE(m_site->count(MouseLeaves), 0);
        m_button->putProperty(Enabled, true);
        QVERIFY(waitForHoverChecks(m_widget, 1));
        QCOMPARE(m_site->count(MouseLeaves), 1); // at the next tick
    }

    void maskedCornerIsNotTheButton_data()
    {
        QTest::addColumn<int>("rounded");
        QTest::addColumn<bool>("corner");
        QTest::newRow("rounded 5") << 5 << false;
        QTest::newRow("rounded 14") << 14 << false;
        QTest::newRow("square") << 0 << true;
    }

    void maskedCornerIsNotTheButton()
    {
        QFETCH(int, rounded);
        QFETCH(bool, corner);
        place(true, rounded);
        const QPoint topLeft = m_widget->mapToGlobal(QPoint(0, 0));
        QCOMPARE(QApplication::widgetAt(topLeft) == m_widget, corner);
        if (!corner)
            QCOMPARE(QApplication::widgetAt(topLeft), m_window.get());
        moveTo(topLeft);
        QCOMPARE(m_site->count(MouseEnters), corner ? 1 : 0);
    }

    void overlappingWidgetHidesTheButton()
    {
        place(true);
        QWidget cover(m_window.get());
        cover.setGeometry(40, 25, 60, 30); // over the button's centre
        cover.show();
        cover.raise();
        moveTo(cover.mapToGlobal(cover.rect().center()));
        QCOMPARE(m_site->count(MouseEnters), 0);
        moveTo(m_widget->mapToGlobal(QPoint(110, 40))); // a part of the button left uncovered
        QCOMPARE(m_site->count(MouseEnters), 1);
    }
};

QTEST_MAIN(TestZTbuttonHover)
#include "test_ztbutton_hover.moc"
