#include "buttonctl/gdi/modxpbutton.h"

#include "buttonctl/gdi/drawsurface.h"

void ReplacePixelColor(DrawSurface &holder, quint32 findColor, quint32 putColor)
{
    holder.setScaleMode(DrawSurface::Pixels);
    const int width = vbRound(holder.ScaleWidth());
    const int height = vbRound(holder.ScaleHeight());
    if (width < 1)
        return;
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y) {
            if (quint32(holder.Point(x, y)) == findColor)
                holder.PSet(x, y, putColor);
        }
    }
}
