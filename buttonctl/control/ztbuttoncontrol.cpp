#include "buttonctl/control/ztbuttoncontrol.h"

#include "buttonctl/control/ztbuttonmembers.h"
#include "runtime/comerror.h"
#include "runtime/propertybag.h"

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
