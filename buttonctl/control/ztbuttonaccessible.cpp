#include "buttonctl/control/ztbuttonaccessible.h"

#include "buttonctl/control/ztbutton.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace {

// What a screen reader sees of the button: a push button named by its caption (or by the name
// its host gave an icon-only one), with its own Enabled as its state and a press action.
class ZTbuttonAccessible final : public QAccessibleWidget
{
public:
    explicit ZTbuttonAccessible(ZTbutton *button) : QAccessibleWidget(button, QAccessible::Button)
    {}

    QString text(QAccessible::Text t) const override
    {
        if (t != QAccessible::Name)
            return QAccessibleWidget::text(t);
        const QString given = widget()->accessibleName();
        return given.isEmpty() ? button()->Caption().simplified() : given;
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        const bool enabled = button()->Enabled() && widget()->isEnabled();
        s.disabled = !enabled;
        s.focusable = enabled;
        s.focused = widget()->hasFocus(); // disabled, it still takes the focus
        s.pressed = button()->isPressed();
        return s;
    }

    QStringList actionNames() const override
    {
        return state().disabled ? QStringList() : QStringList{pressAction(), setFocusAction()};
    }

    void doAction(const QString &name) override
    {
        if (state().disabled)
            return;
        if (name == pressAction()) {
            // After the reader's request has been answered: a Click handler may open a modal
            // window, and the reader must not wait on it. (Dropped if the button goes first.)
            ZTbutton *target = button();
            QMetaObject::invokeMethod(
                target, [target] { target->pressLikeEnter(); }, Qt::QueuedConnection);
        } else {
            QAccessibleWidget::doAction(name);
        }
    }

private:
    ZTbutton *button() const { return static_cast<ZTbutton *>(widget()); }
};

QAccessibleInterface *accessibleButton(const QString &className, QObject *object)
{
    if (className == QLatin1String("ZTbutton") && object && object->isWidgetType())
        return new ZTbuttonAccessible(static_cast<ZTbutton *>(object));
    return nullptr;
}

} // namespace

void installButtonAccessibility()
{
    // Once per process; the library is never unloaded while the process runs.
    static const bool installed = (QAccessible::installFactory(accessibleButton), true);
    (void)installed;
}
