#pragma once

#include <QtGlobal>

class DrawSurface;

// Turns every pixel of exactly `findColor` in the holder's picture into `putColor` (0x00BBGGRR).
void ReplacePixelColor(DrawSurface &holder, quint32 findColor, quint32 putColor);
