#include "buttonctl/scaledlook.h"

#include "buttonctl/clsgradient.h"
#include "buttonctl/drawsurface.h"
#include "buttonctl/modxpbutton.h"
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

// The device pixels of a design size: a ring's width from each edge is a whole multiple of
// `unit`; what is left between the edges' rings is the middle's.
struct Grid
{
    int design;
    int device;
    int unit;
    int at(int x) const { return x < design / 2 ? x * unit : device - (design - x) * unit; }
};

// The device size of a design size, and how many device pixels a ring's design pixel takes.
struct DeviceSize
{
    int unit, width, height;
};

DeviceSize deviceSize(QSize designSize, qreal ratio)
{
    return {std::max(1, int(std::lround(ratio))), int(std::ceil(designSize.width() * ratio - 1e-6)),
            int(std::ceil(designSize.height() * ratio - 1e-6))};
}

QImage scaledTo(const QImage &source, QSize size)
{
    if (source.size() == size)
        return source.convertToFormat(QImage::Format_RGB32);
    return source.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_RGB32);
}

} // namespace

bool CaptionPlace(QSize designSize, double textWidth, double textHeight, qint32 alignment,
                  int *X, int *Y)
{
    const double Wt = designSize.width() * 15.0, Ht = designSize.height() * 15.0;
    *Y = vbRound(Ht * 0.5 - (textHeight * 0.5 + CaptionRaise));
    switch (alignment) {
    case 2:
        *X = vbRound(Wt * 0.5 - textWidth * 0.5);
        return true;
    case 0:
        *X = CaptionSideInset;
        return true;
    case 1:
        *X = vbRound(Wt - textWidth - CaptionSideInset);
        return true;
    default:
        return false;
    }
}

QImage drawScaledLook(const ButtonLook &look, QSize designSize, qreal ratio)
{
    const auto [unit, Wd, Hd] = deviceSize(designSize, ratio);
    const int W = designSize.width(), H = designSize.height();
    QImage image(std::max(0, Wd), std::max(0, Hd), QImage::Format_ARGB32);
    if (image.isNull() || W < 2 || H < 2)
        return image;
    const Grid gx{W, Wd, unit}, gy{H, Hd, unit};

    clsGradient gradient;
    gradient.DefineRect(0, 0, Wd, Hd);
    gradient.DrawGradient(&image, TopToBottom, look.backTop, look.backBottom);

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
            DrawSurface grey;
            grey.setPicture(look.mask);
            ReplacePixelColor(grey, 0x000000, DisabledIconColor);
            mask = icon = scaledTo(grey.image(), size);
        }
        const int y = vbRound(Hd / 2.0 - size.height() / 2.0);
        const int x = look.iconAlignment == 1 ? IconInset * unit
                                              : Wd - size.width() - IconInset * unit;
        HDC target = &image;
        BitBlt(target, x, y, size.width(), size.height(), &mask, 0, 0, SRCAND);
        BitBlt(target, x, y, size.width(), size.height(), &icon, 0, 0, SRCPAINT);
    }

    // Placed in design pixels as at 1x (measured on a 1x surface), drawn at device size.
    const QImage oneX(1, 1, QImage::Format_RGB32);
    const QFontMetricsF metrics(look.font, &oneX);
    int X = 0, Y = 0;
    if (!look.caption.isEmpty() &&
        CaptionPlace(designSize, metrics.horizontalAdvance(look.caption) * 15.0,
                     metrics.height() * 15.0, look.captionAlignment, &X, &Y)) {
        QPainter p(&image);
        p.scale(ratio, ratio);
        p.setFont(look.font);
        p.setPen(rt::colorFromBgr(look.captionColor));
        p.drawText(QPointF(vbRound(X / 15.0), vbRound(Y / 15.0) + metrics.ascent()),
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
    const auto [unit, Wd, Hd] = deviceSize(designSize, ratio);
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
