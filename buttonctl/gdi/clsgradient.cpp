#include "buttonctl/gdi/clsgradient.h"

#include <algorithm>

namespace {

// A vertex as the gradient-fill service takes it: 16-bit channels, the colour byte times 256.
struct TriVertex
{
    qint64 x, y;
    quint32 red, green, blue;
};

TriVertex vertex(qint32 x, qint32 y, quint32 bgr)
{
    return {x, y, (bgr & 0xFF) * 256, ((bgr >> 8) & 0xFF) * 256, ((bgr >> 16) & 0xFF) * 256};
}

quint32 channel(quint32 from, quint32 to, qint64 step, qint64 steps)
{
    const qint64 value = (qint64(from) * (steps - step) + qint64(to) * step) / steps;
    return quint32(value >> 8);
}

} // namespace

void clsGradient::DefineRect(qint32 left, qint32 top, qint32 right, qint32 bottom)
{
    m_Left = left;
    m_Top = top;
    m_Right = right;
    m_Bottom = bottom;
}

void clsGradient::DrawGradient(HDC hdc, qint32 direction, quint32 startColor,
                               quint32 endColor) const
{
    if (!hdc || hdc->isNull() || (direction != LeftToRight && direction != TopToBottom))
        return;
    const TriVertex v0 = vertex(m_Left, m_Top, startColor);
    const TriVertex v1 = vertex(m_Right, m_Bottom, endColor);
    const qint64 width = v1.x - v0.x, height = v1.y - v0.y;
    if (width <= 0 || height <= 0)
        return;
    const int x0 = int(std::max<qint64>(0, v0.x)), x1 = int(std::min<qint64>(hdc->width(), v1.x));
    const int y0 = int(std::max<qint64>(0, v0.y)), y1 = int(std::min<qint64>(hdc->height(), v1.y));
    for (int y = y0; y < y1; ++y) {
        auto *line = reinterpret_cast<QRgb *>(hdc->scanLine(y));
        for (int x = x0; x < x1; ++x) {
            const qint64 step = direction == TopToBottom ? y - v0.y : x - v0.x;
            const qint64 steps = direction == TopToBottom ? height : width;
            line[x] = qRgb(int(channel(v0.red, v1.red, step, steps)),
                           int(channel(v0.green, v1.green, step, steps)),
                           int(channel(v0.blue, v1.blue, step, steps)));
        }
    }
}
