#pragma once

#include <QFont>
#include <QImage>
#include <QRegion>
#include <vector>

// A device context is the pixel buffer of a surface: what is drawn through it is what the
// surface's own operations read back.
using HDC = QImage *;

// The raster operations of BitBlt that the button uses.
constexpr quint32 SRCAND = 0x008800C6;   // destination AND source
constexpr quint32 SRCPAINT = 0x00EE0086; // destination OR source

// Rounds to the nearest whole number, halves to even; throws ComError(ErrOverflow) when the
// result does not fit 32 bits.
int vbRound(double value);

// A drawing surface with the forms runtime's pixel rules: right and bottom edges exclusive,
// coordinates in pixels or in twips (15 to a pixel). It also serves as a picture holder:
// setting a picture sizes the surface to it.
class DrawSurface
{
public:
    enum ScaleModes
    {
        Twips = 1,
        Pixels = 3
    };

    DrawSurface();

    // Sizes the surface in pixels; the new pixels are the back colour.
    void resize(int width, int height);
    int pixelWidth() const { return m_image.width(); }
    int pixelHeight() const { return m_image.height(); }
    const QImage &image() const { return m_image; }
    HDC hDC() { return &m_image; }

    quint32 BackColor() const { return m_backColor; }
    void setBackColor(quint32 bgr) { m_backColor = bgr; }
    // Clears to the back colour.
    void Cls();

    // Picture holder: the picture as set (null when empty) and the pixels it was copied to.
    const QImage &Picture() const { return m_picture; }
    void setPicture(const QImage &picture);

    int ScaleMode() const { return m_scaleMode; }
    void setScaleMode(int mode);
    double ScaleWidth() const { return m_image.width() * unit(); }
    double ScaleHeight() const { return m_image.height() * unit(); }

    const QFont &Font() const { return m_font; }
    void setFont(const QFont &font) { m_font = font; }

    void PSet(double x, double y, quint32 color);
    // The colour at a point as 0x00BBGGRR, or -1 outside the surface.
    qint32 Point(double x, double y) const;

private:
    double unit() const { return m_scaleMode == Twips ? 15.0 : 1.0; }
    int toPixel(double v) const { return vbRound(v / unit()); }

    QImage m_image;
    QImage m_picture;
    QFont m_font;
    int m_scaleMode = Pixels;
    quint32 m_backColor = 0x00FFFFFF;
};

// One row of a rounded rectangle: the first and last pixel inside it.
struct Span
{
    int first;
    int last;
};

// The rows of the rounded rectangle [left, right) x [top, bottom) whose corners are quarter
// ellipses of the given width and height: the shape RoundRect outlines.
std::vector<Span> roundedSpans(int left, int top, int right, int bottom, int ew, int eh);

// The GDI operations the button draws with, on a device context.
// A one-pixel line that leaves out its last pixel, as LineTo does.
void Line(HDC hdc, int x1, int y1, int x2, int y2, quint32 color);
// The outline of a rounded rectangle with a hollow brush; a pen wider than one pixel grows inward,
// each pixel of it within `penWidth` steps (across and along) of the shape's edge.
void RoundRect(HDC hdc, int left, int top, int right, int bottom, int width, int height,
               quint32 penColor, int penWidth = 1);
bool BitBlt(HDC dest, int x, int y, int width, int height, HDC src, int srcX, int srcY,
            quint32 rop);
// The region of a rounded rectangle as GDI builds it: like a fill without a pen, it leaves out
// the last column and row, so an outline drawn to (right - 1, bottom - 1) lies on its edge.
QRegion CreateRoundRectRgn(int left, int top, int right, int bottom, int width, int height);
