#pragma once

#include "runtime/control.h"
#include "runtime/controls.h"
#include "runtime/export.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

namespace rt {

class Registry;

// The site of one hosted component on a window: owns the instance, keeps the host's Tag and
// name, answers the ambient values and passes the component's events to the window's handlers.
class RT_EXPORT ComponentHost : public QObject, public ControlSite
{
    Q_OBJECT
public:
    using Handler = std::function<void(QVariantList &args)>;

    ComponentHost(const QString &name, QObject *parent = nullptr);
    ~ComponentHost() override;

    // Creates the instance by class name through the registry; throws ComError.
    void create(const QString &classNameOrClsid, const Registry *registry = nullptr);
    void adopt(std::unique_ptr<Control> control);
    Control *control() const { return m_control.get(); }
    QWidget *widget() const;

    QString name() const { return objectName(); }
    void setUserMode(bool on) { m_userMode = on; }
    void onEvent(DispId id, Handler handler);

    // Convenience for the common late-bound calls.
    QVariant get(DispId id) { return m_control->getProperty(id); }
    void put(DispId id, const QVariant &value) { m_control->putProperty(id, value); }
    QVariant call(const QString &method, const QVariantList &args = {});

    // ControlSite
    QString displayName() const override { return objectName(); }
    bool userMode() const override { return m_userMode; }
    void propertyChanged(const QString &name) override;
    void fireEvent(DispId id, QVariantList &args) override;

signals:
    void changed(const QString &property);

private:
    std::unique_ptr<Control> m_control;
    QHash<DispId, Handler> m_handlers;
    bool m_userMode = true;
};

// Builds a window from its description (a JSON data file): each control's kind, name, container,
// place in twips, caption or text, colours, font, tab position and initial state; hosted
// components by class name with their property bag. Pictures are named relative to the
// description's folder.
class RT_EXPORT FormLoader
{
public:
    explicit FormLoader(const Registry *registry = nullptr) : m_registry(registry) {}

    // Fills `form` (sized, captioned, coloured) and creates its controls as its children.
    // Throws ComError when the description is unreadable or a component cannot be created.
    void load(const QString &descriptionPath, Form *form);

    QObject *find(const QString &name) const { return m_controls.value(name); }
    template <class T> T *control(const QString &name) const
    {
        return qobject_cast<T *>(m_controls.value(name));
    }
    ComponentHost *host(const QString &name) const { return control<ComponentHost>(name); }
    QStringList names() const { return m_order; }

private:
    const Registry *m_registry;
    QHash<QString, QObject *> m_controls;
    QStringList m_order;
};

} // namespace rt
