#include "converter/window/fittext.h"

#include <QLabel>

namespace {

constexpr qreal SmallestPointSize = 6.0;
constexpr qreal Step = 0.5;

template <class Fits> void stepDown(QLabel *label, Fits fits)
{
    QFont font = label->font();
    while (font.pointSizeF() > SmallestPointSize && !fits()) {
        font.setPointSizeF(font.pointSizeF() - Step);
        label->setFont(font);
    }
}

} // namespace

void FitTextToBox(QLabel *label)
{
    stepDown(label, [label] { return label->heightForWidth(label->width()) <= label->height(); });
}

void FitTextToWidth(QLabel *label, int width)
{
    stepDown(label, [label, width] { return label->sizeHint().width() <= width; });
    label->resize(label->sizeHint());
}
