// The button's drawing services on their own: gradient, recolouring, surface and GDI rules.

#include "buttonctl/gdi/clsgradient.h"
#include "buttonctl/gdi/drawsurface.h"
#include "buttonctl/gdi/modxpbutton.h"

#include <QtTest>

namespace {

quint32 bgr(const QImage &image, int x, int y)
{
    const QRgb p = image.pixel(x, y);
    return quint32(qRed(p)) | (quint32(qGreen(p)) << 8) | (quint32(qBlue(p)) << 16);
}

QImage canvas(int w, int h, QRgb fill = qRgb(1, 2, 3))
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(fill);
    return image;
}

// Pixels set on a 10 x 10 white surface, as "x,y" in drawing order of rows.
QStringList inked(const DrawSurface &s)
{
    QStringList result;
    for (int y = 0; y < s.pixelHeight(); ++y)
        for (int x = 0; x < s.pixelWidth(); ++x)
            if (bgr(s.image(), x, y) != 0xFFFFFF)
                result << QStringLiteral("%1,%2").arg(x).arg(y);
    return result;
}

} // namespace

class TestZTbuttonDrawing final : public QObject
{
    Q_OBJECT

private slots:
    void gradientColumnsAndEdges()
    {
        QImage image = canvas(20, 6);
        clsGradient g;
        g.DefineRect(2, 1, 12, 4);
        g.DrawGradient(&image, LeftToRight, 0x000000, 0xFFFFFF);
        QCOMPARE(bgr(image, 2, 1), 0u);
        QCOMPARE(image.pixel(7, 1), image.pixel(7, 3));
        QVERIFY(qRed(image.pixel(11, 2)) > qRed(image.pixel(3, 2)));
        // Right and bottom are exclusive; nothing outside the rectangle changes.
        QCOMPARE(image.pixel(12, 2), qRgb(1, 2, 3));
        QCOMPARE(image.pixel(5, 4), qRgb(1, 2, 3));
        QCOMPARE(image.pixel(1, 2), qRgb(1, 2, 3));
        QCOMPARE(image.pixel(5, 0), qRgb(1, 2, 3));
    }

    // Black to white at every size up to 300: the first row or column is the start colour,
    // each step runs evenly, and the end colour lies at the excluded edge, so the last row
    // drawn never reaches it.
    void gradientRunsTheWholeLength_data()
    {
        QTest::addColumn<int>("direction");
        QTest::newRow("top to bottom") << int(TopToBottom);
        QTest::newRow("left to right") << int(LeftToRight);
    }

    void gradientRunsTheWholeLength()
    {
        QFETCH(int, direction);
        for (int n = 1; n <= 300; ++n) {
            const bool down = direction == TopToBottom;
            QImage image = down ? canvas(2, n) : canvas(n, 2);
            clsGradient g;
            g.DefineRect(0, 0, image.width(), image.height());
            g.DrawGradient(&image, direction, 0x000000, 0xFFFFFF);
            for (int i = 0; i < n; ++i) {
                const int value = qRed(down ? image.pixel(1, i) : image.pixel(i, 1));
                const double ideal = 255.0 * i / n;
                QVERIFY2(
                    value >= ideal - 1 && value <= ideal + 1 && value < 255,
                    qPrintable(QStringLiteral("length %1, step %2: %3").arg(n).arg(i).arg(value)));
            }
        }
    }

    void gradientFlatAndEmpty_data()
    {
        QTest::addColumn<QRect>("rect"); // left, top, right, bottom as x, y, width, height
        QTest::addColumn<bool>("paints");
        QTest::newRow("flat") << QRect(0, 0, 10, 10) << true;
        QTest::newRow("zero width") << QRect(4, 0, 4, 10) << false;
        QTest::newRow("zero height") << QRect(0, 4, 10, 4) << false;
        QTest::newRow("reversed") << QRect(8, 8, 2, 2) << false;
        QTest::newRow("beyond the surface") << QRect(-5, -5, 50, 50) << true;
    }

    void gradientFlatAndEmpty()
    {
        QFETCH(QRect, rect);
        QFETCH(bool, paints);
        QImage image = canvas(10, 10);
        clsGradient g;
        g.DefineRect(rect.x(), rect.y(), rect.width(), rect.height());
        g.DrawGradient(&image, TopToBottom, 0xEAF4F5, 0xEAF4F5);
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 10; ++x)
                QCOMPARE(bgr(image, x, y), paints ? 0xEAF4F5u : 0x030201u);
    }

    void replacePixelColor()
    {
        QImage mask(5, 4, QImage::Format_RGB32);
        mask.fill(Qt::white);
        for (int x = 0; x < 5; ++x)
            mask.setPixel(x, 0, qRgb(0, 0, 0)); // the first row
        for (int y = 0; y < 4; ++y)
            mask.setPixel(0, y, qRgb(0, 0, 0)); // and the first column
        mask.setPixel(3, 2, qRgb(1, 0, 0));     // almost black stays
        DrawSurface holder;
        holder.setPicture(mask);
        holder.setScaleMode(DrawSurface::Twips);
        ReplacePixelColor(holder, 0x000000, 0x99A8AC);
        QCOMPARE(holder.ScaleMode(), int(DrawSurface::Pixels));
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 5; ++x) {
                const QRgb p = holder.image().pixel(x, y);
                if (x == 0 || y == 0)
                    QCOMPARE(p, qRgb(172, 168, 153));
                else if (x == 3 && y == 2)
                    QCOMPARE(p, qRgb(1, 0, 0));
                else
                    QCOMPARE(p, qRgb(255, 255, 255));
            }
        }
        DrawSurface empty;
        empty.setPicture(QImage());
        ReplacePixelColor(empty, 0, 0x99A8AC); // nothing to do, nothing breaks
        QCOMPARE(empty.pixelWidth(), 0);
    }

    void lineLeavesOutItsLastPixel_data()
    {
        QTest::addColumn<QLine>("line");
        QTest::addColumn<QStringList>("pixels");
        QTest::newRow("horizontal") << QLine(2, 1, 5, 1) << QStringList{"2,1", "3,1", "4,1"};
        QTest::newRow("vertical") << QLine(1, 2, 1, 4) << QStringList{"1,2", "1,3"};
        QTest::newRow("end before start") << QLine(4, 3, 2, 3) << QStringList{"3,3", "4,3"};
        QTest::newRow("zero length") << QLine(3, 3, 3, 3) << QStringList{};
        QTest::newRow("diagonal") << QLine(0, 0, 3, 3) << QStringList{"0,0", "1,1", "2,2"};
        QTest::newRow("off the surface") << QLine(-3, 9, 2, 9) << QStringList{"0,9", "1,9"};
    }

    void lineLeavesOutItsLastPixel()
    {
        QFETCH(QLine, line);
        QFETCH(QStringList, pixels);
        DrawSurface s;
        s.setBackColor(0xFFFFFF);
        s.resize(10, 10);
        Line(s.hDC(), line.x1(), line.y1(), line.x2(), line.y2(), 0x0000FF);
        QCOMPARE(inked(s), pixels);
    }

    void roundedRegion_data()
    {
        QTest::addColumn<int>("rounded");
        QTest::newRow("0") << 0;
        QTest::newRow("1") << 1;
        QTest::newRow("5") << 5;
        QTest::newRow("12") << 12;
        QTest::newRow("-5") << -5;
        QTest::newRow("huge") << 1000;
    }

    void roundedRegion()
    {
        QFETCH(int, rounded);
        const int w = 30, h = 20;
        const QRegion region = CreateRoundRectRgn(0, 0, w, h, rounded, rounded);
        // The last column and row are left out; the shape is symmetric.
        QCOMPARE(region.boundingRect(), QRect(0, 0, w - 1, h - 1));
        for (int y = 0; y < h - 1; ++y)
            for (int x = 0; x < w - 1; ++x)
                QCOMPARE(region.contains(QPoint(x, y)),
                         region.contains(QPoint(w - 2 - x, h - 2 - y)));
        QCOMPARE(region.contains(QPoint(0, 0)), std::abs(rounded) < 2);
        QVERIFY(region.contains(QPoint(w / 2, 0)));
        QVERIFY(region.contains(QPoint(0, h / 2)));
        QVERIFY(CreateRoundRectRgn(0, 0, 1, 1, 5, 5).isEmpty());
    }

    // How far each top row of a corner is cut in, as the system's elliptic region cuts it, for
    // every ellipse size from 0 to 20; the rows after those listed are whole. The true curve
    // is one pixel fuller in some of these rows (3, 6, 9, 10, 13, 14, 16, 17, 19, 20).
    void cornerRowsForEveryRadius_data()
    {
        QTest::addColumn<int>("rounded");
        QTest::addColumn<QList<int>>("insets");
        const QList<QList<int>> table = {
            {},           {},           {},           {1},          {1},
            {1},          {2, 1},       {2, 1},       {2, 1},       {3, 1, 1},
            {3, 2, 1},    {3, 2, 1},    {4, 2, 1, 1}, {4, 3, 2, 1}, {5, 3, 2, 1, 1},
            {5, 3, 2, 1, 1}, {5, 4, 2, 2, 1}, {6, 4, 3, 2, 1, 1}, {6, 4, 3, 2, 1, 1},
            {7, 5, 3, 2, 2, 1, 1}, {7, 5, 4, 3, 2, 1, 1}};
        for (int r = 0; r < table.size(); ++r)
            QTest::addRow("%d", r) << r << table[r];
    }

    void cornerRowsForEveryRadius()
    {
        QFETCH(int, rounded);
        QFETCH(QList<int>, insets);
        const int w = 41, h = 33; // odd and even inner sizes meet in one shape
        const QRegion region = CreateRoundRectRgn(0, 0, w, h, rounded, rounded);
        DrawSurface s;
        s.setBackColor(0xFFFFFF);
        s.resize(w, h);
        RoundRect(s.hDC(), 0, 0, w - 1, h - 1, rounded, rounded, 0x000000);
        for (int y = 0; y < h - 1; ++y) {
            const int row = std::min(y, h - 2 - y); // the bottom corners mirror the top ones
            const int in = row < insets.size() ? insets[row] : 0;
            for (int x = 0; x < w - 1; ++x)
                QVERIFY2(region.contains(QPoint(x, y)) == (x >= in && x <= w - 2 - in),
                         qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
            // The border lies on the shape's own edge pixels, so the window shape never cuts
            // it off and no background shows outside it.
            int first = 0;
            while (first < w && bgr(s.image(), first, y) == 0xFFFFFF)
                ++first;
            int last = w - 1;
            while (last >= 0 && bgr(s.image(), last, y) == 0xFFFFFF)
                --last;
            QCOMPARE(first, in);
            QCOMPARE(last, w - 2 - in);
        }
    }

    // Ellipses far taller than wide (or wider than tall) still give every row its pixels.
    void thinEllipsesCoverEveryRow_data()
    {
        QTest::addColumn<QSize>("ellipse");
        QTest::newRow("2 x 9") << QSize(2, 9);
        QTest::newRow("3 x 40") << QSize(3, 40);
        QTest::newRow("4 x 44") << QSize(4, 44);
        QTest::newRow("40 x 3") << QSize(40, 3);
        QTest::newRow("29 x 2") << QSize(29, 2);
    }

    void thinEllipsesCoverEveryRow()
    {
        QFETCH(QSize, ellipse);
        const int w = 30, h = 45;
        const QRegion region =
            CreateRoundRectRgn(0, 0, w, h, ellipse.width(), ellipse.height());
        QCOMPARE(region.boundingRect(), QRect(0, 0, w - 1, h - 1));
        int previous = 0;
        for (int y = 0; y < (h - 1) / 2; ++y) {
            int first = 0;
            while (first < w - 1 && !region.contains(QPoint(first, y)))
                ++first;
            QVERIFY2(first <= ellipse.width() / 2, qPrintable(QString::number(y)));
            if (y > 0)
                QVERIFY(first <= previous); // cut in less and less towards the middle
            previous = first;
            for (int x = first; x < w - 1 - first; ++x)
                QVERIFY(region.contains(QPoint(x, y)) && region.contains(QPoint(x, h - 2 - y)));
        }
    }
};

QTEST_MAIN(TestZTbuttonDrawing)
#include "test_ztbutton_drawing.moc"
