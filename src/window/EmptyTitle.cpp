#include "EmptyTitle.h"

#include <QGuiApplication>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace {
xcb_atom_t Atom(xcb_connection_t* connection, const char* name)
{
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, 0, uint16_t(strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}
}  // namespace

void ShowEmptyTitle(QWidget* window)
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !window->windowHandle()) {
        return;
    }
    xcb_connection_t* connection = x11->connection();
    const xcb_window_t id = xcb_window_t(window->winId());
    const xcb_atom_t utf8 = Atom(connection, "UTF8_STRING");
    for (const xcb_atom_t property : {Atom(connection, "_NET_WM_NAME"), xcb_atom_t(XCB_ATOM_WM_NAME)}) {
        if (property != XCB_ATOM_NONE) {
            xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, property,
                                property == XCB_ATOM_WM_NAME ? xcb_atom_t(XCB_ATOM_STRING) : utf8, 8, 0, "");
        }
    }
    xcb_flush(connection);
}
