#include "buttonctl/gdi/drawsurface.h"

#include "runtime/comerror.h"
#include "runtime/controls.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

namespace {

QRgb toRgb(quint32 bgr)
{
    return rt::colorFromBgr(bgr).rgb();
}

quint32 toBgr(QRgb rgb)
{
    return rt::bgrFromColor(QColor::fromRgb(rgb));
}

} // namespace

// The corner rows follow the system's integer ellipse walk (Zingl's error-term stepping over an
// ellipse whose axes are the width and height less one), not the true curve: at some sizes that
// is one pixel leaner in a row, and a window shaped by it must show the same corners.
std::vector<Span> roundedSpans(int left, int top, int right, int bottom, int ew, int eh)
{
    if (left > right)
        std::swap(left, right);
    if (top > bottom)
        std::swap(top, bottom);
    const qint64 width = qint64(right) - left, height = qint64(bottom) - top;
    // The bound keeps the error terms well inside 64 bits; no window is that large.
    constexpr qint64 largest = qint64(1) << 18;
    ew = int(std::min({std::abs(qint64(ew)), width, largest}));
    eh = int(std::min({std::abs(qint64(eh)), height, largest}));
    std::vector<Span> rows(size_t(height), Span{left, right - 1});
    if (ew < 2 || eh < 2)
        return rows;

    // inset[y] for the lower half of the ellipse's box, y from eh / 2 (the widest row) down.
    std::vector<int> inset(size_t(eh), -1);
    const qint64 a = ew - 1, b = eh - 1;
    const qint64 stepX = 8 * b * b, stepY = 8 * a * a;
    qint64 dx = 4 * b * b * (1 - a);
    qint64 dy = 4 * a * a * (1 + b % 2);
    qint64 err = dx + dy + a * a * (b % 2);
    int x = 0, y = eh / 2;
    inset[size_t(y)] = 0;
    while (x <= ew / 2) {
        const qint64 e2 = 2 * err;
        if (e2 >= dx) {
            ++x;
            dx += stepX;
            err += dx;
        }
        if (e2 <= dy) {
            if (++y >= eh)
                break;
            dy += stepY;
            err += dy;
            inset[size_t(y)] = x;
        }
    }
    // A tall, thin ellipse runs out of width before it reaches its last rows: they stay at
    // the narrowest the corner gets.
    for (int i = eh / 2 + 1; i < eh; ++i)
        if (inset[size_t(i)] < 0)
            inset[size_t(i)] = std::max(inset[size_t(i - 1)], ew / 2);

    auto setRow = [&](qint64 row, int in) { rows[size_t(row)] = Span{left + in, right - 1 - in}; };
    for (int i = 0; i < eh / 2; ++i)
        setRow(i, inset[size_t(b - i)]);
    for (int i = eh / 2 + 1; i < eh; ++i)
        setRow(height - eh + i, inset[size_t(i)]);
    return rows;
}

int vbRound(double value)
{
    if (!std::isfinite(value))
        throw rt::ComError(rt::ErrOverflow, QStringLiteral("Overflow"));
    const double r = std::nearbyint(value);
    if (r < double(std::numeric_limits<int>::min()) || r > double(std::numeric_limits<int>::max()))
        throw rt::ComError(rt::ErrOverflow, QStringLiteral("Overflow"));
    return int(r);
}

DrawSurface::DrawSurface() : m_image(0, 0, QImage::Format_RGB32)
{}

void DrawSurface::resize(int width, int height)
{
    m_image = QImage(std::max(0, width), std::max(0, height), QImage::Format_RGB32);
    Cls();
}

void DrawSurface::Cls()
{
    m_image.fill(toRgb(m_backColor));
}

void DrawSurface::setPicture(const QImage &picture)
{
    m_picture = picture;
    if (picture.isNull()) {
        resize(0, 0);
        return;
    }
    // Block transfers ignore alpha: keep each pixel's own colour channels.
    QImage pixels = picture.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < pixels.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(pixels.scanLine(y));
        for (int x = 0; x < pixels.width(); ++x)
            line[x] |= 0xFF000000u;
    }
    m_image = pixels.convertToFormat(QImage::Format_RGB32);
}

void DrawSurface::setScaleMode(int mode)
{
    m_scaleMode = mode == Twips ? Twips : Pixels;
}

void DrawSurface::PSet(double x, double y, quint32 color)
{
    const int px = toPixel(x), py = toPixel(y);
    if (m_image.valid(px, py))
        m_image.setPixel(px, py, toRgb(color));
}

qint32 DrawSurface::Point(double x, double y) const
{
    const int px = toPixel(x), py = toPixel(y);
    if (!m_image.valid(px, py))
        return -1;
    return qint32(toBgr(m_image.pixel(px, py)));
}

void Line(HDC hdc, int x1, int y1, int x2, int y2, quint32 color)
{
    if (!hdc || hdc->isNull())
        return;
    const QRgb rgb = toRgb(color);
    const int dx = std::abs(x2 - x1), dy = -std::abs(y2 - y1);
    const int sx = x1 < x2 ? 1 : -1, sy = y1 < y2 ? 1 : -1;
    int err = dx + dy;
    for (int x = x1, y = y1; x != x2 || y != y2;) {
        if (hdc->valid(x, y))
            hdc->setPixel(x, y, rgb);
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
}

void RoundRect(HDC hdc, int left, int top, int right, int bottom, int width, int height,
               quint32 penColor, int penWidth)
{
    if (!hdc || hdc->isNull())
        return;
    const int t = std::min(top, bottom);
    const std::vector<Span> rows = roundedSpans(left, top, right, bottom, width, height);
    const int n = int(rows.size());
    auto inside = [&](int x, int y) {
        const int i = y - t;
        return i >= 0 && i < n && x >= rows[size_t(i)].first && x <= rows[size_t(i)].last;
    };
    // A pixel is the pen's when some pixel outside the shape lies within penWidth steps.
    auto nearTheEdge = [&](int x, int y) {
        for (int dy = -penWidth; dy <= penWidth; ++dy) {
            const int reach = penWidth - std::abs(dy);
            for (int dx = -reach; dx <= reach; ++dx)
                if (!inside(x + dx, y + dy))
                    return true;
        }
        return false;
    };
    const QRgb rgb = toRgb(penColor);
    for (int i = 0; i < n; ++i) {
        const int y = t + i;
        for (int x = rows[size_t(i)].first; x <= rows[size_t(i)].last; ++x)
            if (hdc->valid(x, y) && nearTheEdge(x, y))
                hdc->setPixel(x, y, rgb);
    }
}

bool BitBlt(HDC dest, int x, int y, int width, int height, HDC src, int srcX, int srcY, quint32 rop)
{
    if (!dest || !src || dest->isNull() || src->isNull() || (rop != SRCAND && rop != SRCPAINT))
        return false;
    // Clip to both bitmaps; nothing outside either is touched.
    const int x0 = std::max({0, x, x - srcX});
    const int y0 = std::max({0, y, y - srcY});
    const int x1 = std::min({dest->width(), x + width, x - srcX + src->width()});
    const int y1 = std::min({dest->height(), y + height, y - srcY + src->height()});
    for (int dy = y0; dy < y1; ++dy) {
        auto *d = reinterpret_cast<QRgb *>(dest->scanLine(dy));
        const auto *s = reinterpret_cast<const QRgb *>(src->constScanLine(dy - y + srcY));
        for (int dx = x0; dx < x1; ++dx) {
            const QRgb sp = s[dx - x + srcX];
            d[dx] = (rop == SRCAND ? (d[dx] & sp) : (d[dx] | sp)) | 0xFF000000u;
        }
    }
    return true;
}

QRegion CreateRoundRectRgn(int left, int top, int right, int bottom, int width, int height)
{
    if (left > right)
        std::swap(left, right);
    if (top > bottom)
        std::swap(top, bottom);
    QRegion region;
    if (right - 1 <= left || bottom - 1 <= top)
        return region;
    const std::vector<Span> rows = roundedSpans(left, top, right - 1, bottom - 1, width, height);
    const int t = top;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].last >= rows[i].first)
            region += QRect(rows[i].first, t + int(i), rows[i].last - rows[i].first + 1, 1);
    }
    return region;
}
