// A small component library for exercising the runtime: one visible counter class whose
// identity comes from compile definitions, so two libraries can be registered side by side.

#include "runtime/comerror.h"
#include "runtime/component.h"
#include "runtime/propertybag.h"

#include <QLabel>
#include <QPointer>

namespace {

enum : rt::DispId
{
    IdValue = 1,
    IdStep = 2,
    IdAdd = 3,
    EventChanged = 1
};

class Counter final : public rt::Control
{
public:
    explicit Counter(rt::ControlSite *site) : rt::Control(site), m_label(new QLabel)
    {
        m_label->setFocusPolicy(Qt::StrongFocus);
    }
    ~Counter() override { delete m_label.data(); }

    QWidget *widget() override { return m_label; }

    QList<rt::MemberInfo> members() const override
    {
        return {{IdValue, QStringLiteral("Value"), rt::MemberKind::Property, true, true, {}, {}},
                {IdStep, QStringLiteral("Step"), rt::MemberKind::Property, true, true, {}, {}},
                {IdAdd,
                 QStringLiteral("Add"),
                 rt::MemberKind::Method,
                 false,
                 false,
                 {QStringLiteral("Amount")},
                 {}},
                {EventChanged,
                 QStringLiteral("Changed"),
                 rt::MemberKind::Event,
                 false,
                 false,
                 {QStringLiteral("NewValue"), QStringLiteral("Cancel")},
                 {}}};
    }

    QVariant getProperty(rt::DispId id) override
    {
        if (id == IdValue)
            return m_value;
        if (id == IdStep)
            return m_step;
        throw rt::ComError(rt::ErrNoSuchMember, QStringLiteral("no such property"));
    }

    void putProperty(rt::DispId id, const QVariant &value) override
    {
        if (id == IdValue)
            setValue(rt::toInt32(value));
        else if (id == IdStep)
            m_step = rt::toInt32(value);
        else
            throw rt::ComError(rt::ErrNoSuchMember, QStringLiteral("no such property"));
    }

    QVariant invoke(rt::DispId id, const QVariantList &args) override
    {
        if (id != IdAdd)
            throw rt::ComError(rt::ErrNoSuchMember, QStringLiteral("no such method"));
        if (args.size() != 1)
            throw rt::ComError(rt::ErrWrongArgumentCount, QStringLiteral("Add takes one argument"));
        setValue(m_value + rt::toInt32(args.first()) * m_step);
        return m_value;
    }

    void initNew() override
    {
        m_label->setText(site()->displayName());
        m_step = 1;
    }

    void readProperties(rt::PropertyBag &bag) override
    {
        m_label->setText(rt::toText(bag.read(QStringLiteral("Caption"), QString())));
        m_value = rt::toInt32(bag.read(QStringLiteral("Value"), 0));
        m_step = rt::toInt32(bag.read(QStringLiteral("Step"), 1));
    }

    void writeProperties(rt::PropertyBag &bag) override
    {
        bag.write(QStringLiteral("Caption"), m_label->text(), QString());
        bag.write(QStringLiteral("Value"), m_value, 0);
        bag.write(QStringLiteral("Step"), m_step, 1);
    }

private:
    // The host may cancel a change by setting the by-reference Cancel argument.
    void setValue(qint32 value)
    {
        QVariantList args{value, false};
        raiseEvent(EventChanged, args);
        if (!args.at(1).toBool())
            m_value = value;
        site()->propertyChanged(QStringLiteral("Value"));
    }

    QPointer<QLabel> m_label;
    qint32 m_value = 0;
    qint32 m_step = 1;
};

class Factory final : public rt::ClassFactory
{
public:
    std::unique_ptr<rt::Control> createInstance(rt::ControlSite *site) override
    {
        return std::make_unique<Counter>(site);
    }
};

rt::ClassFactory *factory()
{
    static Factory instance;
    return &instance;
}

const rt::LibraryInfo libraryInfo{"TestLib", "test library",
                                  "{00000000-0000-0000-0000-000000000001}", "1.0", "1.0"};
const rt::ClassInfo classTable[] = {{TEST_CLSID, TEST_PROGID, "test counter", &factory}};

} // namespace

RT_COMPONENT_LIBRARY(libraryInfo, classTable)
