#include "runtime/componenthost.h"

#include "runtime/objectfactory.h"

namespace rt {

ComponentHost::ComponentHost(const QString &name, QObject *parent) : QObject(parent)
{
    setObjectName(name);
}

ComponentHost::~ComponentHost()
{
    m_control.reset();
}

void ComponentHost::create(const QString &classNameOrClsid, const Registry *registry)
{
    m_control = createObject(classNameOrClsid, this, registry);
}

void ComponentHost::adopt(std::unique_ptr<Control> control)
{
    m_control = std::move(control);
}

QWidget *ComponentHost::widget() const
{
    return m_control ? m_control->widget() : nullptr;
}

void ComponentHost::onEvent(DispId id, Handler handler)
{
    m_handlers.insert(id, std::move(handler));
}

QVariant ComponentHost::call(const QString &method, const QVariantList &args)
{
    return m_control->call(method, args);
}

void ComponentHost::propertyChanged(const QString &name)
{
    emit changed(name);
}

void ComponentHost::fireEvent(DispId id, QVariantList &args)
{
    const auto it = m_handlers.constFind(id);
    if (it != m_handlers.constEnd() && *it)
        (*it)(args);
}

} // namespace rt
