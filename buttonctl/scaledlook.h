#pragma once

#include <QFont>
#include <QImage>
#include <QRegion>
#include <QSize>
#include <QString>

// Where the look puts its parts, the same on every pixel grid.
constexpr quint32 FocusDotColor = 0x000000;
constexpr quint32 DisabledIconColor = 0x99A8AC;
constexpr int IconInset = 5;
constexpr int CaptionSideInset = 100; // twips
constexpr int CaptionRaise = 20;      // twips

// What the button shows in one state, apart from the pixel grid it is drawn on.
struct ButtonLook
{
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
    // The sharpest icon and mask there are, and the size the icon has at 1x.
    QImage icon;
    QImage mask;
    QSize iconSize;
    qint32 iconAlignment = 1;
};

// Where a caption of the given size (in twips) starts, in twips from the button's top-left
// corner, for alignment 0 (left), 1 (right) or 2 (centre); false for any other alignment.
bool CaptionPlace(QSize designSize, double textWidth, double textHeight, qint32 alignment,
                  int *X, int *Y);

// The look drawn on `ratio` device pixels to a design pixel: the rings and corners are scaled by
// a whole number of device pixels from each edge (so no side is thicker than its opposite), the
// gradient spans the device rows, the caption and icon are drawn at device resolution. Outside the
// button's rounded shape the image is transparent. At ratio 1 it is the 1x look pixel for pixel.
QImage drawScaledLook(const ButtonLook &look, QSize designSize, qreal ratio);

// The logical pixels that hold the scaled look's shape: the window region of the button on such a
// screen, so that no pixel of its outline is cut away.
QRegion scaledLookRegion(QSize designSize, int rounded, qreal ratio);
