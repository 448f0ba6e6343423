#include "runtime/windowframe.h"

#include <QGuiApplication>
#include <QWidget>
#include <cstdlib>
#include <xcb/xcb.h>

namespace rt {

namespace {

// The Motif window manager hints, as window managers read them.
constexpr quint32 MwmHintsDecorations = 1u << 1;
constexpr quint32 MwmDecorBorder = 1u << 1;

struct MotifWmHints
{
    quint32 flags;
    quint32 functions;
    quint32 decorations;
    qint32 inputMode;
    quint32 status;
};

xcb_atom_t atom(xcb_connection_t *connection, const char *name)
{
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 0, uint16_t(qstrlen(name)), name);
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    free(reply);
    return result;
}

} // namespace

void applySizingBorderOnly(QWidget *window)
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!window || !x11 || !x11->connection())
        return;
    xcb_connection_t *connection = x11->connection();
    const auto id = xcb_window_t(window->winId());

    const xcb_atom_t motif = atom(connection, "_MOTIF_WM_HINTS");
    // The border alone: window managers read a resize handle or a title as "full frame". With no
    // functions given, every function (moving, resizing) stays allowed.
    const MotifWmHints hints{MwmHintsDecorations, 0, MwmDecorBorder, 0, 0};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, motif, motif, 32, 5, &hints);

    // Qt names a window without a title after the application: no caption means none at all.
    const xcb_atom_t utf8 = atom(connection, "UTF8_STRING");
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, atom(connection, "_NET_WM_NAME"),
                        utf8, 8, 0, "");
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        0, "");
    xcb_flush(connection);
}

} // namespace rt
