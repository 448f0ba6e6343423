#pragma once

#include "buttonctl/control/ztbutton.h"
#include "runtime/control.h"

#include <QPointer>

// The button as a component instance: late-bound properties, events and persistence.
class ZTbuttonControl final : public rt::Control, private ZTbuttonHost
{
public:
    explicit ZTbuttonControl(rt::ControlSite *site);
    ~ZTbuttonControl() override;

    QWidget *widget() override { return m_button; }
    QList<rt::MemberInfo> members() const override;
    QVariant getProperty(rt::DispId id) override;
    void putProperty(rt::DispId id, const QVariant &value) override;
    QVariant invoke(rt::DispId id, const QVariantList &args) override;
    void initNew() override;
    void readProperties(rt::PropertyBag &bag) override;
    void writeProperties(rt::PropertyBag &bag) override;

private:
    QString displayName() const override;
    bool userMode() const override;
    void propertyChanged(const QString &name) override;
    void raise(rt::DispId id, QVariantList &args) override;
    ZTbutton &button();

    QPointer<ZTbutton> m_button;
};
