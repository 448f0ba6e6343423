#pragma once

#include "runtime/export.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariant>

class QWidget;

namespace rt {

class PropertyBag;

using DispId = qint32;

enum class MemberKind
{
    Property,
    Method,
    Event
};

// One entry of a component's type information: what a host can list and call late-bound.
struct MemberInfo
{
    DispId id = 0;
    QString name;
    MemberKind kind = MemberKind::Method;
    bool canGet = false;
    bool canPut = false;
    QStringList parameters;
    QString help;
};

// What a control asks of the window that hosts it.
class RT_EXPORT ControlSite
{
public:
    virtual ~ControlSite();
    // Ambient values.
    virtual QString displayName() const = 0;
    virtual bool userMode() const = 0;
    // A property changed (by its name), so the host can mark its description dirty.
    virtual void propertyChanged(const QString &name) = 0;
    // Raise event `id`; by-reference arguments may be changed by the host in place.
    virtual void fireEvent(DispId id, QVariantList &args) = 0;
};

// One instance of a component class. Calls that fail throw rt::ComError.
class RT_EXPORT Control
{
public:
    explicit Control(ControlSite *site);
    virtual ~Control();
    Control(const Control &) = delete;
    Control &operator=(const Control &) = delete;

    ControlSite *site() const { return m_site; }

    // The control's window; nullptr for a control that is not shown at run time.
    virtual QWidget *widget() { return nullptr; }

    virtual QList<MemberInfo> members() const = 0;
    virtual QVariant getProperty(DispId id) = 0;
    virtual void putProperty(DispId id, const QVariant &value) = 0;
    virtual QVariant invoke(DispId id, const QVariantList &args) = 0;

    // Persistence, as the host drives it: a new instance or one loaded from a bag.
    virtual void initNew() {}
    virtual void readProperties(PropertyBag &bag) { Q_UNUSED(bag); }
    virtual void writeProperties(PropertyBag &bag) { Q_UNUSED(bag); }

    // Late binding by name (case-insensitive); throws ErrNoSuchMember when unknown.
    DispId dispIdOf(const QString &name, MemberKind kind = MemberKind::Property) const;
    QVariant get(const QString &name);
    void put(const QString &name, const QVariant &value);
    QVariant call(const QString &name, const QVariantList &args = {});

protected:
    void raiseEvent(DispId id, QVariantList &args);
    void raiseEvent(DispId id);

private:
    ControlSite *m_site;
};

} // namespace rt
