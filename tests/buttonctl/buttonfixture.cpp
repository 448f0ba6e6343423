#include "tests/buttonctl/buttonfixture.h"

#include "runtime/objectfactory.h"
#include "tests/support/testsupport.h"

#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <cstdlib>

namespace buttontest {

void TestSite::fireEvent(rt::DispId id, QVariantList &args)
{
    if (handler)
        handler(id, args);
    events.append({id, args});
}

QList<rt::DispId> TestSite::ids(bool withMoves) const
{
    QList<rt::DispId> result;
    for (const Raised &e : events) {
        if (withMoves || e.id != MouseMove)
            result.append(e.id);
    }
    return result;
}

int TestSite::count(rt::DispId id) const
{
    int n = 0;
    for (const Raised &e : events)
        n += e.id == id ? 1 : 0;
    return n;
}

QVariantList TestSite::argsOf(rt::DispId id) const
{
    for (auto it = events.crbegin(); it != events.crend(); ++it) {
        if (it->id == id)
            return it->args;
    }
    return {};
}

bool registerButtonLibrary()
{
    static bool done = testsupport::registerBuiltComponent(QStringLiteral("ZTbutton.ocx"));
    return done;
}

std::unique_ptr<rt::Control> createButton(TestSite &site)
{
    return rt::createObject(QString::fromUtf8(ProgId), &site);
}

std::unique_ptr<rt::Control> newButton(TestSite &site, int width, int height)
{
    auto button = createButton(site);
    button->widget()->resize(width, height);
    button->initNew();
    return button;
}

QImage surface(rt::Control &button)
{
    return button.widget()->property("surfaceImage").value<QImage>();
}

QTimer *hoverCheck(QWidget *button)
{
    return button->findChild<QTimer *>(QStringLiteral("tmrCheck"), Qt::FindDirectChildrenOnly);
}

bool waitForHoverChecks(QWidget *button, int ticks, int timeout)
{
    QTimer *timer = hoverCheck(button);
    if (!timer)
        return false;
    // Connected after the button's own handler: a tick counted here has been handled.
    QSignalSpy spy(timer, &QTimer::timeout);
    return QTest::qWaitFor([&] { return spy.count() >= ticks; }, timeout);
}

quint32 bgrAt(const QImage &image, int x, int y)
{
    const QRgb p = image.pixel(x, y);
    return quint32(qRed(p)) | (quint32(qGreen(p)) << 8) | (quint32(qBlue(p)) << 16);
}

bool near(quint32 a, quint32 b, int tolerance)
{
    for (int shift = 0; shift < 24; shift += 8) {
        if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > tolerance)
            return false;
    }
    return true;
}

quint32 lerp(quint32 top, quint32 bottom, int y, int height)
{
    quint32 result = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const double a = (top >> shift) & 0xFF, b = (bottom >> shift) & 0xFF;
        result |= quint32(a + (b - a) * y / height + 0.5) << shift;
    }
    return result;
}

} // namespace buttontest
