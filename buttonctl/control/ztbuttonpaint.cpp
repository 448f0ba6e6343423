#include "buttonctl/control/ztbutton.h"

#include <QEvent>
#include <QPainter>

// The button's painting: every redraw draws the whole look on the 1x surface and, on a screen
// of another pixel ratio, on that screen's grid; a paint event only shows what was drawn.

void ZTbutton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.drawImage(QPointF(0, 0), m_screen.isNull() ? m_surface.image() : m_screen);
}

bool ZTbutton::event(QEvent *event)
{
    const bool handled = QWidget::event(event);
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::ParentChange:
    case QEvent::ScreenChangeInternal: // moved to another screen
        followPixelRatio();
        break;
    default:
        break;
    }
    return handled;
}

void ZTbutton::followPixelRatio()
{
    if (devicePixelRatioF() != m_ratio)
        RedrawButton();
}

void ZTbutton::resizeEvent(QResizeEvent *)
{
    UserControl_Paint();
}

void ZTbutton::UserControl_Paint()
{
    syncSurfaceSize();
    m_surface.Cls();
    RedrawButton();
}

void ZTbutton::syncSurfaceSize()
{
    if (m_surface.pixelWidth() != width() || m_surface.pixelHeight() != height())
        m_surface.resize(width(), height());
}

ButtonLook ZTbutton::currentLook() const
{
    ButtonLook look;
    look.rounded = m_RoundedValue;
    look.caption = m_Caption;
    look.captionAlignment = m_CaptionAlignment;
    look.font = m_surface.Font();
    look.icon = m_Icon;
    look.mask = m_IconMask;
    look.iconAlignment = m_IconAlignment;
    const StyleColors *style = StyleColorsOf(m_ColorStyle);
    if (!style) {
        look.dots = m_MouseOver && m_FocusDottedRect;
        return look;
    }
    look.styled = true;
    if (!m_Enabled) {
        look.backTop = look.backBottom = DisabledBack;
        look.border = DisabledBorder;
        look.greyIcon = true;
        look.captionColor = DisabledCaption;
        return look;
    }
    look.backTop = style->backTop;
    look.backBottom = style->backBottom;
    look.border = style->border;
    look.captionColor = m_ForeColor;
    if (m_MouseOver && !m_Pressed) {
        look.frame = style->hover;
        look.frameLines = 8;
    } else if (m_HasFocus && !m_Pressed) {
        look.frame = style->focus;
        look.frameLines = 8;
        look.dots = m_FocusDottedRect;
    } else if (m_Pressed) {
        look.backTop = style->pressedTop;
        look.backBottom = style->pressedBottom;
        look.border = style->pressedBorder;
        look.frame = style->pressed;
        look.frameLines = style->pressedLines;
        look.dots = m_HasFocus && m_FocusDottedRect;
    }
    return look;
}

void ZTbutton::RedrawButton()
{
    syncSurfaceSize();
    const qreal ratio = devicePixelRatioF();
    const QSize design(W(), H());
    attempt([&] {
        const QRegion region = LookRegion(design, m_RoundedValue, ratio);
        if (mask() != region)
            setMask(region);
    });
    const ButtonLook look = currentLook();
    DrawLook(m_surface.hDC(), look, design, 1.0);
    m_ratio = ratio;
    m_screen = QImage();
    if (ratio != 1.0) {
        attempt([&] {
            if (look.styled) {
                m_screen = QImage(lookDeviceSize(design, ratio), QImage::Format_ARGB32);
                m_screen.fill(Qt::transparent);
                DrawLook(&m_screen, look, design, ratio);
            } else {
                // A look of no style is whatever the surface holds: shown smoothly enlarged.
                m_screen =
                    m_surface.image().scaled(m_surface.image().size() * ratio,
                                             Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            }
            m_screen.setDevicePixelRatio(ratio);
        });
    }
    // Off the 1x grid the corners are transparent: what is under the button shows there.
    setAttribute(Qt::WA_OpaquePaintEvent, ratio == 1.0);
    update();
}
