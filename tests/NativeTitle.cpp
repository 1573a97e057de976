#include "NativeTitle.h"

#include <QGuiApplication>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

std::string NativeWindowName(QWidget* window)
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11) {
        return "(not on X11)";
    }
    xcb_connection_t* connection = x11->connection();
    const char* name = "_NET_WM_NAME";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, uint16_t(std::strlen(name)), name), nullptr);
    if (!atom) {
        return "(no atom)";
    }
    xcb_get_property_reply_t* property = xcb_get_property_reply(
        connection,
        xcb_get_property(connection, 0, xcb_window_t(window->winId()), atom->atom, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024),
        nullptr);
    std::free(atom);
    if (!property) {
        return "(no property)";
    }
    const std::string value(static_cast<const char*>(xcb_get_property_value(property)),
                            size_t(xcb_get_property_value_length(property)));
    std::free(property);
    return value;
}
