#include "buttonctl/ztbutton.h"

#include "buttonctl/clsgradient.h"
#include "buttonctl/modxpbutton.h"
#include "buttonctl/virtualkey.h"
#include "buttonctl/ztbuttonlib.h"
#include "runtime/comerror.h"
#include "runtime/controls.h"
#include "runtime/propertybag.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <functional>

namespace {

// The look of one colour style, each colour 0x00BBGGRR. Frame colours run in the order the
// lines are drawn: ring 1 top, left, bottom, right, then ring 2 top, left, bottom, right.
struct StyleColors
{
    quint32 backTop;
    quint32 backBottom;
    quint32 border;
    quint32 hover[8];
    quint32 focus[8];
    quint32 pressedTop;
    quint32 pressedBottom;
    quint32 pressedBorder;
    quint32 pressed[8];
    int pressedLines;
};

constexpr StyleColors Styles[3] = {
    // 默认风格 (1)
    {0xFBFCFC,
     0xEAF0F0,
     0x743C00,
     {0xCFF0FF, 0x58C3FA, 0x0097E5, 0x69CAFC, 0x89D8FD, 0x60C8FB, 0x30B3F8, 0x61C7FA},
     {0xFFE7CE, 0xEABB9C, 0xEE8269, 0xEBBB9C, 0xF6D4BC, 0xEBBC9D, 0xE4AD89, 0xEBBB9D},
     0xDDE4E5,
     0xDAE2E2,
     0x743C00,
     {0xC1CCD1, 0xCBD4D7, 0xEEF1F2, 0xDBE3E4, 0xCFD8DC, 0xD3DBDD, 0xE3E9EA, 0xDBE2E3},
     8},
    // 淡蓝风格 (2): its pressed look has ring 1 only
    {0xFFFFFF,
     0xD7C5C6,
     0x743C00,
     {0xCFF0FF, 0x58C3FA, 0x0097E5, 0x69CAFC, 0x89D8FD, 0x60C8FB, 0x30B3F8, 0x61C7FA},
     {0xFFE7CE, 0xECBEA0, 0xEE8269, 0xEBBB9C, 0xF6D4BC, 0xFFFFFF, 0xE4AD89, 0xFFFFFF},
     0xBDABAC,
     0xFFFFFF,
     0x743C00,
     {0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0, 0, 0, 0},
     4},
    // 黄色风格 (3)
    {0xF2FFFE,
     0xDBEEF3,
     0x066237,
     {0x95C5FC, 0x76AAE8, 0x2572CF, 0x6FA6E7, 0x96BEED, 0x6FA6E7, 0x4F91E3, 0x77ABE7},
     {0x8FD1C2, 0x67C7A0, 0x66A7A8, 0x68C6A1, 0x80CBB1, 0x5FC49B, 0x54C190, 0x5DC398},
     0xD2E6EE,
     0xCEE4EC,
     0x066237,
     {0xB4CDDF, 0xBFD4E3, 0xE4F4F8, 0xCFE5EE, 0xC3D9E7, 0xC6DCE8, 0xD8ECF2, 0xCFE4ED},
     8},
};

// The disabled look, shared by all styles.
constexpr quint32 DisabledBack = 0xEAF4F5;
constexpr quint32 DisabledBorder = 0xBAC7C9;
constexpr quint32 DisabledCaption = 0xBAC7C9;

constexpr int DesignWidth = 232;
constexpr int DesignHeight = 136;
constexpr int HoverInterval = 50; // ms

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

// ---- construction and end of life

namespace {

// What a screen reader sees of the button: a push button named by its caption (or by the name
// its host gave an icon-only one), with its own Enabled as its state and a press action.
class ZTbuttonAccessible final : public QAccessibleWidget
{
public:
    explicit ZTbuttonAccessible(ZTbutton *button) : QAccessibleWidget(button, QAccessible::Button)
    {}

    QString text(QAccessible::Text t) const override
    {
        if (t != QAccessible::Name)
            return QAccessibleWidget::text(t);
        const QString given = widget()->accessibleName();
        return given.isEmpty() ? button()->Caption().simplified() : given;
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        const bool enabled = button()->Enabled() && widget()->isEnabled();
        s.disabled = !enabled;
        s.focusable = enabled;
        s.focused = widget()->hasFocus(); // disabled, it still takes the focus
        s.pressed = button()->isPressed();
        return s;
    }

    QStringList actionNames() const override
    {
        return state().disabled ? QStringList() : QStringList{pressAction(), setFocusAction()};
    }

    void doAction(const QString &name) override
    {
        if (state().disabled)
            return;
        if (name == pressAction()) {
            // After the reader's request has been answered: a Click handler may open a modal
            // window, and the reader must not wait on it. (Dropped if the button goes first.)
            ZTbutton *target = button();
            QMetaObject::invokeMethod(
                target, [target] { target->pressLikeEnter(); }, Qt::QueuedConnection);
        } else {
            QAccessibleWidget::doAction(name);
        }
    }

private:
    ZTbutton *button() const { return static_cast<ZTbutton *>(widget()); }
};

QAccessibleInterface *accessibleButton(const QString &className, QObject *object)
{
    if (className == QLatin1String("ZTbutton") && object && object->isWidgetType())
        return new ZTbuttonAccessible(static_cast<ZTbutton *>(object));
    return nullptr;
}

} // namespace

ZTbutton::ZTbutton(ZTbuttonHost *host, QWidget *parent) : QWidget(parent), m_host(host)
{
    // Once per process; the library is never unloaded while the process runs.
    static const bool factoryInstalled = (QAccessible::installFactory(accessibleButton), true);
    (void)factoryInstalled;
    // Disabled or not, the button takes the focus from a click or Tab; only its handlers ignore
    // input while Enabled is False. Screen readers are told it cannot be focused (its state).
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);

    QFont design(QStringLiteral("Tahoma"));
    design.setPointSize(9);
    design.setWeight(QFont::Normal);
    m_surface.setFont(design);
    m_surface.setBackColor(rt::bgrFromColor(palette().color(QPalette::Button)));
    resize(DesignWidth, DesignHeight);
    m_surface.resize(DesignWidth, DesignHeight);

    tmrCheck.setInterval(HoverInterval);
    connect(&tmrCheck, &QTimer::timeout, this, [this] { tmrCheck_Timer(); });
}

ZTbutton::~ZTbutton()
{
    Terminate();
}

void ZTbutton::Terminate()
{
    tmrCheck.stop();
    m_Pressed = m_MouseOver = m_HasFocus = false;
    m_surface.Cls();
}

// ---- properties: store, tell the host, redraw

void ZTbutton::changed(const QString &name)
{
    if (m_host)
        m_host->propertyChanged(name);
    RedrawButton();
}

void ZTbutton::setCaptionAlignment(qint32 NewValue)
{
    m_CaptionAlignment = NewValue;
    changed(QStringLiteral("CaptionAlignment"));
}

void ZTbutton::setIconAlignment(qint32 NewValue)
{
    m_IconAlignment = NewValue;
    changed(QStringLiteral("IconAlignment"));
}

void ZTbutton::setCaption(const QString &NewValue)
{
    m_Caption = NewValue;
    changed(QStringLiteral("Caption"));
}

void ZTbutton::setForeColor(quint32 NewValue)
{
    m_ForeColor = NewValue;
    changed(QStringLiteral("ForeColor"));
}

void ZTbutton::setColorStyle(qint32 NewValue)
{
    m_ColorStyle = NewValue;
    changed(QStringLiteral("ColorStyle"));
}

void ZTbutton::setFocusDottedRect(bool NewValue)
{
    m_FocusDottedRect = NewValue;
    changed(QStringLiteral("FocusDottedRect"));
}

void ZTbutton::setEnabled(bool NewValue)
{
    m_Enabled = NewValue;
    QAccessible::State changes;
    changes.disabled = true;
    changes.focusable = true;
    QAccessibleStateChangeEvent event(this, changes);
    QAccessible::updateAccessibility(&event);
    changed(QStringLiteral("Enabled"));
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

void ZTbutton::setFontType(const QFont &NewValue)
{
    m_surface.setFont(NewValue);
    changed(QStringLiteral("FontType"));
}

void ZTbutton::setIconMask(const QImage &NewValue)
{
    m_IconMask = NewValue;
    imgMask.setPicture(NewValue);
    changed(QStringLiteral("IconMask"));
}

void ZTbutton::setIcon(const QImage &NewValue)
{
    m_Icon = NewValue;
    imgIcon.setPicture(NewValue);
    changed(QStringLiteral("Icon"));
}

void ZTbutton::setRoundedValue(qint32 NewValue)
{
    m_RoundedValue = NewValue;
    changed(QStringLiteral("RoundedValue"));
}

// ---- persistence

void ZTbutton::InitProperties()
{
    setCaption(m_host ? m_host->displayName() : QString());
    setForeColor(0);
    setColorStyle(DefaultStyle);
    setFocusDottedRect(true);
    setEnabled(true);
    setIcon(QImage());
    setIconMask(QImage());
    setRoundedValue(5);
    setCaptionAlignment(2);
    setIconAlignment(LeftJustify);
    if (m_host && m_host->userMode())
        tmrCheck.start();
    else
        tmrCheck.stop();
}

void ZTbutton::ReadProperties(rt::PropertyBag &PropBag)
{
    // A value that cannot be converted ends the read here; the host sees the error.
    setCaption(rt::toText(PropBag.read(QStringLiteral("Caption"), QString())));
    setForeColor(quint32(rt::toInt32(PropBag.read(QStringLiteral("ForeColor"), 0))));
    setColorStyle(rt::toInt32(PropBag.read(QStringLiteral("ColorStyle"), 1)));
    setFocusDottedRect(rt::toBool(PropBag.read(QStringLiteral("FocusDottedRect"), true)));
    setEnabled(rt::toBool(PropBag.read(QStringLiteral("Enabled"), true)));
    setFontType(rt::toFont(PropBag.read(QStringLiteral("FontType"), m_surface.Font())));
    setIcon(rt::toPicture(PropBag.read(QStringLiteral("Icon"), QImage())));
    setIconMask(rt::toPicture(PropBag.read(QStringLiteral("IconMask"), QImage())));
    setRoundedValue(rt::toInt32(PropBag.read(QStringLiteral("RoundedValue"), 5)));
    setCaptionAlignment(rt::toInt32(PropBag.read(QStringLiteral("CaptionAlignment"), 2)));
    setIconAlignment(rt::toInt32(PropBag.read(QStringLiteral("IconAlignment"), 1)));
    if (m_host && m_host->userMode())
        tmrCheck.start();
    else
        tmrCheck.stop();
}

void ZTbutton::WriteProperties(rt::PropertyBag &PropBag) const
{
    PropBag.write(QStringLiteral("Caption"), m_Caption, QString());
    PropBag.write(QStringLiteral("ForeColor"), qint32(m_ForeColor), 0);
    PropBag.write(QStringLiteral("ColorStyle"), m_ColorStyle, 1);
    PropBag.write(QStringLiteral("FocusDottedRect"), m_FocusDottedRect, true);
    PropBag.write(QStringLiteral("Enabled"), m_Enabled, true);
    // Its own default: the font is never stored, a loaded button has the design font.
    PropBag.write(QStringLiteral("FontType"), m_surface.Font(), m_surface.Font());
    PropBag.write(QStringLiteral("Icon"), m_Icon, QImage());
    PropBag.write(QStringLiteral("IconMask"), m_IconMask, QImage());
    PropBag.write(QStringLiteral("RoundedValue"), m_RoundedValue, 5);
    PropBag.write(QStringLiteral("CaptionAlignment"), m_CaptionAlignment, 2);
    PropBag.write(QStringLiteral("IconAlignment"), m_IconAlignment, 1);
}

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

void ZTbutton::UserControl_Paint()
{
    syncSurfaceSize();
    m_surface.Cls();
    RedrawButton();
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

// ---- painting

void ZTbutton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const qreal ratio = devicePixelRatioF();
    if (ratio != m_regionRatio) // moved to a screen of another ratio
        QMetaObject::invokeMethod(
            this, [this] { RedrawButton(); }, Qt::QueuedConnection);
    if (ratio == 1.0) {
        p.drawImage(0, 0, m_surface.image());
        return;
    }
    if (testAttribute(Qt::WA_OpaquePaintEvent)) {
        // Scaled corners are transparent: the window must be painted underneath from now on.
        setAttribute(Qt::WA_OpaquePaintEvent, false);
        update();
    }
    if (m_scaled.isNull() || m_scaled.devicePixelRatio() != ratio) {
        if (m_ColorStyle >= DefaultStyle && m_ColorStyle <= YellowStyle) {
            attempt([&] { m_scaled = drawScaledLook(currentLook(), QSize(W(), H()), ratio); });
        } else {
            // A look of no style is whatever the surface holds: shown smoothly enlarged.
            m_scaled = m_surface.image().scaled(m_surface.image().size() * ratio,
                                                Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        }
        m_scaled.setDevicePixelRatio(ratio);
    }
    p.drawImage(QPointF(0, 0), m_scaled);
}

ButtonLook ZTbutton::currentLook() const
{
    ButtonLook look;
    look.rounded = m_RoundedValue;
    look.caption = m_Caption;
    look.captionAlignment = m_CaptionAlignment;
    look.font = m_surface.Font();
    look.iconAlignment = m_IconAlignment;
    if (!m_Icon.isNull() && !m_IconMask.isNull()) {
        const QImage sharpIcon = rt::sharperPicture(m_Icon);
        const QImage sharpMask = rt::sharperPicture(m_IconMask);
        const bool sharp = !sharpIcon.isNull() && !sharpMask.isNull();
        look.icon = sharp ? sharpIcon : m_Icon;
        look.mask = sharp ? sharpMask : m_IconMask;
        look.iconSize = imgIcon.Picture().size();
    }
    if (!m_Enabled) {
        look.backTop = look.backBottom = DisabledBack;
        look.border = DisabledBorder;
        look.greyIcon = true;
        look.captionColor = DisabledCaption;
        return look;
    }
    const StyleColors &style = Styles[m_ColorStyle - 1];
    look.backTop = style.backTop;
    look.backBottom = style.backBottom;
    look.border = style.border;
    look.captionColor = m_ForeColor;
    if (m_MouseOver && !m_Pressed) {
        look.frame = style.hover;
        look.frameLines = 8;
    } else if (m_HasFocus && !m_Pressed) {
        look.frame = style.focus;
        look.frameLines = 8;
        look.dots = m_FocusDottedRect;
    } else if (m_Pressed) {
        look.backTop = style.pressedTop;
        look.backBottom = style.pressedBottom;
        look.border = style.pressedBorder;
        look.frame = style.pressed;
        look.frameLines = style.pressedLines;
        look.dots = m_HasFocus && m_FocusDottedRect;
    }
    return look;
}

void ZTbutton::resizeEvent(QResizeEvent *)
{
    UserControl_Paint();
}

void ZTbutton::syncSurfaceSize()
{
    if (m_surface.pixelWidth() != width() || m_surface.pixelHeight() != height())
        m_surface.resize(width(), height());
}

void ZTbutton::RedrawButton()
{
    syncSurfaceSize();
    // On a screen of another pixel ratio the region is the scaled look's, which covers its
    // outline whole.
    const qreal ratio = devicePixelRatioF();
    m_regionRatio = ratio;
    attempt([&] {
        const QRegion region =
            ratio == 1.0 ? CreateRoundRectRgn(0, 0, W(), H(), m_RoundedValue, m_RoundedValue)
                         : scaledLookRegion(QSize(W(), H()), m_RoundedValue, ratio);
        if (mask() != region)
            setMask(region);
    });
    if (m_ColorStyle >= DefaultStyle && m_ColorStyle <= YellowStyle)
        DrawLook(currentLook());
    else if (m_MouseOver && m_FocusDottedRect)
        attempt([&] { DrawFocusDots(); });
    m_scaled = QImage();
    update();
}

// A colour style's look on the 1x surface, each step attempted on its own.
void ZTbutton::DrawLook(const ButtonLook &look)
{
    attempt([&] {
        clsGradient gradient;
        gradient.DefineRect(0, 0, W(), H());
        gradient.DrawGradient(m_surface.hDC(), TopToBottom, look.backTop, look.backBottom);
    });
    attempt([&] {
        m_surface.setForeColor(look.border);
        RoundRect(m_surface.hDC(), 0, 0, W() - 1, H() - 1, m_RoundedValue, m_RoundedValue,
                  m_surface.ForeColor());
    });
    DrawFrame(look.frame, look.frameLines);
    if (look.dots)
        attempt([&] { DrawFocusDots(); });
    attempt([&] { DrawButtonIcon(); });
    m_surface.setForeColor(look.captionColor);
    attempt([&] { DrawButtonCaption(m_Caption, m_CaptionAlignment); });
}

// The state frame: two rings of one-pixel lines just inside the border.
void ZTbutton::DrawFrame(const quint32 *colors, int lines)
{
    const std::function<void()> line[8] = {
        [&] { m_surface.Line(2, 1, W() - 3, 1, colors[0]); },
        [&] { m_surface.Line(1, 2, 1, H() - 3, colors[1]); },
        [&] { m_surface.Line(2, H() - 3, W() - 3, H() - 3, colors[2]); },
        [&] { m_surface.Line(W() - 3, 2, W() - 3, H() - 3, colors[3]); },
        [&] { m_surface.Line(2, 2, W() - 3, 2, colors[4]); },
        [&] { m_surface.Line(2, 2, 2, H() - 3, colors[5]); },
        [&] { m_surface.Line(2, H() - 4, W() - 3, H() - 4, colors[6]); },
        [&] { m_surface.Line(W() - 4, 2, W() - 4, H() - 3, colors[7]); },
    };
    for (int i = 0; i < lines; ++i)
        attempt(line[i]);
}

void ZTbutton::DrawFocusDots()
{
    const int right = W() - 5;
    for (int x = 3; x <= right; x += 2)
        m_surface.PSet(x, 2, FocusDotColor);
    const int bottom = H() - 4;
    for (int y = 4; y <= bottom; y += 2)
        m_surface.PSet(2, y, FocusDotColor);
    for (int x = 3; x <= right; x += 2)
        m_surface.PSet(x, H() - 4, FocusDotColor);
    for (int y = 4; y <= bottom; y += 2)
        m_surface.PSet(W() - 4, y, FocusDotColor);
}

void ZTbutton::DrawButtonIcon()
{
    if (imgMask.Picture().isNull() || imgIcon.Picture().isNull())
        return;
    int Y = 0;
    attempt([&] { Y = vbRound(H() / 2.0 - imgIcon.ScaleHeight() / 2.0); });
    DrawSurface *first = &imgMask;
    DrawSurface *second = &imgIcon;
    if (!m_Enabled) {
        // Greyed: the mask alone, its black turned grey, through both passes.
        attempt([&] { imgDis.setPicture(imgMask.Picture()); });
        attempt([&] { ReplacePixelColor(imgDis, 0x000000, DisabledIconColor); });
        first = second = &imgDis;
    }
    int X = IconInset;
    if (m_IconAlignment == RightJustify)
        attempt([&] { X = vbRound(W() - second->ScaleWidth()) - IconInset; });
    else if (m_IconAlignment != LeftJustify)
        return;
    attempt([&] {
        BitBlt(m_surface.hDC(), X, Y, vbRound(first->ScaleWidth()), vbRound(first->ScaleHeight()),
               first->hDC(), 0, 0, SRCAND);
    });
    attempt([&] {
        BitBlt(m_surface.hDC(), X, Y, vbRound(second->ScaleWidth()), vbRound(second->ScaleHeight()),
               second->hDC(), 0, 0, SRCPAINT);
    });
}

void ZTbutton::DrawButtonCaption(const QString &caption, qint32 alignment)
{
    m_surface.setScaleMode(DrawSurface::Twips);
    // Whatever fails below, the surface goes back to pixels: every later drawing relies on it.
    struct BackToPixels
    {
        DrawSurface &surface;
        ~BackToPixels() { surface.setScaleMode(DrawSurface::Pixels); }
    } restore{m_surface};

    int X = 0, Y = 0;
    if (!CaptionPlace(size(), m_surface.TextWidth(caption), m_surface.TextHeight(caption),
                      alignment, &X, &Y))
        return;
    m_surface.setCurrentX(X);
    m_surface.setCurrentY(Y);
    m_surface.Print(caption);
}

// ---- the component instance

ZTbuttonControl::ZTbuttonControl(rt::ControlSite *site)
    : rt::Control(site), m_button(new ZTbutton(this))
{}

ZTbuttonControl::~ZTbuttonControl()
{
    if (!m_button)
        return;
    m_button->Terminate();
    m_button->detachHost();
    // A host may release the instance from inside one of its own event handlers.
    if (m_button->inHandler()) {
        m_button->hide();
        m_button->deleteLater();
    } else {
        delete m_button.data();
    }
}

ZTbutton &ZTbuttonControl::button()
{
    if (!m_button)
        throw rt::ComError(rt::ErrInvalidCall, QStringLiteral("The button's window is gone"));
    return *m_button;
}

QList<rt::MemberInfo> ZTbuttonControl::members() const
{
    return ztbutton::members();
}

QVariant ZTbuttonControl::getProperty(rt::DispId id)
{
    ZTbutton &b = button();
    switch (id) {
    case ztbutton::DispCaptionAlignment:
        return b.CaptionAlignment();
    case ztbutton::DispIconAlignment:
        return b.IconAlignment();
    case ztbutton::DispCaption:
        return b.Caption();
    case ztbutton::DispForeColor:
        return qint32(b.ForeColor());
    case ztbutton::DispColorStyle:
        return b.ColorStyle();
    case ztbutton::DispFocusDottedRect:
        return b.FocusDottedRect();
    case ztbutton::DispEnabled:
        return b.Enabled();
    case ztbutton::DispFontType:
        return b.FontType();
    case ztbutton::DispIconMask:
        return b.IconMask();
    case ztbutton::DispIcon:
        return b.Icon();
    case ztbutton::DispRoundedValue:
        return b.RoundedValue();
    default:
        throw rt::ComError(rt::ErrNoSuchMember,
                           QStringLiteral("Object doesn't support this property or method"));
    }
}

void ZTbuttonControl::putProperty(rt::DispId id, const QVariant &value)
{
    ZTbutton &b = button();
    switch (id) {
    case ztbutton::DispCaptionAlignment:
        b.setCaptionAlignment(rt::toInt32(value));
        break;
    case ztbutton::DispIconAlignment:
        b.setIconAlignment(rt::toInt32(value));
        break;
    case ztbutton::DispCaption:
        b.setCaption(rt::toText(value));
        break;
    case ztbutton::DispForeColor:
        // A colour may come unsigned (0x80000000 and up): keep its 32 bits.
        b.setForeColor(value.typeId() == QMetaType::UInt ? value.toUInt()
                                                         : quint32(rt::toInt32(value)));
        break;
    case ztbutton::DispColorStyle:
        b.setColorStyle(rt::toInt32(value));
        break;
    case ztbutton::DispFocusDottedRect:
        b.setFocusDottedRect(rt::toBool(value));
        break;
    case ztbutton::DispEnabled:
        b.setEnabled(rt::toBool(value));
        break;
    case ztbutton::DispFontType:
        b.setFontType(rt::toFont(value));
        break;
    case ztbutton::DispIconMask:
        b.setIconMask(rt::toPicture(value));
        break;
    case ztbutton::DispIcon:
        b.setIcon(rt::toPicture(value));
        break;
    case ztbutton::DispRoundedValue:
        b.setRoundedValue(rt::toInt32(value));
        break;
    default:
        throw rt::ComError(rt::ErrNoSuchMember,
                           QStringLiteral("Object doesn't support this property or method"));
    }
}

QVariant ZTbuttonControl::invoke(rt::DispId, const QVariantList &)
{
    throw rt::ComError(rt::ErrNoSuchMember,
                       QStringLiteral("Object doesn't support this property or method"));
}

void ZTbuttonControl::initNew()
{
    button().InitProperties();
}

void ZTbuttonControl::readProperties(rt::PropertyBag &bag)
{
    button().ReadProperties(bag);
}

void ZTbuttonControl::writeProperties(rt::PropertyBag &bag)
{
    button().WriteProperties(bag);
}

QString ZTbuttonControl::displayName() const
{
    return site() ? site()->displayName() : QString();
}

bool ZTbuttonControl::userMode() const
{
    return site() && site()->userMode();
}

void ZTbuttonControl::propertyChanged(const QString &name)
{
    if (site())
        site()->propertyChanged(name);
}

void ZTbuttonControl::raise(rt::DispId id, QVariantList &args)
{
    raiseEvent(id, args);
}
