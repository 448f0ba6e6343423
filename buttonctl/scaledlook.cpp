#include "buttonctl/scaledlook.h"

#include "buttonctl/drawsurface.h"
#include "runtime/controls.h"

#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <vector>

namespace {

QRgb rgb(quint32 bgr)
{
    return rt::colorFromBgr(bgr).rgb();
}

int halfEven(double v)
{
    return int(std::nearbyint(v));
}

// The device pixels of a design size: a ring's width from each edge is a whole multiple of
// `unit`; what is left between the edges' rings is the middle's.
struct Grid
{
    int design;
    int device;
    int unit;
    int at(int x) const { return x < design / 2 ? x * unit : device - (design - x) * unit; }
};

QImage scaledTo(const QImage &source, QSize size)
{
    if (source.size() == size)
        return source.convertToFormat(QImage::Format_RGB32);
    return source.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_RGB32);
}

} // namespace

QImage drawScaledLook(const ButtonLook &look, QSize designSize, qreal ratio)
{
    const int unit = std::max(1, int(std::lround(ratio)));
    const int W = designSize.width(), H = designSize.height();
    const int Wd = int(std::ceil(W * ratio - 1e-6)), Hd = int(std::ceil(H * ratio - 1e-6));
    QImage image(std::max(0, Wd), std::max(0, Hd), QImage::Format_ARGB32);
    if (image.isNull() || W < 2 || H < 2)
        return image;
    const Grid gx{W, Wd, unit}, gy{H, Hd, unit};

    // The gradient over the device rows, as the gradient fill computes its steps.
    for (int y = 0; y < Hd; ++y) {
        auto channel = [&](int shift) {
            const qint64 from = ((look.backTop >> shift) & 0xFF) * 256;
            const qint64 to = ((look.backBottom >> shift) & 0xFF) * 256;
            return int(((from * (Hd - y) + to * y) / Hd) >> 8);
        };
        const QRgb c = qRgb(channel(0), channel(8), channel(16));
        std::fill_n(reinterpret_cast<QRgb *>(image.scanLine(y)), Wd, c);
    }

    // The shape and its outline `unit` device pixels thick, peeled off ring by ring as the
    // one-pixel pen draws the edge.
    const int rounded = look.rounded * unit;
    const std::vector<Span> rows = roundedSpans(0, 0, Wd - unit, Hd - unit, rounded, rounded);
    std::vector<char> inside(size_t(Wd) * size_t(Hd), 0);
    for (size_t y = 0; y < rows.size(); ++y)
        for (int x = std::max(0, rows[y].first); x <= std::min(Wd - 1, rows[y].last); ++x)
            inside[y * size_t(Wd) + size_t(x)] = 1;
    std::vector<char> shape = inside;
    auto in = [&](const std::vector<char> &set, int x, int y) {
        return x >= 0 && y >= 0 && x < Wd && y < Hd && set[size_t(y) * size_t(Wd) + size_t(x)];
    };
    for (int ring = 0; ring < unit; ++ring) {
        std::vector<char> next = inside;
        for (int y = 0; y < Hd; ++y)
            for (int x = 0; x < Wd; ++x)
                if (in(inside, x, y) && (!in(inside, x - 1, y) || !in(inside, x + 1, y) ||
                                         !in(inside, x, y - 1) || !in(inside, x, y + 1))) {
                    image.setPixel(x, y, rgb(look.border));
                    next[size_t(y) * size_t(Wd) + size_t(x)] = 0;
                }
        inside.swap(next);
    }

    auto fill = [&](int x0, int y0, int x1, int y1, quint32 color) {
        for (int y = std::max(0, y0); y < std::min(Hd, y1); ++y)
            for (int x = std::max(0, x0); x < std::min(Wd, x1); ++x)
                image.setPixel(x, y, rgb(color));
    };
    // The state frame's lines: for each, the design pixels it covers (first inclusive, last
    // exclusive) along and across.
    struct FrameLine
    {
        bool across; // a row (true) or a column
        int at, from, to;
    };
    const FrameLine frameLines[8] = {
        {true, 1, 2, W - 3},  {false, 1, 2, H - 3},     {true, H - 3, 2, W - 3},
        {false, W - 3, 2, H - 3}, {true, 2, 2, W - 3},  {false, 2, 2, H - 3},
        {true, H - 4, 2, W - 3},  {false, W - 4, 2, H - 3},
    };
    for (int i = 0; i < std::min(look.frameLines, 8); ++i) {
        const FrameLine &l = frameLines[i];
        if (l.across)
            fill(gx.at(l.from), gy.at(l.at), gx.at(l.to), gy.at(l.at + 1), look.frame[i]);
        else
            fill(gx.at(l.at), gy.at(l.from), gx.at(l.at + 1), gy.at(l.to), look.frame[i]);
    }
    if (look.dots) {
        for (int x = gx.at(3); x <= gx.at(W - 5); x += 2 * unit) {
            fill(x, gy.at(2), x + unit, gy.at(2) + unit, FocusDotColor);
            fill(x, gy.at(H - 4), x + unit, gy.at(H - 4) + unit, FocusDotColor);
        }
        for (int y = gy.at(4); y <= gy.at(H - 4); y += 2 * unit) {
            fill(gx.at(2), y, gx.at(2) + unit, y + unit, FocusDotColor);
            fill(gx.at(W - 4), y, gx.at(W - 4) + unit, y + unit, FocusDotColor);
        }
    }

    if (!look.icon.isNull() && !look.mask.isNull() && !look.iconSize.isEmpty() &&
        (look.iconAlignment == 1 || look.iconAlignment == 2)) {
        const QSize size(int(std::lround(look.iconSize.width() * ratio)),
                         int(std::lround(look.iconSize.height() * ratio)));
        QImage mask = scaledTo(look.mask, size);
        QImage icon = scaledTo(look.icon, size);
        if (look.greyIcon) {
            // Greyed: the mask alone, its black turned grey, through both passes.
            QImage grey = look.mask.convertToFormat(QImage::Format_RGB32);
            for (int y = 0; y < grey.height(); ++y) {
                auto *line = reinterpret_cast<QRgb *>(grey.scanLine(y));
                for (int x = 0; x < grey.width(); ++x)
                    if ((line[x] & 0xFFFFFF) == 0)
                        line[x] = rgb(DisabledIconColor);
            }
            mask = icon = scaledTo(grey, size);
        }
        const int y = halfEven(Hd / 2.0 - size.height() / 2.0);
        const int x = look.iconAlignment == 1 ? IconInset * unit
                                              : Wd - size.width() - IconInset * unit;
        HDC target = &image;
        BitBlt(target, x, y, size.width(), size.height(), &mask, 0, 0, SRCAND);
        BitBlt(target, x, y, size.width(), size.height(), &icon, 0, 0, SRCPAINT);
    }

    if (!look.caption.isEmpty() && look.captionAlignment >= 0 && look.captionAlignment <= 2) {
        // Placed in design pixels as at 1x (measured on a 1x surface), drawn at device size.
        const QImage oneX(1, 1, QImage::Format_RGB32);
        const QFontMetricsF metrics(look.font, &oneX);
        const double Wt = W * 15.0, Ht = H * 15.0;
        const double TW = metrics.horizontalAdvance(look.caption) * 15.0;
        const double TH = metrics.height() * 15.0;
        const int Y = halfEven(Ht * 0.5 - (TH * 0.5 + CaptionRaise));
        const int X = look.captionAlignment == 2   ? halfEven(Wt * 0.5 - TW * 0.5)
                      : look.captionAlignment == 0 ? CaptionSideInset
                                                   : halfEven(Wt - TW - CaptionSideInset);
        QPainter p(&image);
        p.scale(ratio, ratio);
        p.setFont(look.font);
        p.setPen(rt::colorFromBgr(look.captionColor));
        p.drawText(QPointF(halfEven(X / 15.0), halfEven(Y / 15.0) + metrics.ascent()),
                   look.caption);
    }

    for (int y = 0; y < Hd; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < Wd; ++x)
            line[x] = in(shape, x, y) ? (line[x] | 0xFF000000u) : 0u;
    }
    return image;
}

QRegion scaledLookRegion(QSize designSize, int rounded, qreal ratio)
{
    const int unit = std::max(1, int(std::lround(ratio)));
    const int Wd = int(std::ceil(designSize.width() * ratio - 1e-6));
    const int Hd = int(std::ceil(designSize.height() * ratio - 1e-6));
    QRegion region;
    if (designSize.width() < 2 || designSize.height() < 2)
        return region;
    const std::vector<Span> rows =
        roundedSpans(0, 0, Wd - unit, Hd - unit, rounded * unit, rounded * unit);
    for (size_t y = 0; y < rows.size(); ++y) {
        if (rows[y].last < rows[y].first)
            continue;
        const int top = int(std::floor(int(y) / ratio));
        const int bottom = int(std::ceil((int(y) + 1) / ratio));
        const int left = int(std::floor(rows[y].first / ratio));
        const int right = int(std::ceil((rows[y].last + 1) / ratio));
        region += QRect(left, top, right - left, bottom - top);
    }
    return region;
}
