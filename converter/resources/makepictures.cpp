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

QImage splash()
{
    QImage image = canvas(353, 188, QImage::Format_RGB888);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 188);
    sky.setColorAt(0, QColor(40, 70, 170));
    sky.setColorAt(1, QColor(110, 150, 235));
    p.fillRect(image.rect(), sky);
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

QImage background()
{
    QImage image = canvas(219, 207, QImage::Format_RGB888);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 219, 207);
    g.setColorAt(0, QColor(50, 80, 190));
    g.setColorAt(1, QColor(90, 121, 222)); // ends in the window's own colour
    p.fillRect(image.rect(), g);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 5; ++i) {
        p.setBrush(QColor(255, 255, 255, 18 + i * 6));
        p.drawEllipse(QPointF(30 + i * 38, 170 - i * 22), 26 - i * 3, 26 - i * 3);
    }
    return image;
}

// The start button's icon is black around the shape, its mask white around and black inside,
// so the two block transfers leave the button's background around the shape.
void startIcon(QImage &icon, QImage &mask)
{
    icon = canvas(32, 32, QImage::Format_RGB32);
    mask = canvas(32, 32, QImage::Format_RGB32);
    icon.fill(Qt::black);
    mask.fill(Qt::white);
    QPainterPath triangle;
    triangle.moveTo(9, 5);
    triangle.lineTo(27, 16);
    triangle.lineTo(9, 27);
    triangle.closeSubpath();
    QPainter pi(&icon);
    QLinearGradient g(9, 5, 27, 27);
    g.setColorAt(0, QColor(90, 200, 60));
    g.setColorAt(1, QColor(20, 120, 20));
    pi.fillPath(triangle, g);
    pi.setPen(QColor(10, 80, 10));
    pi.drawPath(triangle);
    QPainter pm(&mask);
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

QImage strip()
{
    QImage image = canvas(45, 20, QImage::Format_RGB888);
    QPainter p(&image);
    QLinearGradient g(0, 0, 45, 0);
    g.setColorAt(0, QColor(255, 224, 120));
    g.setColorAt(1, QColor(90, 121, 222));
    p.fillRect(image.rect(), g);
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
    bool ok = save(splash(), "splash.png") && save(background(), "form1_back.png") &&
              save(strip(), "image3.png") && save(hand(), "hand.png");
    // 256: the desktop's large icon, from the same emblem.
    for (int size : {16, 32, 48, 256}) {
        const QString name = QStringLiteral("app_%1.png").arg(size);
        ok = ok &&
             emblem(size, QColor(255, 230, 120), QColor(230, 140, 20)).save(out.filePath(name));
    }
    ok = ok && save(emblem(32, QColor(150, 220, 255), QColor(30, 90, 200)), "icon5_32.png");
    ok = ok && save(emblem(32, QColor(255, 190, 190), QColor(200, 40, 40)), "image1.png");
    ok = ok && save(emblem(32, QColor(190, 255, 190), QColor(30, 150, 50)), "image2.png");
    QImage icon, mask;
    startIcon(icon, mask);
    ok = ok && save(icon, "start_icon.png") && save(mask, "start_mask.png");
    return ok ? 0 : 1;
}
