#include "buttonctl/look/buttonpainter.h"

#include "buttonctl/gdi/clsgradient.h"
#include "buttonctl/gdi/drawsurface.h"
#include "buttonctl/gdi/modxpbutton.h"
#include "runtime/controls.h"

#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace {

// How many device pixels a ring's design pixel takes on a grid of `ratio`.
int unitOf(qreal ratio)
{
    return std::max(1, int(std::lround(ratio)));
}

// One axis of the grid: design pixel x starts at device pixel at(x). Counted in whole units
// from the nearer edge, so both sides' rings are alike; what is left over goes to the middle.
struct Axis
{
    int design;
    int device;
    int unit;
    int at(int x) const { return x < design / 2 ? x * unit : device - (design - x) * unit; }
};

// A picture as a holder keeps it (block transfers ignore alpha), brought to `size`.
QImage holderPixels(const DrawSurface &holder, QSize size)
{
    const QImage &pixels = holder.image();
    if (pixels.size() == size)
        return pixels.convertToFormat(QImage::Format_RGB32);
    return pixels.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_RGB32);
}

bool insideRows(const std::vector<Span> &rows, int x, int y)
{
    return y >= 0 && y < int(rows.size()) && x >= rows[size_t(y)].first &&
           x <= rows[size_t(y)].last;
}

// The routines of one redraw, on one grid.
class ButtonPainter
{
public:
    ButtonPainter(HDC device, QSize designSize, qreal ratio)
        : m_device(device), m_W(designSize.width()), m_H(designSize.height()), m_ratio(ratio),
          m_unit(unitOf(ratio)), m_x{m_W, device->width(), m_unit}, m_y{m_H, device->height(),
                                                                        m_unit}
    {}

    void DrawBackground(quint32 top, quint32 bottom);
    void DrawBorder(quint32 color, int rounded);
    void DrawFrame(const quint32 *colors, int lines);
    void DrawFocusDots();
    void DrawButtonIcon(const ButtonLook &look);
    void DrawButtonCaption(const ButtonLook &look);
    void CutToShape(int rounded);

private:
    void DrawFrameLine(int x1, int y1, int x2, int y2, quint32 color);
    void dot(int x, int y);
    QSize onGrid(QSize size) const;

    HDC m_device;
    int m_W, m_H; // the design size
    qreal m_ratio;
    int m_unit;
    Axis m_x, m_y;
};

void ButtonPainter::DrawBackground(quint32 top, quint32 bottom)
{
    clsGradient gradient;
    gradient.DefineRect(0, 0, m_device->width(), m_device->height());
    gradient.DrawGradient(m_device, TopToBottom, top, bottom);
}

// The outline from (0, 0) to the last unit before the right and bottom edges, a pen one unit wide.
void ButtonPainter::DrawBorder(quint32 color, int rounded)
{
    RoundRect(m_device, 0, 0, m_device->width() - m_unit, m_device->height() - m_unit,
              rounded * m_unit, rounded * m_unit, color, m_unit);
}

// The state frame: two rings of one-pixel lines just inside the border, drawn in this order from
// and to these design pixels.
void ButtonPainter::DrawFrame(const quint32 *colors, int lines)
{
    const int W = m_W, H = m_H;
    const int ends[8][4] = {
        {2, 1, W - 3, 1}, {1, 2, 1, H - 3}, {2, H - 3, W - 3, H - 3}, {W - 3, 2, W - 3, H - 3},
        {2, 2, W - 3, 2}, {2, 2, 2, H - 3}, {2, H - 4, W - 3, H - 4}, {W - 4, 2, W - 4, H - 3},
    };
    for (int i = 0; i < std::min(lines, 8); ++i)
        attempt([&] { DrawFrameLine(ends[i][0], ends[i][1], ends[i][2], ends[i][3], colors[i]); });
}

// A design line of the frame (a row or a column) covers the design pixels the 1x Line covers: up
// to its end, or from its start back when the end lies before it. On the device grid that is one
// Line per device row or column of a unit's thickness; where the grid folds up in the middle of
// a tiny button there is no room for it.
void ButtonPainter::DrawFrameLine(int x1, int y1, int x2, int y2, quint32 color)
{
    const auto covered = [](int from, int to) {
        return from <= to ? std::pair{from, to} : std::pair{to + 1, from + 1};
    };
    if (y1 == y2) {
        const auto [first, end] = covered(x1, x2);
        const int from = m_x.at(first), to = m_x.at(end);
        for (int y = m_y.at(y1); from < to && y < m_y.at(y1 + 1); ++y)
            Line(m_device, from, y, to, y, color);
    } else {
        const auto [first, end] = covered(y1, y2);
        const int from = m_y.at(first), to = m_y.at(end);
        for (int x = m_x.at(x1); from < to && x < m_x.at(x1 + 1); ++x)
            Line(m_device, x, from, x, to, color);
    }
}

// Every second unit along the lines of ring 2, from the left and from the top.
void ButtonPainter::DrawFocusDots()
{
    const int right = m_x.at(m_W - 5);
    const int bottom = m_y.at(m_H - 4);
    for (int x = m_x.at(3); x <= right; x += 2 * m_unit) {
        dot(x, m_y.at(2));
        dot(x, m_y.at(m_H - 4));
    }
    for (int y = m_y.at(4); y <= bottom; y += 2 * m_unit) {
        dot(m_x.at(2), y);
        dot(m_x.at(m_W - 4), y);
    }
}

void ButtonPainter::dot(int x, int y)
{
    const QRgb black = rt::colorFromBgr(FocusDotColor).rgb();
    for (int row = std::max(0, y); row < std::min(m_device->height(), y + m_unit); ++row)
        for (int col = std::max(0, x); col < std::min(m_device->width(), x + m_unit); ++col)
            m_device->setPixel(col, row, black);
}

QSize ButtonPainter::onGrid(QSize size) const
{
    return QSize(int(std::lround(size.width() * m_ratio)),
                 int(std::lround(size.height() * m_ratio)));
}

// The icon through its mask, or the mask greyed through both passes when disabled, at the left
// or right inset and centred on the icon's height.
void ButtonPainter::DrawButtonIcon(const ButtonLook &look)
{
    if (look.mask.isNull() || look.icon.isNull())
        return;
    const QImage sharpIcon = m_ratio == 1.0 ? QImage() : rt::sharperPicture(look.icon);
    const QImage sharpMask = m_ratio == 1.0 ? QImage() : rt::sharperPicture(look.mask);
    const bool sharp = !sharpIcon.isNull() && !sharpMask.isNull();
    DrawSurface imgIcon, imgMask, imgDis;
    attempt([&] { imgIcon.setPicture(sharp ? sharpIcon : look.icon); });
    attempt([&] { imgMask.setPicture(sharp ? sharpMask : look.mask); });
    QImage first = holderPixels(imgMask, onGrid(look.mask.size()));
    QImage second = holderPixels(imgIcon, onGrid(look.icon.size()));
    int Y = 0;
    attempt([&] { Y = vbRound(m_device->height() / 2.0 - second.height() / 2.0); });
    if (look.greyIcon) {
        attempt([&] { imgDis.setPicture(imgMask.Picture()); });
        attempt([&] { ReplacePixelColor(imgDis, 0x000000, DisabledIconColor); });
        first = second = holderPixels(imgDis, onGrid(look.mask.size()));
    }
    int X = IconInset * m_unit;
    if (look.iconAlignment == 2)
        attempt([&] { X = vbRound(m_device->width() - second.width()) - IconInset * m_unit; });
    else if (look.iconAlignment != 1)
        return;
    attempt([&] { BitBlt(m_device, X, Y, first.width(), first.height(), &first, 0, 0, SRCAND); });
    attempt(
        [&] { BitBlt(m_device, X, Y, second.width(), second.height(), &second, 0, 0, SRCPAINT); });
}

// Measured and placed in twips on the design grid, as a 1x surface measures it, then drawn at
// the device resolution.
void ButtonPainter::DrawButtonCaption(const ButtonLook &look)
{
    const QImage oneX(1, 1, QImage::Format_RGB32);
    const QFontMetricsF metrics(look.font, &oneX);
    int X = 0, Y = 0;
    if (look.caption.isEmpty() ||
        !CaptionPlace(QSize(m_W, m_H), metrics.horizontalAdvance(look.caption) * 15.0,
                      metrics.height() * 15.0, look.captionAlignment, &X, &Y))
        return;
    QPainter p(m_device);
    p.scale(m_ratio, m_ratio);
    p.setFont(look.font);
    p.setPen(rt::colorFromBgr(look.captionColor));
    p.drawText(QPointF(vbRound(X / 15.0), vbRound(Y / 15.0) + metrics.ascent()), look.caption);
}

// Off the 1x grid the window region cannot cut device pixels: outside the shape is transparent.
void ButtonPainter::CutToShape(int rounded)
{
    const int Wd = m_device->width(), Hd = m_device->height();
    const std::vector<Span> rows =
        roundedSpans(0, 0, Wd - m_unit, Hd - m_unit, rounded * m_unit, rounded * m_unit);
    for (int y = 0; y < Hd; ++y) {
        auto *line = reinterpret_cast<QRgb *>(m_device->scanLine(y));
        for (int x = 0; x < Wd; ++x)
            line[x] = insideRows(rows, x, y) ? (line[x] | 0xFF000000u) : 0u;
    }
}

} // namespace

bool CaptionPlace(QSize designSize, double textWidth, double textHeight, qint32 alignment, int *X,
                  int *Y)
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

QSize lookDeviceSize(QSize designSize, qreal ratio)
{
    return QSize(std::max(0, int(std::ceil(designSize.width() * ratio - 1e-6))),
                 std::max(0, int(std::ceil(designSize.height() * ratio - 1e-6))));
}

// Background, border, state frame, focus dots, icon, caption: later steps over earlier ones.
void DrawLook(HDC device, const ButtonLook &look, QSize designSize, qreal ratio)
{
    if (!device || device->isNull())
        return;
    ButtonPainter painter(device, designSize, ratio);
    if (!look.styled) {
        if (look.dots)
            attempt([&] { painter.DrawFocusDots(); });
        return;
    }
    attempt([&] { painter.DrawBackground(look.backTop, look.backBottom); });
    attempt([&] { painter.DrawBorder(look.border, look.rounded); });
    painter.DrawFrame(look.frame, look.frameLines);
    if (look.dots)
        attempt([&] { painter.DrawFocusDots(); });
    attempt([&] { painter.DrawButtonIcon(look); });
    attempt([&] { painter.DrawButtonCaption(look); });
    if (ratio != 1.0)
        attempt([&] { painter.CutToShape(look.rounded); });
}

QRegion LookRegion(QSize designSize, int rounded, qreal ratio)
{
    const int W = designSize.width(), H = designSize.height();
    if (ratio == 1.0)
        return CreateRoundRectRgn(0, 0, W, H, rounded, rounded);
    QRegion region;
    if (W < 2 || H < 2)
        return region;
    const QSize device = lookDeviceSize(designSize, ratio);
    const int unit = unitOf(ratio);
    const std::vector<Span> rows = roundedSpans(0, 0, device.width() - unit, device.height() - unit,
                                                rounded * unit, rounded * unit);
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
