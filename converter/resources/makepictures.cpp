// Draws the program's pictures into the current folder. Run once after a change and commit the
// PNG files; the build only reads them.   makepictures <folder>

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace {

QImage canvas(int w, int h, QImage::Format format = QImage::Format_ARGB32)
{
    QImage image(w, h, format);
    image.fill(format == QImage::Format_RGB888 ? Qt::white : Qt::transparent);
    return image;
}

// A disc with a note head and stem, the program's emblem, scaled to `size`.
QImage emblem(int size, const QColor &from, const QColor &to)
{
    QImage image = canvas(size, size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    QRadialGradient disc(QPointF(s * 0.35, s * 0.3), s * 0.7);
    disc.setColorAt(0, from);
    disc.setColorAt(1, to);
    p.setBrush(disc);
    p.setPen(QPen(to.darker(160), qMax(1.0, s / 24)));
    p.drawEllipse(QRectF(s * 0.04, s * 0.04, s * 0.92, s * 0.92));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(s * 0.28, s * 0.56, s * 0.26, s * 0.2));
    p.drawRect(QRectF(s * 0.48, s * 0.22, s * 0.07, s * 0.44));
    QPainterPath flag;
    flag.moveTo(s * 0.55, s * 0.22);
    flag.cubicTo(s * 0.7, s * 0.28, s * 0.74, s * 0.38, s * 0.68, s * 0.48);
    flag.cubicTo(s * 0.68, s * 0.38, s * 0.62, s * 0.34, s * 0.55, s * 0.34);
    p.drawPath(flag);
    return image;
}

// Each picture takes the number of pixels to draw for one of its own: 2 makes the drawing that
// screens with twice the pixel density show (name@2x.png).
QImage splash(int scale)
{
    QImage image = canvas(353 * scale, 188 * scale, QImage::Format_RGB888);
    QPainter p(&image);
    p.scale(scale, scale);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 188);
    sky.setColorAt(0, QColor(40, 70, 170));
    sky.setColorAt(1, QColor(110, 150, 235));
    p.fillRect(QRect(0, 0, 353, 188), sky);
    p.setPen(QPen(QColor(255, 255, 255, 60), 2));
    for (int i = 0; i < 6; ++i) {
        QPainterPath wave;
        wave.moveTo(0, 120 + i * 9);
        for (int x = 0; x <= 353; x += 20)
            wave.quadTo(x + 10, 110 + i * 9 + ((x / 20) % 2 ? 12 : -12), x + 20, 120 + i * 9);
        p.drawPath(wave);
    }
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(34);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(20, 60, 300, 44), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("batchmp3"));
    font.setPixelSize(13);
    font.setBold(false);
    p.setFont(font);
    p.setPen(QColor(255, 255, 0));
    p.drawText(QRect(22, 100, 300, 20), Qt::AlignLeft,
               QStringLiteral("WAV  \u2192  MP3   Ver 1.30.1"));
    return image;
}

QImage background(int scale)
{
    QImage image = canvas(219 * scale, 207 * scale, QImage::Format_RGB888);
    QPainter p(&image);
    p.scale(scale, scale);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 219, 207);
    g.setColorAt(0, QColor(50, 80, 190));
    g.setColorAt(1, QColor(90, 121, 222)); // ends in the window's own colour
    p.fillRect(QRect(0, 0, 219, 207), g);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 5; ++i) {
        p.setBrush(QColor(255, 255, 255, 18 + i * 6));
        p.drawEllipse(QPointF(30 + i * 38, 170 - i * 22), 26 - i * 3, 26 - i * 3);
    }
    return image;
}

// The start button's icon is black around the shape, its mask white around and black inside,
// so the two block transfers leave the button's background around the shape.
void startIcon(QImage &icon, QImage &mask, int scale)
{
    icon = canvas(32 * scale, 32 * scale, QImage::Format_RGB32);
    mask = canvas(32 * scale, 32 * scale, QImage::Format_RGB32);
    icon.fill(Qt::black);
    mask.fill(Qt::white);
    QPainterPath triangle;
    triangle.moveTo(9, 5);
    triangle.lineTo(27, 16);
    triangle.lineTo(9, 27);
    triangle.closeSubpath();
    QPainter pi(&icon);
    pi.scale(scale, scale);
    QLinearGradient g(9, 5, 27, 27);
    g.setColorAt(0, QColor(90, 200, 60));
    g.setColorAt(1, QColor(20, 120, 20));
    pi.fillPath(triangle, g);
    pi.setPen(QColor(10, 80, 10));
    pi.drawPath(triangle);
    QPainter pm(&mask);
    pm.scale(scale, scale);
    pm.fillPath(triangle, Qt::black);
    pm.setPen(Qt::black);
    pm.drawPath(triangle);
}

QImage hand()
{
    QImage image = canvas(32, 32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.moveTo(10, 2);
    path.lineTo(13, 2);
    path.lineTo(13, 12);
    path.lineTo(22, 13);
    path.quadTo(25, 14, 25, 18);
    path.lineTo(24, 26);
    path.lineTo(12, 26);
    path.lineTo(5, 17);
    path.lineTo(7, 15);
    path.lineTo(10, 18);
    path.closeSubpath();
    p.setBrush(Qt::white);
    p.setPen(QPen(Qt::black, 1.2));
    p.drawPath(path);
    return image;
}

QImage strip(int scale)
{
    QImage image = canvas(45 * scale, 20 * scale, QImage::Format_RGB888);
    QPainter p(&image);
    p.scale(scale, scale);
    QLinearGradient g(0, 0, 45, 0);
    g.setColorAt(0, QColor(255, 224, 120));
    g.setColorAt(1, QColor(90, 121, 222));
    p.fillRect(QRect(0, 0, 45, 20), g);
    return image;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath());
    auto save = [&out](const QImage &image, const char *name) {
        return image.save(out.filePath(QString::fromLatin1(name)), "PNG");
    };
    bool ok = save(hand(), "hand.png");
    for (int scale : {1, 2}) {
        const QString two = scale == 2 ? QStringLiteral("@2x") : QString();
        auto saveAt = [&](const QImage &image, const char *stem) {
            return image.save(out.filePath(QString::fromLatin1(stem) + two + QLatin1String(".png")),
                              "PNG");
        };
        QImage icon, mask;
        startIcon(icon, mask, scale);
        ok = ok && saveAt(splash(scale), "splash") && saveAt(background(scale), "form1_back") &&
             saveAt(strip(scale), "image3") && saveAt(icon, "start_icon") &&
             saveAt(mask, "start_mask");
        ok = ok && saveAt(emblem(32 * scale, QColor(150, 220, 255), QColor(30, 90, 200)), "icon5_32");
        ok = ok && saveAt(emblem(32 * scale, QColor(255, 190, 190), QColor(200, 40, 40)), "image1");
        ok = ok && saveAt(emblem(32 * scale, QColor(190, 255, 190), QColor(30, 150, 50)), "image2");
    }
    // 256: the desktop's large icon, from the same emblem.
    for (int size : {16, 32, 48, 256}) {
        for (int scale : {1, 2}) {
            if (size == 256 && scale == 2)
                continue;
            const QString name = QStringLiteral("app_%1%2.png")
                                     .arg(size)
                                     .arg(scale == 2 ? QStringLiteral("@2x") : QString());
            ok = ok && emblem(size * scale, QColor(255, 230, 120), QColor(230, 140, 20))
                           .save(out.filePath(name));
        }
    }
    return ok ? 0 : 1;
}
