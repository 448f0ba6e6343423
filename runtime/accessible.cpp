#include "runtime/accessible.h"

#include "runtime/controls.h"

#include <QAccessible>
#include <QAbstractButton>
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

// A check box or option button whose actions click it as the mouse does, so the window's Click
// handler runs (toggling the state alone would leave the window out of step with it).
class ClickedButtonAccessible final : public QAccessibleWidget
{
public:
    ClickedButtonAccessible(QAbstractButton *button, QAccessible::Role role)
        : QAccessibleWidget(button, role)
    {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return button()->text().remove(u'&');
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = button()->isChecked();
        return s;
    }

    QStringList actionNames() const override
    {
        return widget()->isEnabled() ? QStringList{toggleAction(), setFocusAction()}
                                     : QStringList();
    }

    void doAction(const QString &name) override
    {
        if (!widget()->isEnabled())
            return;
        if (name == toggleAction() || name == pressAction()) {
            // Queued, like a click, so the reader has its answer before any handler runs.
            // (Dropped if the button goes first.)
            QAbstractButton *target = button();
            QMetaObject::invokeMethod(target, [target] { target->click(); },
                                      Qt::QueuedConnection);
        } else {
            QAccessibleWidget::doAction(name);
        }
    }

private:
    QAbstractButton *button() const { return static_cast<QAbstractButton *>(widget()); }
};

QAccessibleInterface *controlFactory(const QString &className, QObject *object)
{
    auto *widget = qobject_cast<QWidget *>(object);
    if (!widget)
        return nullptr;
    if (className == QLatin1String("rt::Form"))
        return new ContainerAccessible(widget, widget->isWindow() ? QAccessible::Window
                                                                  : QAccessible::Client);
    if (className == QLatin1String("rt::Frame"))
        return new ContainerAccessible(widget, QAccessible::Grouping);
    if (className == QLatin1String("rt::CheckBox"))
        return new ClickedButtonAccessible(static_cast<QAbstractButton *>(widget),
                                           QAccessible::CheckBox);
    if (className == QLatin1String("rt::OptionButton"))
        return new ClickedButtonAccessible(static_cast<QAbstractButton *>(widget),
                                           QAccessible::RadioButton);
    return nullptr;
}

} // namespace

void installAccessibleControls()
{
    static const bool installed = (QAccessible::installFactory(controlFactory), true);
    (void)installed;
}

} // namespace rt
