#pragma once

#include "runtime/control.h"
#include "runtime/export.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

namespace rt {

class Registry;

// The site of one hosted component, on a window or held by the terminal's batch: owns the
// instance, keeps its name, answers the ambient values and passes the component's events to the
// host's handlers. Needs nothing of Qt but its core.
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

} // namespace rt
