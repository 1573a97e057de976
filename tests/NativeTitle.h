#pragma once

#include <string>

class QWidget;

// The name the X server holds for the shown top-level window (_NET_WM_NAME),
// as the window manager reads it.
std::string NativeWindowName(QWidget* window);
