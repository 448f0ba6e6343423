// The main window's settings: the context menu, the settings window and the kept settings.
#include "converter/window/desktopsignals.h"
#include "converter/window/form1.h"
#include "converter/window/form1parts.h"
#include "converter/window/form3.h"
#include "converter/window/savedsettings.h"
#include "converter/window/settingstext.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QShortcut>
#include <QTimer>

using form1parts::BitRatePrefix;
using form1parts::guarded;
using form1parts::OptBitRates;
using form1parts::showText;

namespace {

const QString SettingsAction = QStringLiteral("转换设置…");
const QString SettingsHint = QStringLiteral("更多转换设置（可变比特率、按标签命名等）：在窗口上"
                                            "单击右键，或按菜单键、Shift+F10、Ctrl+,");

} // namespace

void Form1::wireSettings()
{
    m_desktop = new DesktopSignals(this);
    Frame3()->setToolTip(SettingsHint);
    m_menu = new QMenu(this);
    m_menu->setAccessibleName(QStringLiteral("窗口菜单"));
    QAction *settings = m_menu->addAction(SettingsAction);
    settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    settings->setShortcutVisibleInContextMenu(true);
    // Opened once the menu's press has returned: a reader that pressed the item gets its answer
    // before the settings window's own loop begins.
    connect(settings, &QAction::triggered, this, guarded(this, [this] { ShowSettings(); }),
            Qt::QueuedConnection);
    auto *shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma), this);
    connect(shortcut, &QShortcut::activated, this, guarded(this, [this] { ShowSettings(); }));
    // A right click on the window's own surface, and the Menu key or Shift+F10 on any control;
    // a text box keeps its own editing menu for the mouse.
    installEventFilter(this);
    for (QWidget *child : findChildren<QWidget *>())
        if (child != m_menu)
            child->installEventFilter(this);
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget)
        return rt::Form::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress) {
        // Taken before the control sees them: a button that accepts every key would leave the
        // desktop no key to open a menu with.
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool menuKey = key->key() == Qt::Key_Menu ||
                             (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier);
        if (!menuKey)
            return false;
        showContextMenu(widget->mapToGlobal(widget->rect().center()));
        return true;
    }
    if (event->type() != QEvent::ContextMenu)
        return false;
    const auto *request = static_cast<QContextMenuEvent *>(event);
    if (request->reason() == QContextMenuEvent::Mouse && qobject_cast<QLineEdit *>(widget))
        return false; // a text box keeps its own editing menu for the mouse
    showContextMenu(request->reason() == QContextMenuEvent::Keyboard
                        ? widget->mapToGlobal(widget->rect().center())
                        : request->globalPos());
    return true;
}

void Form1::showContextMenu(const QPoint &at)
{
    m_menu->actions().first()->setEnabled(!batchRunning());
    m_menu->popup(at);
}

void Form1::ShowSettings()
{
    if (batchRunning())
        return;
    SettingsStart start;
    start.profile = m_engine->options();
    start.remembered = m_remembered;
    if (List2()->ListCount() > 0) {
        const QString first = List2()->List(0);
        start.firstFile = ParseFileName(first);
        start.firstTags = [this, first] { return m_engine->readTags(first); };
    }
    Form3 settings(start, m_registry, this);
    settings.showModal();
    if (!settings.chosen())
        return;
    const QList<SettingFailure> refused = ApplySettings(*settings.chosen());
    if (!refused.isEmpty())
        MsgBox(this, QStringLiteral("编码器不接受这个设置：") + refused.first().text(),
               MsgExclamation);
    const QString path = savedsettings::FilePath();
    const QString failure = settings.remember() ? savedsettings::Save(path, *settings.chosen())
                                                : savedsettings::Forget(path);
    m_remembered = settings.remember() && failure.isEmpty();
    if (!failure.isEmpty())
        MsgBox(this, QStringLiteral("设置未能保存：") + failure, MsgExclamation);
}

QList<SettingFailure> Form1::ApplySettings(const BatchOptions &chosen, bool showInStatus)
{
    BatchOptions profile = m_engine->options();
    profile.rate = chosen.rate;
    profile.pattern = chosen.pattern;
    profile.existing = chosen.existing;
    profile.replayGain = chosen.replayGain;
    const QList<SettingFailure> refused = m_engine->setOptions(profile);
    // One of the seven options shows a constant rate it has; any other quality none of them.
    int shown = -1;
    for (int k = 0; k < int(OptBitRates.size()); ++k)
        if (profile.rate.mode == Mp3Enc::ConstantRate &&
            profile.rate.bitRate == OptBitRates[size_t(k)])
            shown = k;
    for (int k = 0; k < int(OptBitRates.size()); ++k) {
        auto *option = need<rt::OptionButton>(QStringLiteral("Opt(%1)").arg(k));
        option->setAutoExclusive(false);
        option->setChecked(k == shown);
        option->setAutoExclusive(true);
    }
    if (showInStatus)
        showText(Text2(), shown >= 0 ? BitRatePrefix + QString::number(profile.rate.bitRate)
                                     : settingstext::QualityLine(profile.rate));
    return refused;
}

void Form1::loadSavedSettings(QStringList *failures)
{
    const savedsettings::Loaded kept =
        savedsettings::Load(savedsettings::FilePath(), m_engine->options());
    if (!kept.problem.isEmpty())
        failures->append(QStringLiteral("保存的转换设置：") + kept.problem);
    if (!kept.options)
        return;
    m_remembered = true;
    for (const SettingFailure &failure : ApplySettings(*kept.options, false))
        failures->append(failure.text());
}
