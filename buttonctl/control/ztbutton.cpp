#include "buttonctl/control/ztbutton.h"

#include "buttonctl/control/ztbuttonaccessible.h"
#include "runtime/controls.h"
#include "runtime/propertybag.h"

#include <QAccessible>

// The control's life, its properties and their persistence. Input, focus and hover are in
// ztbuttoninput.cpp, painting in ztbuttonpaint.cpp.

namespace {

constexpr int DesignWidth = 232;
constexpr int DesignHeight = 136;
constexpr int HoverInterval = 50; // ms

} // namespace

// ---- construction and end of life

ZTbutton::ZTbutton(ZTbuttonHost *host, QWidget *parent) : QWidget(parent), m_host(host)
{
    installButtonAccessibility();
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

    tmrCheck.setObjectName(QStringLiteral("tmrCheck"));
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

template <class T> void ZTbutton::store(T &field, const T &value, const char *name)
{
    field = value;
    changed(QString::fromLatin1(name));
}

void ZTbutton::setCaptionAlignment(qint32 NewValue)
{
    store(m_CaptionAlignment, NewValue, "CaptionAlignment");
}

void ZTbutton::setIconAlignment(qint32 NewValue)
{
    store(m_IconAlignment, NewValue, "IconAlignment");
}

void ZTbutton::setCaption(const QString &NewValue)
{
    store(m_Caption, NewValue, "Caption");
}

void ZTbutton::setForeColor(quint32 NewValue)
{
    store(m_ForeColor, NewValue, "ForeColor");
}

void ZTbutton::setColorStyle(qint32 NewValue)
{
    store(m_ColorStyle, NewValue, "ColorStyle");
}

void ZTbutton::setFocusDottedRect(bool NewValue)
{
    store(m_FocusDottedRect, NewValue, "FocusDottedRect");
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

void ZTbutton::setFontType(const QFont &NewValue)
{
    m_surface.setFont(NewValue);
    changed(QStringLiteral("FontType"));
}

void ZTbutton::setIconMask(const QImage &NewValue)
{
    store(m_IconMask, NewValue, "IconMask");
}

void ZTbutton::setIcon(const QImage &NewValue)
{
    store(m_Icon, NewValue, "Icon");
}

void ZTbutton::setRoundedValue(qint32 NewValue)
{
    store(m_RoundedValue, NewValue, "RoundedValue");
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
