#pragma once

class QWidget;

// Qt names a window without a title after the application on X11; this gives
// the shown top-level window an empty name (_NET_WM_NAME and WM_NAME) until
// its title is set again.
void ShowEmptyTitle(QWidget* window);
