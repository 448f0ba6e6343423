#include "runtime/accessible.h"

#include "runtime/controls.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QGroupBox>

namespace rt {

namespace {

// A window or frame whose children, as a screen reader walks them, leave out the pictures and
// the arrows that only decorate.
class ContainerAccessible final : public QAccessibleWidget
{
public:
    ContainerAccessible(QWidget *widget, QAccessible::Role role) : QAccessibleWidget(widget, role)
    {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            if (const auto *frame = qobject_cast<const QGroupBox *>(widget()))
                return frame->title();
        return QAccessibleWidget::text(t);
    }

    int childCount() const override { return int(shown().size()); }

    QAccessibleInterface *child(int index) const override
    {
        const QList<QWidget *> children = shown();
        return index >= 0 && index < children.size()
                   ? QAccessible::queryAccessibleInterface(children.at(index))
                   : nullptr;
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return child ? int(shown().indexOf(qobject_cast<QWidget *>(child->object()))) : -1;
    }

private:
    QList<QWidget *> shown() const
    {
        QList<QWidget *> children;
        for (QObject *o : widget()->children()) {
            auto *w = qobject_cast<QWidget *>(o);
            if (w && !w->isWindow() && !isDecorative(w))
                children.append(w);
        }
        return children;
    }
};

QAccessibleInterface *containerFactory(const QString &className, QObject *object)
{
    auto *widget = qobject_cast<QWidget *>(object);
    if (!widget)
        return nullptr;
    if (className == QLatin1String("rt::Form"))
        return new ContainerAccessible(widget, widget->isWindow() ? QAccessible::Window
                                                                  : QAccessible::Client);
    if (className == QLatin1String("rt::Frame"))
        return new ContainerAccessible(widget, QAccessible::Grouping);
    return nullptr;
}

} // namespace

void installAccessibleControls()
{
    static const bool installed = (QAccessible::installFactory(containerFactory), true);
    (void)installed;
}

} // namespace rt
