#pragma once

#include "buttonctl/gdi/drawsurface.h"

#include <QtGlobal>

// The directions of a gradient, as the library publishes them.
enum GRADIENT_DIRECT : qint32
{
    LeftToRight = 0,
    TopToBottom = 1
};

// Fills a rectangle of a surface with a two-colour linear gradient.
class clsGradient
{
public:
    void DefineRect(qint32 left, qint32 top, qint32 right, qint32 bottom);
    // Colours are 0x00BBGGRR; the rectangle is filled up to, not including, right and bottom.
    void DrawGradient(HDC hdc, qint32 direction, quint32 startColor, quint32 endColor) const;

private:
    qint32 m_Left = 0;
    qint32 m_Top = 0;
    qint32 m_Right = 0;
    qint32 m_Bottom = 0;
};
