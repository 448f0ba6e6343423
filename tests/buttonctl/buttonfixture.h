#pragma once

#include "runtime/control.h"
#include "tests/support/testsupport.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

namespace buttontest {

inline constexpr char ProgId[] = "ZantoXP按扭.ZTbutton";

// Dispatch identifiers of the button's properties.
enum : rt::DispId
{
    CaptionAlignment = 0x6803000A,
    IconAlignment = 0x68030009,
    Caption = 0x68030008,
    ForeColor = 0x68030007,
    ColorStyle = 0x68030006,
    FocusDottedRect = 0x68030005,
    Enabled = 0x68030004,
    FontType = 0x68030003,
    IconMask = 0x68030002,
    Icon = 0x68030001,
    RoundedValue = 0x68030000,
};

enum : rt::DispId
{
    Click = 1,
    DoubleClick,
    KeyDown,
    KeyPress,
    KeyUp,
    MouseDown,
    MouseMove,
    MouseUp,
    MouseEnters,
    MouseLeaves,
};

struct Raised
{
    rt::DispId id;
    QVariantList args;
};

// The window hosting the button in a test: answers the ambient values, records what the
// button reports and may change by-reference arguments in its handler.
class TestSite : public rt::ControlSite
{
public:
    QString name = QStringLiteral("ZTbutton1");
    bool running = true;
    QStringList changes;
    QList<Raised> events;
    std::function<void(rt::DispId, QVariantList &)> handler;

    QString displayName() const override { return name; }
    bool userMode() const override { return running; }
    void propertyChanged(const QString &property) override { changes.append(property); }
    void fireEvent(rt::DispId id, QVariantList &args) override;

    // The identifiers raised, leaving out MouseMove unless asked for.
    QList<rt::DispId> ids(bool withMoves = false) const;
    int count(rt::DispId id) const;
    // The arguments of the last event `id` raised (empty when none was).
    QVariantList argsOf(rt::DispId id) const;
    void clear()
    {
        changes.clear();
        events.clear();
    }
};

// Registers the built library in the current (isolated) registry once per process.
bool registerButtonLibrary();
std::unique_ptr<rt::Control> createButton(TestSite &site);
// A new button (initialised as new) with the given pixel size.
std::unique_ptr<rt::Control> newButton(TestSite &site, int width, int height);
QImage surface(rt::Control &button);
// The button's hover check (its 50 ms timer, "tmrCheck"); null if it has none.
QTimer *hoverCheck(QWidget *button);
// Waits until the hover check has run `ticks` more times, so that it has seen where the cursor
// is now; false when it did not run within `timeout` ms.
bool waitForHoverChecks(QWidget *button, int ticks = 2, int timeout = 5000);
// 0x00BBGGRR of a pixel.
quint32 bgrAt(const QImage &image, int x, int y);
// True when each channel differs by at most `tolerance`.
bool near(quint32 a, quint32 b, int tolerance);
// The colour a top-to-bottom gradient of `height` rows has at row `y`.
quint32 lerp(quint32 top, quint32 bottom, int y, int height);

// What the button test classes share: an isolated registry, and one button created through it,
// hosted by a recording site in a test window of its own.
class HostedButtonTest : public QObject
{
protected:
    // The button goes before its window and its site, as a real host releases it.
    void release()
    {
        m_button.reset();
        m_window.reset();
        m_site.reset();
    }

    testsupport::IsolatedDataHome m_home;
    std::unique_ptr<QWidget> m_window;
    std::unique_ptr<TestSite> m_site;
    std::unique_ptr<rt::Control> m_button;
    QWidget *m_widget = nullptr;
};

} // namespace buttontest
