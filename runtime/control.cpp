#include "runtime/control.h"

#include "runtime/comerror.h"

namespace rt {

ControlSite::~ControlSite() = default;

Control::Control(ControlSite *site) : m_site(site)
{}

Control::~Control() = default;

DispId Control::dispIdOf(const QString &name, MemberKind kind) const
{
    for (const MemberInfo &m : members()) {
        if (m.kind == kind && m.name.compare(name, Qt::CaseInsensitive) == 0)
            return m.id;
    }
    throw ComError(ErrNoSuchMember,
                   QStringLiteral("Object doesn't support this property or method: %1").arg(name));
}

QVariant Control::get(const QString &name)
{
    return getProperty(dispIdOf(name, MemberKind::Property));
}

void Control::put(const QString &name, const QVariant &value)
{
    putProperty(dispIdOf(name, MemberKind::Property), value);
}

QVariant Control::call(const QString &name, const QVariantList &args)
{
    return invoke(dispIdOf(name, MemberKind::Method), args);
}

void Control::raiseEvent(DispId id, QVariantList &args)
{
    if (m_site)
        m_site->fireEvent(id, args);
}

void Control::raiseEvent(DispId id)
{
    QVariantList none;
    raiseEvent(id, none);
}

} // namespace rt
