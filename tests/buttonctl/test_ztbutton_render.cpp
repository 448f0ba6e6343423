// What real buttons draw into their backing image, checked pixel by pixel.

#include "runtime/controls.h"
#include "tests/buttonctl/buttonfixture.h"
#include "tests/buttonctl/looktables.h"
#include "tests/support/testsupport.h"

#include <QCursor>
#include <QFontMetricsF>
#include <QPainter>
#include <QScreen>
#include <QWidget>
#include <QtTest>
#include <cmath>
#include <map>
#include <set>

using namespace buttontest;

namespace {

enum Look
{
    Normal,
    Hover,
    Focus,
    Pressed,
    PressedFocus,
    Disabled
};

// The looks as looktables.md writes them down, read before the first test.
LookTables Tables;
const Expected *const Styles = Tables.styles;
quint32 DisabledBack = 0, DisabledBorder = 0, DisabledCaption = 0;

using PixelMap = std::map<std::pair<int, int>, int>;

// Which frame line (1 to 8) owns each pixel once `count` lines are drawn in order, each from
// its start up to but not including its end.
PixelMap frameOwners(int w, int h, int count)
{
    PixelMap owner;
    for (int i = 0; i < count; ++i) {
        const QLine ends = Tables.line(i, w, h);
        int x = ends.x1(), y = ends.y1();
        const int dx = (ends.x2() > x) - (ends.x2() < x), dy = (ends.y2() > y) - (ends.y2() < y);
        for (; x != ends.x2() || y != ends.y2(); x += dx, y += dy)
            owner[{x, y}] = i + 1;
    }
    return owner;
}

PixelMap focusDots(int w, int h)
{
    PixelMap dots;
    for (int x = 3; x <= w - 5; x += 2) {
        dots[{x, 2}] = 1;
        dots[{x, h - 4}] = 1;
    }
    for (int y = 4; y <= h - 4; y += 2) {
        dots[{2, y}] = 1;
        dots[{w - 4, y}] = 1;
    }
    return dots;
}

QImage filled(int w, int h, QRgb colour)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// The bounding box of the pixels in which two images differ.
QRect difference(const QImage &a, const QImage &b)
{
    QRect box;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                box |= QRect(x, y, 1, 1);
    return box;
}

} // namespace

class TestZTbuttonRender final : public HostedButtonTest
{
    Q_OBJECT

private:
    // A shown button, caption empty, no focus, the cursor away from it.
    void place(int w, int h, int style, QScreen *screen = QGuiApplication::primaryScreen())
    {
        QCursor::setPos(QPoint(2, 2));
        m_window = std::make_unique<QWidget>();
        m_window->setScreen(screen);
        m_window->setGeometry(
            QRect(screen->geometry().topLeft() + QPoint(50, 50), QSize(300, 200)));
        m_site = std::make_unique<TestSite>();
        m_button = newButton(*m_site, w, h);
        m_widget = m_button->widget();
        m_widget->setParent(m_window.get());
        m_widget->move(20, 20);
        m_button->putProperty(Caption, QString());
        m_button->putProperty(ColorStyle, style);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        m_widget->clearFocus();
        QVERIFY(waitForHoverChecks(m_widget)); // it has seen the cursor away
        m_site->clear();
    }

    void hover()
    {
        QCursor::setPos(m_widget->mapToGlobal(QPoint(m_widget->width() / 2, 3)));
        QTRY_COMPARE_WITH_TIMEOUT(m_site->count(MouseEnters), 1, 1000);
    }

    void focus()
    {
        m_widget->setFocus();
        QTRY_VERIFY(m_widget->hasFocus());
    }

    void setLook(Look look)
    {
        switch (look) {
        case Normal:
            break;
        case Hover:
            hover();
            break;
        case Focus:
            focus();
            break;
        case Pressed:
            QTest::keyPress(m_widget, Qt::Key_Space);
            break;
        case PressedFocus:
            focus();
            hover(); // pressed wins over hover
            QTest::keyPress(m_widget, Qt::Key_Space);
            break;
        case Disabled:
            focus();
            hover();
            QTest::keyPress(m_widget, Qt::Key_Space);
            m_button->putProperty(Enabled, false);
            break;
        }
    }

    // Every pixel of the window's region: a frame line's colour where a line ends up on top, a
    // dot where one is, the border where the outline runs, and the background elsewhere, so a
    // line one pixel too long or starting one pixel early shows where nothing else explains it.
    void checkEveryPixel(const QImage &image, const QImage &outline, const PixelMap &owners,
                         const PixelMap &dots, const quint32 *frame, quint32 border, quint32 top,
                         quint32 bottom)
    {
        const QRegion region = m_widget->mask();
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (!region.contains(QPoint(x, y)))
                    continue;
                const quint32 got = bgrAt(image, x, y);
                QString what;
                bool ok = false;
                if (dots.count({x, y})) {
                    what = QStringLiteral("dot");
                    ok = got == 0;
                } else if (const auto it = owners.find({x, y}); it != owners.end()) {
                    what = QStringLiteral("line %1").arg(it->second);
                    ok = got == frame[it->second - 1];
                } else if (bgrAt(outline, x, y) == DisabledBorder) {
                    what = QStringLiteral("border");
                    ok = got == border;
                } else {
                    what = QStringLiteral("background");
                    ok = near(got, lerp(top, bottom, y, image.height()), 2);
                }
                QVERIFY2(ok, qPrintable(QStringLiteral("%1 at %2,%3 is %4")
                                            .arg(what)
                                            .arg(x)
                                            .arg(y)
                                            .arg(got, 6, 16, QLatin1Char('0'))));
            }
        }
    }

    // The default corners (RoundedValue 5): the outline box runs to W-2, H-2; its corner pixel
    // is outside the region, the two beside it are border, the one inside it is not.
    void checkCorners(const QImage &image, quint32 border)
    {
        const int w = image.width(), h = image.height();
        const QRegion region = m_widget->mask();
        struct Corner
        {
            QPoint outside, side1, side2, inside;
        };
        const Corner corners[] = {
            {{0, 0}, {1, 0}, {0, 1}, {1, 1}},
            {{w - 2, 0}, {w - 3, 0}, {w - 2, 1}, {w - 3, 1}},
            {{0, h - 2}, {1, h - 2}, {0, h - 3}, {1, h - 3}},
            {{w - 2, h - 2}, {w - 3, h - 2}, {w - 2, h - 3}, {w - 3, h - 3}},
        };
        for (const Corner &c : corners) {
            QVERIFY(!region.contains(c.outside));
            QVERIFY(bgrAt(image, c.outside.x(), c.outside.y()) != border);
            QCOMPARE(bgrAt(image, c.side1.x(), c.side1.y()), border);
            QCOMPARE(bgrAt(image, c.side2.x(), c.side2.y()), border);
            QVERIFY(region.contains(c.inside));
            QVERIFY(bgrAt(image, c.inside.x(), c.inside.y()) != border);
        }
        // The last column and row are not the button's.
        for (int y = 0; y < h; ++y)
            QVERIFY(!region.contains(QPoint(w - 1, y)));
        for (int x = 0; x < w; ++x)
            QVERIFY(!region.contains(QPoint(x, h - 1)));
    }

private slots:
    void initTestCase()
    {
        const QString problem = readLookTables(QStringLiteral(LOOK_TABLES), &Tables);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        DisabledBack = Tables.disabledBack;
        DisabledBorder = Tables.disabledBorder;
        DisabledCaption = Tables.disabledCaption;
        QVERIFY(registerButtonLibrary());
    }

    void cleanup() { release(); }

    void looks_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("style");
        QTest::addColumn<int>("look");
        const char *looks[] = {"normal", "hover", "focus", "pressed", "pressed+focus", "disabled"};
        for (QSize size : {QSize(116, 45), QSize(90, 22), QSize(6, 6)})
            for (int style = 1; style <= 3; ++style)
                for (int look = Normal; look <= Disabled; ++look)
                    QTest::addRow("%dx%d style %d %s", size.width(), size.height(), style,
                                  looks[look])
                        << size << style << look;
    }

    void looks()
    {
        QFETCH(QSize, size);
        QFETCH(int, style);
        QFETCH(int, look);
        const int w = size.width(), h = size.height();
        place(w, h, style);
        setLook(Look(look));
        const QImage image = surface(*m_button);
        QCOMPARE(image.size(), size);
        const Expected &e = Styles[style - 1];

        const bool pressed = look == Pressed || look == PressedFocus;
        quint32 top = pressed ? e.pressedTop : e.top, bottom = pressed ? e.pressedBottom : e.bottom;
        quint32 border = e.border;
        if (look == Disabled)
            top = bottom = DisabledBack, border = DisabledBorder;
        const quint32 *frame = look == Hover   ? e.hover
                               : look == Focus ? e.focus
                               : pressed       ? e.pressed
                                               : nullptr;
        const int lines = !frame ? 0 : pressed ? e.pressedLines : 8;
        const bool dots = look == Focus || look == PressedFocus;

        // Background: the gradient's colours in the first and last rows inside the frame.
        if (h >= 9) {
            for (int y : {3, h - 5}) {
                const quint32 want = lerp(top, bottom, y, h);
                QVERIFY2(near(bgrAt(image, w / 2, y), want, 1),
                         qPrintable(QStringLiteral("row %1: %2, want %3")
                                        .arg(y)
                                        .arg(bgrAt(image, w / 2, y), 6, 16)
                                        .arg(want, 6, 16)));
            }
        }
        // Border on its straight parts: columns 0 and W-2, rows 0 and H-2.
        for (int y = 4; y <= h - 6; ++y) {
            QCOMPARE(bgrAt(image, 0, y), border);
            QCOMPARE(bgrAt(image, w - 2, y), border);
        }
        for (int x = 4; x <= w - 6; ++x) {
            QCOMPARE(bgrAt(image, x, 0), border);
            QCOMPARE(bgrAt(image, x, h - 2), border);
        }
        // Each frame line in its colour wherever no later line crosses it, dots on top.
        const PixelMap owners = frameOwners(w, h, lines);
        const PixelMap dotAt = focusDots(w, h);
        for (const auto &[at, line] : owners) {
            const quint32 want = dots && dotAt.count(at) ? 0 : frame[line - 1];
            QVERIFY2(
                bgrAt(image, at.first, at.second) == want,
                qPrintable(
                    QStringLiteral("line %1 at %2,%3").arg(line).arg(at.first).arg(at.second)));
        }
        // Without a frame (or where the pressed light-blue look leaves out ring 2) the
        // background shows at the rings' places.
        if (h >= 9) {
            for (const auto &at : frameOwners(w, h, 8)) {
                if (owners.count(at.first) || dotAt.count(at.first))
                    continue;
                const auto [x, y] = at.first;
                QVERIFY2(near(bgrAt(image, x, y), lerp(top, bottom, y, h), 2),
                         qPrintable(QStringLiteral("background at %1,%2").arg(x).arg(y)));
            }
        }
        // The focus dots exactly when expected.
        for (const auto &at : dotAt) {
            const bool black = bgrAt(image, at.first.first, at.first.second) == 0;
            QVERIFY2(black == dots,
                     qPrintable(
                         QStringLiteral("dot at %1,%2").arg(at.first.first).arg(at.first.second)));
        }

        // Two redraws give the same pixels as one.
        m_button->putProperty(Caption, QString());
        QCOMPARE(surface(*m_button), image);

        // The disabled look of the same button draws the same outline over a flat fill: where
        // its border runs, the border runs here.
        QImage outline = image;
        if (look != Disabled) {
            m_button->putProperty(Enabled, false);
            outline = surface(*m_button);
            m_button->putProperty(Enabled, true);
        }
        checkEveryPixel(image, outline, owners, dots ? dotAt : PixelMap(), frame, border, top,
                        bottom);
        checkCorners(image, border);
    }

    // Hover wins over focus and hides the dots; once the pointer leaves, focus shows again.
    void focusedUnderThePointer()
    {
        place(116, 45, 1);
        focus();
        hover();
        QImage image = surface(*m_button);
        QCOMPARE(bgrAt(image, 58, 1), Styles[0].hover[0]);
        QCOMPARE(bgrAt(image, 3, 2), Styles[0].hover[4]);
        QCursor::setPos(QPoint(2, 2));
        QTRY_COMPARE_WITH_TIMEOUT(m_site->count(MouseLeaves), 1, 1000);
        image = surface(*m_button);
        QCOMPARE(bgrAt(image, 58, 1), Styles[0].focus[0]);
        QCOMPARE(bgrAt(image, 3, 2), 0u);
    }

    // MouseEnters and MouseLeaves come after the flag has changed and the button has been
    // redrawn: a handler that looks at the button sees the look the event announces.
    void hoverEventsAfterTheRedraw()
    {
        place(116, 45, 1);
        quint32 seenOnEnter = 0, seenOnLeave = 0, shownOnEnter = 0;
        m_site->handler = [&](rt::DispId id, QVariantList &) {
            if (id == MouseEnters) {
                seenOnEnter = bgrAt(surface(*m_button), 58, 1);
                shownOnEnter = bgrAt(m_widget->grab().toImage(), 58, 1);
            } else if (id == MouseLeaves) {
                seenOnLeave = bgrAt(surface(*m_button), 58, 1);
            }
        };
        hover();
        QCOMPARE(seenOnEnter, Styles[0].hover[0]);
        QCOMPARE(shownOnEnter, Styles[0].hover[0]);
        QCursor::setPos(QPoint(2, 2));
        QTRY_COMPARE_WITH_TIMEOUT(m_site->count(MouseLeaves), 1, 1000);
        QVERIFY(near(seenOnLeave, lerp(Styles[0].top, Styles[0].bottom, 1, 45), 2));
    }

    // The caption's ink: ForeColor while enabled, 0xBAC7C9 while disabled, in every style
    // (the converter disables its buttons during every batch).
    void captionInk_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<bool>("enabled");
        for (int style = 1; style <= 3; ++style) {
            QTest::addRow("style %d enabled", style) << style << true;
            QTest::addRow("style %d disabled", style) << style << false;
        }
    }

    void captionInk()
    {
        QFETCH(int, style);
        QFETCH(bool, enabled);
        constexpr quint32 Fore = 0x2020C0; // a red no look of any style uses
        place(116, 45, style);
        m_button->putProperty(ForeColor, qint32(Fore));
        m_button->putProperty(Enabled, enabled);
        const QImage plain = surface(*m_button);
        m_button->putProperty(Caption, QStringLiteral("开始转换"));
        const QImage image = surface(*m_button);
        const quint32 ink = enabled ? Fore : DisabledCaption;
        const QRect box = difference(image, plain);
        QVERIFY(!box.isEmpty());
        // Text edges blend the ink into what is under it: each inked pixel lies on the way from
        // the background to the ink colour, the same share of the way in every channel.
        double strongest = 0;
        for (int y = box.top(); y <= box.bottom(); ++y) {
            for (int x = box.left(); x <= box.right(); ++x) {
                const quint32 got = bgrAt(image, x, y), back = bgrAt(plain, x, y);
                if (got == back)
                    continue;
                double lo = 2, hi = -1;
                for (int shift = 0; shift < 24; shift += 8) {
                    const int g = int((got >> shift) & 0xFF), b = int((back >> shift) & 0xFF),
                              i = int((ink >> shift) & 0xFF);
                    if (std::abs(i - b) < 40)
                        continue;
                    const double share = double(g - b) / double(i - b);
                    lo = std::min(lo, share);
                    hi = std::max(hi, share);
                }
                QVERIFY2(lo >= -0.05 && hi <= 1.05 && hi - lo <= 0.12,
                         qPrintable(QStringLiteral("ink at %1,%2 is %3")
                                        .arg(x)
                                        .arg(y)
                                        .arg(got, 6, 16, QLatin1Char('0'))));
                strongest = std::max(strongest, lo);
            }
        }
        QVERIFY2(strongest > 0.6, qPrintable(QString::number(strongest)));
    }

    void region()
    {
        place(116, 45, 1);
        QRegion mask = m_widget->mask();
        QVERIFY(!mask.contains(QPoint(0, 0)) && !mask.contains(QPoint(114, 43)));
        QVERIFY(mask.contains(QPoint(2, 0)) && mask.contains(QPoint(58, 22)));
        QVERIFY(!mask.contains(QPoint(115, 22))); // the last column is outside the region
        m_button->putProperty(RoundedValue, 0);
        mask = m_widget->mask();
        QVERIFY(mask.contains(QPoint(0, 0)) && mask.contains(QPoint(114, 43)));
        // A square border too.
        QCOMPARE(bgrAt(surface(*m_button), 0, 0), Styles[0].border);
        QCOMPARE(bgrAt(surface(*m_button), 114, 43), Styles[0].border);
    }

    void otherStylesPaintOnlyDots_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<bool>("hovered");
        QTest::addColumn<bool>("dotted");
        for (int style : {0, 4}) {
            QTest::addRow("style %d hovered", style) << style << true << true;
            QTest::addRow("style %d hovered, no dots", style) << style << true << false;
            QTest::addRow("style %d not hovered", style) << style << false << true;
        }
    }

    void otherStylesPaintOnlyDots()
    {
        QFETCH(int, style);
        QFETCH(bool, hovered);
        QFETCH(bool, dotted);
        place(90, 22, style);
        m_button->putProperty(Caption, QStringLiteral("添加文件"));
        m_button->putProperty(FocusDottedRect, dotted);
        m_button->putProperty(Icon, filled(8, 8, qRgb(255, 0, 0)));
        m_button->putProperty(IconMask, filled(8, 8, qRgb(0, 0, 0)));
        m_widget->resize(91, 22); // a Paint: the surface is cleared first
        QCoreApplication::processEvents();
        focus();
        if (hovered)
            hover();
        const QImage image = surface(*m_button);
        const QRgb back = image.pixel(0, 0);
        const PixelMap dots = focusDots(91, 22);
        for (int y = 0; y < 22; ++y) {
            for (int x = 0; x < 91; ++x) {
                const bool dot = hovered && dotted && dots.count({x, y});
                QCOMPARE(image.pixel(x, y), dot ? qRgb(0, 0, 0) : back);
            }
        }
    }

    void icon_data()
    {
        QTest::addColumn<int>("alignment");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("x"); // -1: no icon
        QTest::newRow("left") << 1 << true << 5;
        QTest::newRow("right") << 2 << true << 116 - 12 - 5;
        QTest::newRow("left disabled") << 1 << false << 5;
        QTest::newRow("right disabled") << 2 << false << 116 - 12 - 5;
        QTest::newRow("alignment 0") << 0 << true << -1;
        QTest::newRow("alignment 3 disabled") << 3 << false << -1;
    }

    void icon()
    {
        QFETCH(int, alignment);
        QFETCH(bool, enabled);
        QFETCH(int, x);
        // A 12 x 12 icon: a red 4 x 4 square on black, the mask black there and white around.
        QImage icon = filled(12, 12, qRgb(0, 0, 0));
        QImage mask = filled(12, 12, qRgb(255, 255, 255));
        for (int y = 3; y < 7; ++y)
            for (int i = 4; i < 8; ++i) {
                icon.setPixel(i, y, qRgb(255, 0, 0));
                mask.setPixel(i, y, qRgb(0, 0, 0));
            }
        place(116, 45, 1);
        m_button->putProperty(Enabled, enabled);
        m_button->putProperty(IconAlignment, alignment);
        const QImage plain = surface(*m_button);
        m_button->putProperty(Icon, icon);
        QCOMPARE(surface(*m_button), plain); // no mask: no icon
        m_button->putProperty(IconMask, mask);
        const QImage image = surface(*m_button);
        if (x < 0) {
            QCOMPARE(image, plain);
            return;
        }
        const int y0 = 16; // round(45 / 2 - 12 / 2) = round(16.5), halves to even
        QCOMPARE(difference(image, plain).united(QRect(x, y0, 12, 12)), QRect(x, y0, 12, 12));
        for (int y = 0; y < 12; ++y) {
            for (int i = 0; i < 12; ++i) {
                const bool shape = i >= 4 && i < 8 && y >= 3 && y < 7;
                const QRgb want = enabled ? (shape ? qRgb(255, 0, 0) : plain.pixel(x + i, y0 + y))
                                          : (shape ? qRgb(172, 168, 153) : qRgb(255, 255, 255));
                QCOMPARE(image.pixel(x + i, y0 + y), want);
            }
        }
        // An empty icon clears the holder too.
        m_button->putProperty(Icon, QImage());
        QCOMPARE(surface(*m_button), plain);
    }

    // What the screen shows at the pixel ratio the test runs at (CTest runs it at 1, 1.5 and 2):
    // at 1 the backing image itself; otherwise each ring's design pixel a whole block of device
    // pixels counted from its own edge, the border as thick on every side, and the rounded shape
    // the same on opposite sides.
    void onScreen_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("style");
        QTest::addColumn<int>("look");
        const char *looks[] = {"normal", "hover", "focus", "pressed", "pressed+focus", "disabled"};
        for (QSize size : {QSize(116, 45), QSize(28, 21)})
            for (int style = 1; style <= 3; ++style)
                for (int look : {Normal, Hover, PressedFocus, Disabled})
                    QTest::addRow("%dx%d style %d %s", size.width(), size.height(), style,
                                  looks[look])
                        << size << style << look;
        QTest::newRow("116x45 focus") << QSize(116, 45) << 1 << int(Focus);
    }

    void onScreen()
    {
        QFETCH(QSize, size);
        QFETCH(int, style);
        QFETCH(int, look);
        const int w = size.width(), h = size.height();
        place(w, h, style);
        QPalette magenta = m_window->palette();
        magenta.setColor(QPalette::Window, QColor(255, 0, 255));
        m_window->setPalette(magenta);
        m_window->setAutoFillBackground(true);
        // Text is hinted differently at each size: kept clear of the rings.
        m_button->putProperty(Caption, w > 100 ? QStringLiteral("开始") : QString());
        m_button->putProperty(ForeColor, 0x0000FF);
        m_button->putProperty(Icon, filled(8, 8, qRgb(0, 0, 0)));
        m_button->putProperty(IconMask, filled(8, 8, qRgb(0, 0, 0)));
        setLook(Look(look));
        const QImage one = surface(*m_button);
        const qreal ratio = m_window->devicePixelRatioF();
        const QImage shot =
            m_window->grab(m_widget->geometry()).toImage().convertToFormat(QImage::Format_RGB32);
        if (ratio == 1.0) {
            const QRegion region = m_widget->mask();
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    if (region.contains(QPoint(x, y)))
                        QCOMPARE(shot.pixel(x, y), one.pixel(x, y));
            return;
        }
        const int unit = qMax(1, qRound(ratio));
        const int wd = int(std::ceil(w * ratio)), hd = int(std::ceil(h * ratio));
        QVERIFY(shot.width() >= wd - 1 && shot.height() >= hd - 1);
        auto background = [&](int x, int y) {
            return x >= shot.width() || y >= shot.height() || shot.pixel(x, y) == qRgb(255, 0, 255);
        };
        // The shape: mirrored across both middles, and nothing in the last `unit` columns/rows.
        for (int y = 0; y < hd; ++y)
            for (int x = 0; x < wd; ++x) {
                if (x >= wd - unit || y >= hd - unit) {
                    QVERIFY2(background(x, y), qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
                    continue;
                }
                const QString where =
                    QStringLiteral("%1,%2 of %3x%4").arg(x).arg(y).arg(wd).arg(hd);
                QVERIFY2(background(x, y) == background(wd - unit - 1 - x, y), qPrintable(where));
                QVERIFY2(background(x, y) == background(x, hd - unit - 1 - y), qPrintable(where));
            }
        const Expected &e = Styles[style - 1];
        const quint32 border = look == Disabled ? DisabledBorder : e.border;
        const bool pressed = look == Pressed || look == PressedFocus;
        // The border as thick on each side, across the middle.
        auto run = [&](int x, int y, int dx, int dy) {
            int n = 0;
            for (; bgrAt(shot, x, y) == border; x += dx, y += dy)
                ++n;
            return n;
        };
        QCOMPARE(run(0, hd / 2, 1, 0), unit);
        QCOMPARE(run(wd - unit - 1, hd / 2, -1, 0), unit);
        QCOMPARE(run(wd / 2, 0, 0, 1), unit);
        QCOMPARE(run(wd / 2, hd - unit - 1, 0, -1), unit);
        // Every ring pixel of a straight side (the corners aside) as a whole block.
        auto at = [&](int v, int design, int device) {
            return v < design / 2 ? v * unit : device - (design - v) * unit;
        };
        const int frameLines = look == Hover || look == Focus ? 8 : pressed ? e.pressedLines : 0;
        const PixelMap owners = frameOwners(w, h, frameLines);
        const int corner = 6;
        int checked = 0;
        for (int y = 0; y < h - 1; ++y)
            for (int x = 0; x < w - 1; ++x) {
                const bool nearX = x < 4 || x >= w - 5, nearY = y < 4 || y >= h - 5;
                const bool inCorner =
                    (x < corner || x >= w - 1 - corner) && (y < corner || y >= h - 1 - corner);
                // The focus dots are spaced from the left on every grid: not checked here.
                const bool dotted = (look == Focus || look == PressedFocus) &&
                                    (x == 2 || y == 2 || x == w - 4 || y == h - 4);
                // Along the straight sides the outline is the first and the last row and column
                // of the region (which leaves out the button's last row and column).
                const bool outline = x == 0 || y == 0 || x == w - 2 || y == h - 2;
                if (!(nearX || nearY) || inCorner || dotted || !(outline || owners.count({x, y})))
                    continue;
                const quint32 colour = bgrAt(one, x, y);
                for (int yd = at(y, h, hd); yd < at(y + 1, h, hd); ++yd)
                    for (int xd = at(x, w, wd); xd < at(x + 1, w, wd); ++xd)
                        QVERIFY2(bgrAt(shot, xd, yd) == colour,
                                 qPrintable(QStringLiteral("design %1,%2 device %3,%4 %5 %6")
                                                .arg(x)
                                                .arg(y)
                                                .arg(xd)
                                                .arg(yd)
                                                .arg(colour, 0, 16)
                                                .arg(bgrAt(shot, xd, yd), 0, 16)));
                ++checked;
            }
        QVERIFY(checked >= 2 * ((w - 2 * corner - 1) + (h - 2 * corner - 1))); // the border's
    }

    // Moved to a screen of another pixel ratio, the button shows the look drawn for that ratio,
    // as one placed there shows it, with no property changed first. (CTest runs it on two
    // screens, twoscreens.json.)
    void followsTheScreen()
    {
        const QList<QScreen *> screens = QGuiApplication::screens();
        if (screens.size() < 2 || screens[0]->devicePixelRatio() == screens[1]->devicePixelRatio())
            QSKIP("needs two screens of different pixel ratios");
        auto shown = [&] {
            return std::pair{m_window->grab(m_widget->geometry()).toImage(), m_widget->mask()};
        };
        place(116, 45, 3, screens[0]);
        m_button->putProperty(Caption, QStringLiteral("开始"));
        m_window->setScreen(screens[1]);
        m_window->move(screens[1]->geometry().topLeft() + QPoint(50, 50));
        QTRY_COMPARE(m_widget->devicePixelRatioF(), screens[1]->devicePixelRatio());
        const auto moved = shown();
        release();
        place(116, 45, 3, screens[1]);
        m_button->putProperty(Caption, QStringLiteral("开始"));
        const auto placed = shown();
        QCOMPARE(moved.first.devicePixelRatio(), screens[1]->devicePixelRatio());
        QCOMPARE(moved.first, placed.first);
        QCOMPARE(moved.second, placed.second);
    }

    // A picture that has a sharper drawing beside it is drawn from that on a 2x screen: each
    // device pixel its own, not every design pixel doubled. At 1x the picture itself.
    void sharperIcon()
    {
        QImage icon = filled(8, 8, qRgb(0, 0, 0)), mask = filled(8, 8, qRgb(0, 0, 0));
        QImage sharp = filled(16, 16, qRgb(0, 0, 0));
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                if ((x + y) % 2)
                    sharp.setPixel(x, y, qRgb(0, 255, 0));
        rt::setSharperPicture(icon, sharp);
        rt::setSharperPicture(mask, filled(16, 16, qRgb(0, 0, 0)));
        place(116, 45, 1);
        m_button->putProperty(Icon, icon);
        m_button->putProperty(IconMask, mask);
        const qreal ratio = m_window->devicePixelRatioF();
        const QImage shot = m_window->grab(m_widget->geometry()).toImage();
        const int y0 = int(std::nearbyint(std::ceil(45 * ratio) / 2.0 - 4 * ratio));
        const int x0 = 5 * qMax(1, qRound(ratio));
        if (ratio == 1.0) {
            QCOMPARE(shot.pixel(x0, y0), qRgb(0, 0, 0));
            QCOMPARE(shot.pixel(x0 + 1, y0), qRgb(0, 0, 0));
        } else if (ratio == 2.0) {
            for (int i = 0; i < 16; ++i)
                QCOMPARE(shot.pixel(x0 + i, y0 + 3), (i + 3) % 2 ? qRgb(0, 255, 0) : qRgb(0, 0, 0));
        } else {
            QSKIP("a sharper picture brought down to this ratio has no exact pixels to check");
        }
    }

    void tallIconIsCutEvenly()
    {
        // Each row of the icon its own colour; an all-black mask lets the icon show as it is.
        QImage icon(8, 61, QImage::Format_RGB32);
        for (int y = 0; y < 61; ++y)
            for (int x = 0; x < 8; ++x)
                icon.setPixel(x, y, qRgb(4 * y, 255 - 4 * y, 100));
        place(116, 45, 2);
        m_button->putProperty(IconMask, filled(8, 61, qRgb(0, 0, 0)));
        m_button->putProperty(Icon, icon);
        const QImage image = surface(*m_button);
        // round(22.5 - 30.5) = -8: eight rows cut at the top, eight at the bottom.
        for (int y = 0; y < 45; ++y)
            QCOMPARE(image.pixel(7, y), icon.pixel(2, y + 8));
    }

    void caption_data()
    {
        QTest::addColumn<int>("alignment");
        QTest::addColumn<QString>("text");
        QTest::newRow("centre") << 2 << QStringLiteral("添加文件");
        QTest::newRow("left") << 0 << QStringLiteral("清 空");
        QTest::newRow("right") << 1 << QStringLiteral("开始转换  ");
        QTest::newRow("none for 7") << 7 << QStringLiteral("关于程序");
        QTest::newRow("wider than the button") << 2 << QStringLiteral("WWWWWWWWWWWWWWWWWWWWWWW");
    }

    void caption()
    {
        QFETCH(int, alignment);
        QFETCH(QString, text);
        const int w = 116, h = 45;
        place(w, h, 3);
        m_button->putProperty(CaptionAlignment, alignment);
        const QImage plain = surface(*m_button);
        m_button->putProperty(Caption, text);
        const QImage image = surface(*m_button);
        const QRect ink = difference(image, plain);

        // Where the twips formulas put the text, and where the ink lies in its cell.
        const QFont font = m_button->getProperty(FontType).value<QFont>();
        QImage probe = filled(400, 60, qRgb(255, 255, 255));
        const QFontMetricsF fm(font, &probe);
        {
            QPainter p(&probe);
            p.setFont(font);
            p.setPen(Qt::black);
            p.drawText(QPointF(0, fm.ascent()), text);
        }
        const QRect cell = difference(probe, filled(400, 60, qRgb(255, 255, 255)));
        const double tw = fm.horizontalAdvance(text) * 15, th = fm.height() * 15;
        const double wt = w * 15, ht = h * 15;
        const double y = std::nearbyint(ht * 0.5 - (th * 0.5 + 20));
        double x = 0;
        switch (alignment) {
        case 2:
            x = std::nearbyint(wt * 0.5 - tw * 0.5);
            break;
        case 0:
            x = 100;
            break;
        case 1:
            x = std::nearbyint(wt - tw - 100);
            break;
        default:
            QCOMPARE(image, plain);
            x = -1;
        }
        if (x >= -1000 && alignment != 7) {
            const QRect want =
                cell.translated(int(std::nearbyint(x / 15)), int(std::nearbyint(y / 15))) &
                QRect(0, 0, w, h);
            QVERIFY2(std::abs(ink.left() - want.left()) <= 1 &&
                         std::abs(ink.top() - want.top()) <= 1 &&
                         std::abs(ink.right() - want.right()) <= 1 &&
                         std::abs(ink.bottom() - want.bottom()) <= 1,
                     qPrintable(QStringLiteral("ink %1,%2 %3x%4, want %5,%6 %7x%8")
                                    .arg(ink.x())
                                    .arg(ink.y())
                                    .arg(ink.width())
                                    .arg(ink.height())
                                    .arg(want.x())
                                    .arg(want.y())
                                    .arg(want.width())
                                    .arg(want.height())));
        }
        // The surface is back in pixels: the next redraw puts the border where it belongs.
        m_button->putProperty(ColorStyle, 3);
        QCOMPARE(bgrAt(surface(*m_button), w - 2, 5), Styles[2].border);
        QCOMPARE(bgrAt(surface(*m_button), w / 2, h - 2), Styles[2].border);
    }
};

QTEST_MAIN(TestZTbuttonRender)
#include "test_ztbutton_render.moc"
