#include "buttonctl/control/virtualkey.h"
#include "buttonctl/control/ztbutton.h"
#include "buttonctl/control/ztbuttonmembers.h"

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>

// The button's input, focus and hover: the platform's events turned into the forms runtime's
// notifications, each raising its event and changing the look as the control's rules say.

namespace {

qint16 vbShift(Qt::KeyboardModifiers modifiers)
{
    return qint16((modifiers & Qt::ShiftModifier ? 1 : 0) |
                  (modifiers & Qt::ControlModifier ? 2 : 0) |
                  (modifiers & Qt::AltModifier ? 4 : 0));
}

qint16 vbButton(Qt::MouseButtons buttons)
{
    return qint16((buttons & Qt::LeftButton ? 1 : 0) | (buttons & Qt::RightButton ? 2 : 0) |
                  (buttons & Qt::MiddleButton ? 4 : 0));
}

} // namespace

// ---- input, focus and hover

bool ZTbutton::raise(rt::DispId id, QVariantList &args)
{
    if (!m_host)
        return false;
    QPointer<ZTbutton> self(this);
    ++m_handlerDepth;
    m_host->raise(id, args);
    if (!self)
        return false;
    --m_handlerDepth;
    return m_host != nullptr;
}

void ZTbutton::UserControl_Click()
{
    if (!m_Enabled)
        return;
    QVariantList none;
    raise(ztbutton::EventClick, none);
}

void ZTbutton::UserControl_DblClick()
{
    if (!m_Enabled)
        return;
    QVariantList none;
    raise(ztbutton::EventDoubleClick, none);
}

void ZTbutton::UserControl_GotFocus()
{
    if (!m_Enabled)
        return;
    m_HasFocus = true;
    RedrawButton();
}

void ZTbutton::UserControl_LostFocus()
{
    if (!m_Enabled)
        return;
    m_HasFocus = false;
    RedrawButton();
}

void ZTbutton::UserControl_KeyDown(qint16 KeyCode, qint16 Shift)
{
    if (!m_Enabled)
        return;
    QVariantList args{KeyCode, Shift};
    if (!raise(ztbutton::EventKeyDown, args))
        return;
    // The host may have changed the key (by reference).
    if (args.value(0).toInt() == 32) {
        m_Pressed = true;
        RedrawButton();
    }
}

void ZTbutton::UserControl_KeyPress(qint16 KeyAscii)
{
    if (!m_Enabled)
        return;
    QVariantList args{KeyAscii};
    if (!raise(ztbutton::EventKeyPress, args))
        return;
    // Enabled was tested once, above: a host that disables the button in its KeyPress
    // handler still gets the Click for Enter.
    if (args.value(0).toInt() == 13) {
        QVariantList none;
        raise(ztbutton::EventClick, none);
    }
}

void ZTbutton::UserControl_KeyUp(qint16 KeyCode, qint16 Shift)
{
    if (!m_Enabled)
        return;
    QVariantList args{KeyCode, Shift};
    if (!raise(ztbutton::EventKeyUp, args))
        return;
    if (args.value(0).toInt() == 32) {
        m_Pressed = false;
        RedrawButton();
    }
}

void ZTbutton::UserControl_MouseDown(qint16 Button, qint16 Shift, float X, float Y)
{
    if (!m_Enabled)
        return;
    QVariantList args{Button, Shift, X, Y};
    if (!raise(ztbutton::EventMouseDown, args))
        return;
    if (args.value(0).toInt() == 1) {
        m_Pressed = true;
        RedrawButton();
    }
}

void ZTbutton::UserControl_MouseMove(qint16 Button, qint16 Shift, float X, float Y)
{
    if (!m_Enabled)
        return;
    QVariantList args{Button, Shift, X, Y};
    raise(ztbutton::EventMouseMove, args);
}

void ZTbutton::UserControl_MouseUp(qint16 Button, qint16 Shift, float X, float Y)
{
    if (!m_Enabled)
        return;
    QVariantList args{Button, Shift, X, Y};
    if (!raise(ztbutton::EventMouseUp, args))
        return;
    if (args.value(0).toInt() == 1) {
        m_Pressed = false;
        RedrawButton();
    }
}

void ZTbutton::tmrCheck_Timer()
{
    if (!m_Enabled)
        return;
    tmrCheck.stop();
    const QPoint pos = QCursor::pos();
    m_CursorPos = {pos.x(), pos.y()};
    // Only where this window is the topmost one under the cursor does it count as over it.
    const bool over = QApplication::widgetAt(pos) == this;
    if (m_MouseOver && !over) {
        m_MouseOver = false;
        RedrawButton();
        QVariantList args{m_CursorPos.X, m_CursorPos.Y};
        if (!raise(ztbutton::EventMouseLeaves, args))
            return;
    }
    if (!m_MouseOver && over) {
        m_MouseOver = true;
        RedrawButton();
        QVariantList args{m_CursorPos.X, m_CursorPos.Y};
        if (!raise(ztbutton::EventMouseEnters, args))
            return;
    }
    tmrCheck.start();
}

void ZTbutton::focusInEvent(QFocusEvent *)
{
    UserControl_GotFocus();
}

void ZTbutton::focusOutEvent(QFocusEvent *)
{
    UserControl_LostFocus();
}

void ZTbutton::keyPressEvent(QKeyEvent *event)
{
    event->accept();
    QPointer<ZTbutton> self(this);
    UserControl_KeyDown(virtualKey(event->key(), event->modifiers()), vbShift(event->modifiers()));
    if (self && !event->text().isEmpty())
        UserControl_KeyPress(qint16(event->text().at(0).unicode()));
}

void ZTbutton::keyReleaseEvent(QKeyEvent *event)
{
    event->accept();
    // A held key repeats its key-down only.
    if (event->isAutoRepeat())
        return;
    UserControl_KeyUp(virtualKey(event->key(), event->modifiers()), vbShift(event->modifiers()));
}

void ZTbutton::mousePressEvent(QMouseEvent *event)
{
    m_clickArmed = event->button() == Qt::LeftButton;
    UserControl_MouseDown(vbButton(event->button()), vbShift(event->modifiers()),
                          float(event->position().x()), float(event->position().y()));
}

void ZTbutton::mouseMoveEvent(QMouseEvent *event)
{
    UserControl_MouseMove(vbButton(event->buttons()), vbShift(event->modifiers()),
                          float(event->position().x()), float(event->position().y()));
}

void ZTbutton::mouseReleaseEvent(QMouseEvent *event)
{
    // A click is a left press and release on the button's own (rounded) window.
    const QPoint at = event->position().toPoint();
    const bool click = m_clickArmed && event->button() == Qt::LeftButton && rect().contains(at) &&
                       (mask().isEmpty() || mask().contains(at));
    if (event->button() == Qt::LeftButton)
        m_clickArmed = false;
    QPointer<ZTbutton> self(this);
    UserControl_MouseUp(vbButton(event->button()), vbShift(event->modifiers()),
                        float(event->position().x()), float(event->position().y()));
    if (self && click)
        UserControl_Click();
}

void ZTbutton::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        mousePressEvent(event);
        return;
    }
    // The second press of a double click is reported as the double click alone.
    m_clickArmed = false;
    UserControl_DblClick();
}

// The key events Enter gives, through the same handlers, so the host sees the same events in
// the same order.
void ZTbutton::pressLikeEnter()
{
    QPointer<ZTbutton> self(this);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    keyPressEvent(&press);
    if (!self)
        return;
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    keyReleaseEvent(&release);
}
