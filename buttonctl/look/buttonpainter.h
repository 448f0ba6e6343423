#pragma once

#include "buttonctl/gdi/drawsurface.h"

#include <QFont>
#include <QImage>
#include <QRegion>
#include <QSize>
#include <QString>
#include <exception>

// Where the look puts its parts, the same on every pixel grid.
constexpr quint32 FocusDotColor = 0x000000;
constexpr quint32 DisabledIconColor = 0x99A8AC;
constexpr int IconInset = 5;
constexpr int CaptionSideInset = 100; // twips
constexpr int CaptionRaise = 20;      // twips

// What the button shows in one state, apart from the pixel grid it is drawn on.
struct ButtonLook
{
    // A colour style's look. Without one, only the focus dots may be drawn, over what is there.
    bool styled = false;
    quint32 backTop = 0;
    quint32 backBottom = 0;
    quint32 border = 0;
    const quint32 *frame = nullptr; // the state frame's line colours, in drawing order
    int frameLines = 0;
    bool dots = false;
    bool greyIcon = false;
    quint32 captionColor = 0;
    int rounded = 0;
    QString caption;
    qint32 captionAlignment = 2;
    QFont font;
    // The pictures as set; on other grids their sharper drawings where both have one.
    QImage icon;
    QImage mask;
    qint32 iconAlignment = 1;
};

// Each drawing step is tried on its own: a failing one is skipped and the next one runs. The
// button then looks incomplete; the reason goes to the program's log (standard error).
template <class Step> void attempt(Step &&step)
{
    try {
        step();
    } catch (const std::exception &error) {
        qWarning("ZTbutton：按钮的一步绘制失败，已略过：%s", error.what());
    }
}

// Where a caption of the given size (in twips) starts, in twips from the button's top-left
// corner, for alignment 0 (left), 1 (right) or 2 (centre); false for any other alignment.
bool CaptionPlace(QSize designSize, double textWidth, double textHeight, qint32 alignment, int *X,
                  int *Y);

// The device pixels of a button of `designSize` on a grid of `ratio` device pixels to a pixel.
QSize lookDeviceSize(QSize designSize, qreal ratio);

// Draws the look over `device`, which holds lookDeviceSize() pixels. At ratio 1 that is the
// button's own surface, drawn pixel for pixel as the forms runtime draws it. On other grids the
// rings, dots and corners are whole blocks of device pixels counted from their own edge (so no
// side is thicker than its opposite), the gradient spans the device rows, the caption and icon
// are drawn at device resolution, and what lies outside the rounded shape is made transparent.
void DrawLook(HDC device, const ButtonLook &look, QSize designSize, qreal ratio);

// The window region of the button: the rounded shape at ratio 1, and on other grids the logical
// pixels that hold the device shape, so that no pixel of its outline is cut away.
QRegion LookRegion(QSize designSize, int rounded, qreal ratio);
