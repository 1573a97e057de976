#pragma once

#include <cstdint>

// Qt's X11 interface declares Xlib's Display type at global scope, which would
// clash with this class: that header is read here once, under another name.
// Include this header before any Qt GUI header.
#define Display QtXlibDisplay
#include <QtGui/qguiapplication_platform.h>
#undef Display

class QWindow;
class QOpenGLContext;

// The OpenGL view of the render panel: one double-buffered context on the
// panel's native window, made current once and kept current for the whole run.
class Display {
public:
    Display();

    bool CreateContext(QWindow* nativeWindow);
    bool ReleaseContext();
    void Resize(int w, int h);
    void Clear();
    void Swap();

    int width = 0;
    int height = 0;
    QWindow* window = nullptr;
    QOpenGLContext* renderContext = nullptr;
    uint8_t clearColor[4];
    // The alpha the background is cleared to: 0 for a picture whose
    // background is to be transparent.
    float clearAlpha = 1.0f;
};
