#include "converter/app/coverscale.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>

QByteArray ScaleCover(const QByteArray &data, int size, QString *why)
{
    QBuffer in;
    in.setData(data);
    QImageReader reader(&in);
    const QByteArray format = reader.format(); // "jpeg" or "png"
    const QImage image = reader.read();
    if (image.isNull()) {
        *why = QStringLiteral("无法读取封面图片：") + reader.errorString();
        return {};
    }
    if (image.width() <= size && image.height() <= size)
        return data;
    const QImage scaled = image.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    if (!scaled.save(&buffer, format.constData(), format == "jpeg" ? 90 : -1)) {
        *why = QStringLiteral("无法缩小封面图片");
        return {};
    }
    return out;
}
